# Tests of the history viewer (offscreen Qt): recordings written by the store's
# writer and by xlwt load, refusals leave the view alone, the chart follows
# the options, and the CSV export is read back by Python's csv module.
if(TARGET TorvaneHistoryView)
  add_executable(test_history_view
    ${CMAKE_CURRENT_LIST_DIR}/test_history_view.cpp
  )
  target_include_directories(test_history_view PRIVATE ${CMAKE_SOURCE_DIR}/tests/catalogue)
  target_link_libraries(test_history_view PRIVATE TorvaneHistoryView TorvaneWorkbook Qt6::Test GTest::gtest)
  target_compile_definitions(test_history_view PRIVATE
    WORKBOOK_XLRD_SCRIPT="${CMAKE_SOURCE_DIR}/tests/catalogue/workbook_xlrd.py")
  include(GoogleTest)
  gtest_discover_tests(test_history_view
    TEST_PREFIX history.
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120
    DISCOVERY_TIMEOUT 60)
endif()
