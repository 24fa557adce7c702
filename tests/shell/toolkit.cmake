# Tests of the UI toolkit adapter; they run on the offscreen Qt platform.
if(TARGET TorvaneToolkit)
  add_executable(test_toolkit
    test_toolkit_main.cpp
    test_toolkit_grid.cpp
    test_toolkit_chart.cpp
    test_toolkit_controls.cpp
    test_toolkit_frame.cpp
  )
  target_link_libraries(test_toolkit PRIVATE TorvaneToolkit Qt6::Test GTest::gtest)
  include(GoogleTest)
  gtest_discover_tests(test_toolkit
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen
    DISCOVERY_TIMEOUT 60)
endif()
