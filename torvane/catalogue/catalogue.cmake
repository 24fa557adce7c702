# TorvaneCatalogue: parameter tables, language tables, the device-tree and
# model catalogues, the INI file access and the program folder. Plain C++, no Qt.
add_library(TorvaneCatalogue STATIC
  ${CMAKE_CURRENT_LIST_DIR}/WideText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PrivateProfile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgramFolder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SheetCells.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ParamTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LanguageTables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceCatalogue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ParamSearch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ModelCatalogue.cpp
)
set_target_properties(TorvaneCatalogue PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(TorvaneCatalogue PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_features(TorvaneCatalogue PUBLIC cxx_std_17)
# The workbook layer comes from workbook.cmake in this folder, which may be
# read after this file: the name is resolved when the build is generated.
target_link_libraries(TorvaneCatalogue PUBLIC TorvaneWorkbook LinkCore)
