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
  ${CMAKE_CURRENT_LIST_DIR}/ModelCatalogue.cpp
)
set_target_properties(TorvaneCatalogue PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(TorvaneCatalogue PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_features(TorvaneCatalogue PUBLIC cxx_std_17)
if(TARGET TorvaneWorkbook)
  target_link_libraries(TorvaneCatalogue PUBLIC TorvaneWorkbook)
else()
  # The workbook layer is added by workbook.cmake; until it exists the
  # library still compiles against Workbook.h.
  message(STATUS "TorvaneCatalogue: TorvaneWorkbook not defined yet")
endif()
