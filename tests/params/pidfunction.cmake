# Tests of the function view: the function list and workbooks without a
# drive, and the view's read, write and debug loop against the drive
# simulator on a pseudo-terminal. Offscreen Qt platform, own temporary
# working directory per process.
if(TARGET TorvaneFunctionView AND TARGET DriveSimCore)
  add_executable(test_pidfunction
    ${CMAKE_CURRENT_LIST_DIR}/test_params_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ParamsTestSupport.h
    ${CMAKE_CURRENT_LIST_DIR}/ParamsTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_pidfunction.cpp
  )
  target_link_libraries(test_pidfunction PRIVATE TorvaneFunctionView DriveSimCore Qt6::Test GTest::gtest)
  target_compile_definitions(test_pidfunction PRIVATE
    TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/"
    TORVANE_PARAMS_TEST_DIR="${CMAKE_CURRENT_LIST_DIR}")
  if(TARGET TorvaneSampleData)
    add_dependencies(test_pidfunction TorvaneSampleData)
  endif()
  include(GoogleTest)
  gtest_discover_tests(test_pidfunction
    TEST_PREFIX pidfunction.
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120
    DISCOVERY_TIMEOUT 60)
endif()
