# The download view and its mode switching against the simulated drive on
# pseudo-terminals (offscreen Qt). The test runs in the program folder, where
# LinkCore finds the plug-ins, and reads the sample package built there.
if(TARGET TorvaneDownloadView AND TARGET TorvaneLinkTestUtil)
  include(GoogleTest)
  add_executable(test_program_view
    ${CMAKE_CURRENT_LIST_DIR}/test_program_view_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ProgramViewTestUtil.h
    ${CMAKE_CURRENT_LIST_DIR}/test_mode_switch.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_program_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_download_faults.cpp
  )
  target_link_libraries(test_program_view PRIVATE TorvaneDownloadView TorvaneLinkTestUtil TorvaneWorkbook Qt6::Test)
  # The Modbus TCP gateway of the mode-switch test.
  if(TARGET PkgConfig::MODBUS)
    target_include_directories(test_program_view PRIVATE ${CMAKE_SOURCE_DIR}/tests/net)
    target_link_libraries(test_program_view PRIVATE TorvaneNetTestUtil PkgConfig::MODBUS)
    target_compile_definitions(test_program_view PRIVATE TORVANE_TEST_MODBUS_GATEWAY=1)
  endif()
  # Whole sessions, also inside the main window.
  if(TARGET TorvaneShell)
    target_sources(test_program_view PRIVATE ${CMAKE_CURRENT_LIST_DIR}/test_download_session.cpp)
    target_link_libraries(test_program_view PRIVATE TorvaneShell)
  endif()
  set_target_properties(test_program_view PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR})
  target_compile_definitions(test_program_view PRIVATE
    TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/"
    TORVANE_SAMPLEDATA_DIR="${TORVANE_SAMPLEDATA_DIR}")
  if(TARGET TorvaneSampleData)
    add_dependencies(test_program_view TorvaneSampleData)
  endif()
  gtest_discover_tests(test_program_view DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 200)
endif()
