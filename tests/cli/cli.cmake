# torvane-cli run as its own process against simulated drives on
# pseudo-terminals (test_cli, no display), and a backup it wrote loaded by
# the parameter view on the offscreen platform (test_cli_view).
if(TARGET torvane-cli AND TARGET DriveSimCore)
  include(GoogleTest)
  add_library(TorvaneCliTestUtil STATIC ${CMAKE_CURRENT_LIST_DIR}/CliTestUtil.cpp)
  target_include_directories(TorvaneCliTestUtil PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneCliTestUtil PUBLIC TorvaneCatalogue DriveSimCore GTest::gtest)
  target_compile_definitions(TorvaneCliTestUtil PUBLIC
    TORVANE_CLI_PATH="$<TARGET_FILE:torvane-cli>"
    TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/")
  add_dependencies(TorvaneCliTestUtil torvane-cli)
  if(TARGET TorvaneSampleData)
    add_dependencies(TorvaneCliTestUtil TorvaneSampleData)
  endif()

  add_executable(test_cli ${CMAKE_CURRENT_LIST_DIR}/test_cli.cpp)
  # The relay that joins several drives into one line.
  target_include_directories(test_cli PRIVATE ${CMAKE_SOURCE_DIR}/tests/regmaster)
  target_link_libraries(test_cli PRIVATE TorvaneCliTestUtil TorvaneNetTestUtil TorvaneParamsCore LinkCore
                        GTest::gtest_main)
  gtest_discover_tests(test_cli TEST_PREFIX cli. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)

  # flash, against drives whose memories are compared with the sample images.
  add_executable(test_cli_flash ${CMAKE_CURRENT_LIST_DIR}/test_cli_flash.cpp)
  target_link_libraries(test_cli_flash PRIVATE TorvaneCliTestUtil GTest::gtest_main)
  target_compile_definitions(test_cli_flash PRIVATE TORVANE_SAMPLEDATA_DIR="${TORVANE_SAMPLEDATA_DIR}")
  gtest_discover_tests(test_cli_flash TEST_PREFIX cli. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)

  # monitor and recover, read back with the history viewer's reader.
  if(TARGET TorvaneRealTimeCore)
    add_executable(test_cli_monitor ${CMAKE_CURRENT_LIST_DIR}/test_cli_monitor.cpp)
    target_link_libraries(test_cli_monitor PRIVATE TorvaneCliTestUtil TorvaneMonitorStore GTest::gtest_main)
    gtest_discover_tests(test_cli_monitor TEST_PREFIX cli. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)
  endif()

  if(TARGET TorvaneParams)
    add_executable(test_cli_view
      ${CMAKE_CURRENT_LIST_DIR}/test_cli_view.cpp
      ${CMAKE_SOURCE_DIR}/tests/params/ParamsTestSupport.cpp)
    target_include_directories(test_cli_view PRIVATE ${CMAKE_SOURCE_DIR}/tests/params)
    target_link_libraries(test_cli_view PRIVATE TorvaneCliTestUtil TorvaneParams Qt6::Test GTest::gtest)
    target_compile_definitions(test_cli_view PRIVATE TORVANE_PARAMS_TEST_DIR="${CMAKE_SOURCE_DIR}/tests/params")
    gtest_discover_tests(test_cli_view TEST_PREFIX cli. DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 180)
  endif()
endif()
