# Device link: the connection settings, the two protocol links, connecting
# in normal or boot mode, register addressing and conversion, the batch loop
# and the views' worker threads. TorvaneLink is plain C++ (no Qt) so the
# tests drive it without a display; TorvaneLinkUi adds the application
# object, the view base CDataDlg and the plain main window.
if(TARGET LinkCore AND TARGET RegMaster AND TARGET BlockPump AND TARGET TorvaneCatalogue)
  add_library(TorvaneLink STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ConnectionSettings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ProtocolLink.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DevicePlugins.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DeviceConnection.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegisterAccess.cpp
    ${CMAKE_CURRENT_LIST_DIR}/BatchLoop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LinkHealth.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WorkerSlots.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DriveIdentity.cpp
  )
  target_include_directories(TorvaneLink PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneLink PUBLIC LinkCore RegMaster BlockPump TorvaneCatalogue
                        PkgConfig::ACE Threads::Threads)

  # The toolkit adapter (shell/) is read after this folder.
  if(TARGET Qt6::Widgets)
    add_library(TorvaneLinkUi STATIC
      ${CMAKE_CURRENT_LIST_DIR}/TorvaneApp.h
      ${CMAKE_CURRENT_LIST_DIR}/TorvaneApp.cpp
      ${CMAKE_CURRENT_LIST_DIR}/DataDlg.h
      ${CMAKE_CURRENT_LIST_DIR}/DataDlg.cpp
      ${CMAKE_CURRENT_LIST_DIR}/FontSettings.h
      ${CMAKE_CURRENT_LIST_DIR}/FontSettings.cpp
      ${CMAKE_CURRENT_LIST_DIR}/LinkMainWindow.h
      ${CMAKE_CURRENT_LIST_DIR}/LinkMainWindow.cpp
    )
    set_target_properties(TorvaneLinkUi PROPERTIES AUTOMOC ON)
    target_include_directories(TorvaneLinkUi PUBLIC ${CMAKE_CURRENT_LIST_DIR})
    # The progress dialog (download/) and the serial settings dialog (shell/)
    # are defined by their own folders, which are read after this one.
    target_link_libraries(TorvaneLinkUi PUBLIC TorvaneLink TorvaneToolkit Qt6::Widgets
                          TorvaneProgress TorvaneComSet)
  endif()
endif()
