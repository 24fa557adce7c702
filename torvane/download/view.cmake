# The download view (dialog 150) with its prompts: package chooser, series
# and power lists, the checks, the mode switches and the download buttons.
if(TARGET TorvaneModeSwitch AND TARGET TorvaneLinkUi AND TARGET TorvaneProgress)
  add_library(TorvaneDownloadView STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ProgramPrompts.h
    ${CMAKE_CURRENT_LIST_DIR}/ProgramPrompts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DlgProgram.h
    ${CMAKE_CURRENT_LIST_DIR}/DlgProgram.cpp
  )
  set_target_properties(TorvaneDownloadView PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneDownloadView PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneDownloadView PUBLIC TorvaneModeSwitch TorvaneDownloadCore TorvaneLinkUi TorvaneProgress
                        TorvaneToolkit Qt6::Widgets)
endif()
