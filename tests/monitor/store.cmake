# Tests of the sample store and the history workbooks (TorvaneMonitorStore).
# The writer's files are also read by Debian's /usr/bin/python3 with xlrd,
# through the workbook tests' helper script. The concurrency case runs many
# iterations. Plain C++: the ThreadSanitizer stage of scripts/checks.sh runs
# it (label "threads").
if(TARGET TorvaneMonitorStore)
  include(GoogleTest)
  add_executable(test_monitor_store
    ${CMAKE_CURRENT_LIST_DIR}/MonitorTestUtil.h
    ${CMAKE_CURRENT_LIST_DIR}/test_monitor_buffer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_history_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_recording_journal.cpp
  )
  target_include_directories(test_monitor_store PRIVATE ${CMAKE_SOURCE_DIR}/tests/catalogue)
  target_link_libraries(test_monitor_store PRIVATE TorvaneMonitorStore TorvaneWorkbook LinkCore GTest::gtest_main
                        Threads::Threads)
  target_compile_definitions(test_monitor_store PRIVATE
    WORKBOOK_XLRD_SCRIPT="${CMAKE_SOURCE_DIR}/tests/catalogue/workbook_xlrd.py")
  gtest_discover_tests(test_monitor_store DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 300 LABELS threads)
endif()
