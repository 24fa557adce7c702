# Tests of the real-time monitor: its logic against the drive simulator on a
# pseudo-terminal (test_rtline), offscreen Qt; each test process works in its
# own temporary directory.
if(TARGET TorvaneRealTimeCore AND TARGET TorvaneParams AND TARGET DriveSimCore)
  set(_rtline_sources
    ${CMAKE_CURRENT_LIST_DIR}/../params/test_params_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../params/ParamsTestSupport.h
    ${CMAKE_CURRENT_LIST_DIR}/../params/ParamsTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MonitorTestSupport.h
    ${CMAKE_CURRENT_LIST_DIR}/test_rtline_core.cpp
  )
  if(TARGET TorvaneRealTime)
    list(APPEND _rtline_sources ${CMAKE_CURRENT_LIST_DIR}/test_rtline_view.cpp)
  endif()
  add_executable(test_rtline ${_rtline_sources})
  target_include_directories(test_rtline PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../params)
  target_link_libraries(test_rtline PRIVATE TorvaneRealTimeCore TorvaneParams DriveSimCore Qt6::Test GTest::gtest)
  target_compile_definitions(test_rtline PRIVATE
    TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/"
    TORVANE_PARAMS_TEST_DIR="${CMAKE_SOURCE_DIR}/tests/params")
  if(TARGET TorvaneRealTime)
    target_link_libraries(test_rtline PRIVATE TorvaneRealTime)
  endif()
  if(TARGET TorvaneSampleData)
    add_dependencies(test_rtline TorvaneSampleData)
  endif()
  include(GoogleTest)
  gtest_discover_tests(test_rtline
    TEST_PREFIX rtline.
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120
    DISCOVERY_TIMEOUT 60)
endif()
