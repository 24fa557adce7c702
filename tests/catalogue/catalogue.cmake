# Tests of the catalogue logic (TorvaneCatalogue). They write their own small
# workbooks through the workbook layer, so they need TorvaneWorkbook as well.
if(TARGET TorvaneCatalogue AND TARGET TorvaneWorkbook)
  include(GoogleTest)
  add_executable(test_catalogue_tables
    ${CMAKE_CURRENT_LIST_DIR}/test_profile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_param_table.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_language_tables.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_devicetree.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_model_catalogue.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_param_sample.cpp
  )
  target_link_libraries(test_catalogue_tables PRIVATE TorvaneCatalogue TorvaneWorkbook GTest::gtest_main)
  # The sample data set lands in the program folder; the test skips itself
  # when it is not there.
  target_compile_definitions(test_catalogue_tables PRIVATE
    TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/")
  if(TARGET TorvaneSampleData)
    add_dependencies(test_catalogue_tables TorvaneSampleData)
  endif()
  gtest_discover_tests(test_catalogue_tables DISCOVERY_TIMEOUT 30)
endif()
