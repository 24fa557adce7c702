# Tests of the main window: tree, views, commands, language, layout file and
# font settings, on the offscreen Qt platform. They write their own small
# program folder (language files and parameter workbooks) through the
# workbook layer.
if(TARGET TorvaneShell AND TARGET TorvaneWorkbook)
  add_executable(test_mainframe
    ${CMAKE_CURRENT_LIST_DIR}/test_mainframe_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_mainframe_util.h
    ${CMAKE_CURRENT_LIST_DIR}/test_mainframe_tree.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_mainframe_commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_mainframe_layout.cpp
  )
  target_link_libraries(test_mainframe PRIVATE TorvaneShell TorvaneWorkbook Qt6::Test GTest::gtest)
  include(GoogleTest)
  gtest_discover_tests(test_mainframe
    TEST_PREFIX mainframe.
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen
    DISCOVERY_TIMEOUT 60)
endif()
