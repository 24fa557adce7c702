# Device-link tests: settings, register access, batch loop and connections
# against the drive simulator on pseudo-terminals (test_link_core, no
# display), and the application object, view base, progress dialog and
# serial settings dialog on the offscreen Qt platform (test_link_ui).
if(TARGET TorvaneLink AND TARGET DriveSimCore)
  include(GoogleTest)
  add_library(TorvaneLinkTestUtil STATIC ${CMAKE_CURRENT_LIST_DIR}/LinkTestUtil.cpp)
  target_include_directories(TorvaneLinkTestUtil PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneLinkTestUtil PUBLIC TorvaneLink DriveSimCore GTest::gtest)

  add_executable(test_link_core
    ${CMAKE_CURRENT_LIST_DIR}/test_link_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_settings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_register_access.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_connection.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_fastlink.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_late_replies.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_link_health.cpp
  )
  target_link_libraries(test_link_core PRIVATE TorvaneLinkTestUtil)
  # Beside the plug-ins, which LinkCore loads from the program's folder.
  set_target_properties(test_link_core PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR})
  gtest_discover_tests(test_link_core DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS threads)

  if(TARGET TorvaneLinkUi)
    add_executable(test_link_ui
      ${CMAKE_CURRENT_LIST_DIR}/test_link_ui_main.cpp
      ${CMAKE_CURRENT_LIST_DIR}/test_comset.cpp
      ${CMAKE_CURRENT_LIST_DIR}/test_views.cpp
      ${CMAKE_CURRENT_LIST_DIR}/test_app.cpp
    )
    target_link_libraries(test_link_ui PRIVATE TorvaneLinkTestUtil TorvaneLinkUi Qt6::Test)
    set_target_properties(test_link_ui PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR})
    # The language test reads the sample data set of the program folder.
    target_compile_definitions(test_link_ui PRIVATE TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/")
    if(TARGET TorvaneSampleData)
      add_dependencies(test_link_ui TorvaneSampleData)
    endif()
    if(TARGET TorvaneProgramTree)
      add_dependencies(test_link_ui TorvaneProgramTree)
    endif()
    gtest_discover_tests(test_link_ui DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)

    # A first run from a program folder laid out as the build lays it out;
    # its own process, since it moves the working directory and standard
    # error.
    add_executable(test_first_run ${CMAKE_CURRENT_LIST_DIR}/test_first_run.cpp)
    target_link_libraries(test_first_run PRIVATE TorvaneLinkTestUtil TorvaneLinkUi)
    set_target_properties(test_first_run PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR})
    target_compile_definitions(test_first_run PRIVATE TORVANE_SYSTEM_CONFIG="${TORVANE_SYSTEM_CONFIG}")
    if(TARGET TorvaneProgramTree)
      add_dependencies(test_first_run TorvaneProgramTree)
    endif()
    gtest_discover_tests(test_first_run DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
  endif()
endif()
