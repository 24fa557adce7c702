# The program: the application object and its main window, linked with every
# subsystem library that exists. The plug-ins are linked for their request
# calls and are loaded again by name by LinkCore (the same library file).
if(TARGET TorvaneLinkUi)
  add_executable(Torvane ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
  set_target_properties(Torvane PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR}
    OUTPUT_NAME Torvane)
  target_link_libraries(Torvane PRIVATE TorvaneLinkUi)
  # The sample data set and the system configuration are defined by data/,
  # which is read after this folder: the dependencies are added once the
  # whole tree is read.
  function(_torvane_program_needs_data)
    if(TARGET TorvaneSampleData)
      add_dependencies(Torvane TorvaneSampleData)
    endif()
    if(TARGET TorvaneProgramTree)
      add_dependencies(Torvane TorvaneProgramTree)
    endif()
  endfunction()
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _torvane_program_needs_data)
endif()
# The shell's main frame takes the place of the plain main window once the
# shell provides it: a library TorvaneShell whose header MainFrameFactory.h
# declares std::unique_ptr<CMainWindowHost> CreateShellMainWindow(CTorvaneApp&).
if(TARGET Torvane AND TARGET TorvaneShell)
  target_link_libraries(Torvane PRIVATE TorvaneShell)
  target_compile_definitions(Torvane PRIVATE TORVANE_SHELL_MAINFRAME=1)
endif()
# The sample store of the monitors, created at program start.
if(TARGET Torvane AND TARGET TorvaneMonitorStore)
  target_link_libraries(Torvane PRIVATE TorvaneMonitorStore)
  target_compile_definitions(Torvane PRIVATE TORVANE_MONITOR_STORE=1)
endif()
