# The main window: command bars, status bar, the device tree pane, the view
# area, the layout file and the font settings. TorvaneShell is what the
# program links to put this window in place of the plain one.
if(TARGET TorvaneLinkUi AND TARGET Qt6::Widgets)
  add_library(TorvaneShell STATIC
    ${CMAKE_CURRENT_LIST_DIR}/MainFrameCommands.h
    ${CMAKE_CURRENT_LIST_DIR}/MainFrameCommands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ViewFactory.h
    ${CMAKE_CURRENT_LIST_DIR}/ViewFactory.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LayoutFile.h
    ${CMAKE_CURRENT_LIST_DIR}/LayoutFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DeviceViewPane.h
    ${CMAKE_CURRENT_LIST_DIR}/DeviceViewPane.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TorvaneView.h
    ${CMAKE_CURRENT_LIST_DIR}/TorvaneView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CustomizeDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/CustomizeDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FontComboDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/FontComboDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFrame.h
    ${CMAKE_CURRENT_LIST_DIR}/MainFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ShellViews.h
    ${CMAKE_CURRENT_LIST_DIR}/ShellViews.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFrameFactory.h
    ${CMAKE_CURRENT_LIST_DIR}/MainFrameFactory.cpp
  )
  set_target_properties(TorvaneShell PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneShell PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneShell PUBLIC TorvaneLinkUi TorvaneToolkit TorvaneCatalogue Qt6::Widgets)
  # The views of the other folders, as far as this build has them (those
  # folders are read before this one).
  if(TARGET TorvaneParams)
    target_link_libraries(TorvaneShell PUBLIC TorvaneParams)
    target_compile_definitions(TorvaneShell PRIVATE TORVANE_SHELL_HAVE_PARAMS=1)
  endif()
  if(TARGET TorvaneFunctionView)
    target_link_libraries(TorvaneShell PUBLIC TorvaneFunctionView)
    target_compile_definitions(TorvaneShell PRIVATE TORVANE_SHELL_HAVE_FUNCTION=1)
  endif()
  if(TARGET TorvaneDownload)
    target_link_libraries(TorvaneShell PUBLIC TorvaneDownload)
    target_compile_definitions(TorvaneShell PRIVATE TORVANE_SHELL_HAVE_DOWNLOAD=1)
  endif()
  if(TARGET TorvaneDownloadView)
    target_link_libraries(TorvaneShell PUBLIC TorvaneDownloadView)
    target_compile_definitions(TorvaneShell PRIVATE TORVANE_SHELL_HAVE_PROGRAM_VIEW=1)
  endif()
  if(TARGET TorvaneRealTime)
    target_link_libraries(TorvaneShell PUBLIC TorvaneRealTime)
    target_compile_definitions(TorvaneShell PRIVATE TORVANE_SHELL_HAVE_MONITOR=1)
  endif()
  if(TARGET TorvaneHistoryView)
    target_link_libraries(TorvaneShell PUBLIC TorvaneHistoryView)
    target_compile_definitions(TorvaneShell PRIVATE TORVANE_SHELL_HAVE_HISTORY=1)
  endif()
endif()
