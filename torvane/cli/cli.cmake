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
endif()
