# torvane-cli: the command-line program for the drive's parameters, built
# into the program folder beside the program. Plain C++ on the program's
# logic libraries: no Qt.
if(TARGET TorvaneParamsCore AND TARGET TorvaneLink)
  add_executable(torvane-cli
    ${CMAKE_CURRENT_LIST_DIR}/CliMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CliOutput.h
    ${CMAKE_CURRENT_LIST_DIR}/CliOutput.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CliPorts.h
    ${CMAKE_CURRENT_LIST_DIR}/CliPorts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CliSession.h
    ${CMAKE_CURRENT_LIST_DIR}/CliSession.cpp
  )
  set_target_properties(torvane-cli PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR})
  target_link_libraries(torvane-cli PRIVATE TorvaneParamsCore TorvaneLink)
  # monitor and recover: the real-time monitor's sampler and the sample store.
  if(TARGET TorvaneRealTimeCore)
    target_sources(torvane-cli PRIVATE ${CMAKE_CURRENT_LIST_DIR}/CliMonitor.h ${CMAKE_CURRENT_LIST_DIR}/CliMonitor.cpp)
    target_link_libraries(torvane-cli PRIVATE TorvaneRealTimeCore)
    target_compile_definitions(torvane-cli PRIVATE TORVANE_CLI_MONITOR=1)
  endif()
  # flash: the download view's package, check, mode-switch and sequence classes.
  if(TARGET TorvaneModeSwitch)
    target_sources(torvane-cli PRIVATE ${CMAKE_CURRENT_LIST_DIR}/CliFlash.h ${CMAKE_CURRENT_LIST_DIR}/CliFlash.cpp)
    target_link_libraries(torvane-cli PRIVATE TorvaneModeSwitch)
    target_compile_definitions(torvane-cli PRIVATE TORVANE_CLI_FLASH=1)
  endif()
endif()
