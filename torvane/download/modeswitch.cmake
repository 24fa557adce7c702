# Checking a drive against a program package and switching it between its
# application and its bootloader: plain C++ (no widgets) on the device link,
# so the tests drive it without a display.
if(TARGET TorvaneDownloadCore)
  add_library(TorvaneModeSwitch STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ModeSwitch.h
    ${CMAKE_CURRENT_LIST_DIR}/ModeSwitch.cpp
  )
  target_include_directories(TorvaneModeSwitch PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneModeSwitch PUBLIC TorvaneDownloadCore TorvaneLink TorvaneCatalogue)
endif()
