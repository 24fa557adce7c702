# The fault matrix: the parameter read and write batches, a monitor log and a
# download, each against every line fault of the drive simulator on a
# pseudo-terminal. One ctest test per cell, so they run in parallel; the
# table of outcomes (fault-matrix.md in the build folder) is written by a
# last test once the cells have run.
if(TARGET TorvaneParamsCore AND TARGET TorvaneRealTimeCore AND TARGET TorvaneDownloadCore
   AND TARGET TorvaneLinkTestUtil)
  include(GoogleTest)
  add_executable(test_fault_matrix
    ${CMAKE_CURRENT_LIST_DIR}/test_fault_matrix_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FaultMatrix.h
    ${CMAKE_CURRENT_LIST_DIR}/FaultMatrix.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_fault_matrix.cpp
    ${CMAKE_SOURCE_DIR}/tests/download/DownloadTestUtil.h
    ${CMAKE_SOURCE_DIR}/tests/download/DownloadTestUtil.cpp
  )
  target_include_directories(test_fault_matrix PRIVATE ${CMAKE_SOURCE_DIR}/tests/download)
  target_link_libraries(test_fault_matrix PRIVATE TorvaneParamsCore TorvaneRealTimeCore TorvaneDownloadCore
                        TorvaneLinkTestUtil PkgConfig::MINIZIP ZLIB::ZLIB)
  # Beside the plug-ins, which LinkCore loads from the program's folder.
  set_target_properties(test_fault_matrix PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR})
  target_compile_definitions(test_fault_matrix PRIVATE
    TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/"
    TORVANE_SAMPLEDATA_DIR="${TORVANE_SAMPLEDATA_DIR}"
    TORVANE_FAULT_MATRIX_DIR="${CMAKE_BINARY_DIR}/fault-matrix"
    TORVANE_FAULT_MATRIX_TABLE="${CMAKE_BINARY_DIR}/fault-matrix.md")
  gtest_discover_tests(test_fault_matrix TEST_PREFIX faults. DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 FIXTURES_SETUP fault_cells LABELS threads)
  add_test(NAME faults.table COMMAND test_fault_matrix --table)
  set_tests_properties(faults.table PROPERTIES FIXTURES_REQUIRED fault_cells LABELS threads)
endif()
