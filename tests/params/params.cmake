# Tests of the parameter editing views: the input dialogs, the view rules and
# value files without a drive, and the views against the drive simulator on
# a pseudo-terminal. Offscreen Qt platform; each test process works in its
# own temporary directory (the link library writes logs below it).
if(TARGET TorvaneParams AND TARGET DriveSimCore)
  add_executable(test_params
    ${CMAKE_CURRENT_LIST_DIR}/test_params_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ParamsTestSupport.h
    ${CMAKE_CURRENT_LIST_DIR}/ParamsTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_input_dialogs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_param_logic.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_param_views.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_link_stop.cpp
  )
  target_link_libraries(test_params PRIVATE TorvaneParams DriveSimCore Qt6::Test GTest::gtest)
  target_compile_definitions(test_params PRIVATE
    TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/"
    TORVANE_PARAMS_TEST_DIR="${CMAKE_CURRENT_LIST_DIR}")
  if(TARGET TorvaneSampleData)
    add_dependencies(test_params TorvaneSampleData)
  endif()
  include(GoogleTest)
  gtest_discover_tests(test_params
    TEST_PREFIX params.
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120
    DISCOVERY_TIMEOUT 60)
endif()
