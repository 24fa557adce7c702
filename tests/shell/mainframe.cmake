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
    ${CMAKE_CURRENT_LIST_DIR}/test_mainframe_views.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_mainframe_busy.cpp
  )
  # The sample data set (when built) for the tree of the sample table.
  target_compile_definitions(test_mainframe PRIVATE TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/")
  if(TARGET TorvaneSampleData)
    add_dependencies(test_mainframe TorvaneSampleData)
  endif()
  if(TARGET TorvaneParams)
    target_compile_definitions(test_mainframe PRIVATE TEST_HAVE_PARAMS=1)
  endif()
  # The shell with the views and the sample data set: captions in both
  # languages, windows of 800 x 600, the parameter search.
  if(TARGET TorvaneParams AND TARGET TorvaneDownloadView AND TARGET TorvaneSampleData)
    target_sources(test_mainframe PRIVATE ${CMAKE_CURRENT_LIST_DIR}/test_mainframe_small.cpp)
  endif()
  if(TARGET TorvaneRealTime)
    target_compile_definitions(test_mainframe PRIVATE TEST_HAVE_MONITOR=1)
  endif()
  # The function menu and the function view it opens, when both are built.
  if(TARGET TorvaneFunctionView)
    target_sources(test_mainframe PRIVATE ${CMAKE_CURRENT_LIST_DIR}/test_mainframe_function.cpp)
    target_compile_definitions(test_mainframe PRIVATE TEST_HAVE_FUNCTION=1)
  endif()
  target_link_libraries(test_mainframe PRIVATE TorvaneShell TorvaneWorkbook Qt6::Test GTest::gtest)
  # Connect and Disconnect against the simulated drive, when it is built;
  # the plug-ins are loaded from the program folder, where the test runs.
  if(TARGET DriveSimCore AND TARGET RegMaster)
    target_sources(test_mainframe PRIVATE ${CMAKE_CURRENT_LIST_DIR}/test_mainframe_link.cpp)
    target_link_libraries(test_mainframe PRIVATE DriveSimCore)
    add_dependencies(test_mainframe RegMaster)
    if(TARGET BlockPump)
      add_dependencies(test_mainframe BlockPump)
    endif()
  endif()
  set_target_properties(test_mainframe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR})
  include(GoogleTest)
  gtest_discover_tests(test_mainframe
    TEST_PREFIX mainframe.
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120
    DISCOVERY_TIMEOUT 60)
endif()
