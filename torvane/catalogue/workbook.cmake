# TorvaneWorkbook: the .xls workbook layer (Workbook.h). Reads
# through FreeXL, writes through our own BIFF8 writer. No Qt.
add_library(TorvaneWorkbook STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Workbook.h
  ${CMAKE_CURRENT_LIST_DIR}/Workbook.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Biff8.h
  ${CMAKE_CURRENT_LIST_DIR}/Biff8.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CompoundFile.h
  ${CMAKE_CURRENT_LIST_DIR}/CompoundFile.cpp)
set_target_properties(TorvaneWorkbook PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(TorvaneWorkbook PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(TorvaneWorkbook PRIVATE PkgConfig::FREEXL)
