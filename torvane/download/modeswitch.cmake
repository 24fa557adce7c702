# Checking a drive against a program package and switching it between its
# application and its bootloader: plain C++ (no widgets) on the device link,
# so the tests drive it without a display. The boot request's default values
# are shared with the drive simulator (tools/drivesim/BootRequestDefaults.h).
if(TARGET TorvaneDownloadCore)
  add_library(TorvaneModeSwitch STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ModeSwitch.h
    ${CMAKE_CURRENT_LIST_DIR}/ModeSwitch.cpp
  )
  target_include_directories(TorvaneModeSwitch PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_include_directories(TorvaneModeSwitch PRIVATE ${CMAKE_SOURCE_DIR}/tools/drivesim)
  target_link_libraries(TorvaneModeSwitch PUBLIC TorvaneDownloadCore TorvaneLink TorvaneCatalogue)
endif()
