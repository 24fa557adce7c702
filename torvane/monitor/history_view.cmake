# TorvaneHistoryView: the history viewer (CDialogHisLine) over the sample
# store, the view base and the toolkit's chart and grid. The toolkit and the
# view base are defined by folders read before or after this one: the names
# are resolved when the build is generated.
# The store comes from store.cmake in this folder, read after this file.
if(TARGET TorvaneLinkUi AND TARGET LinkCore AND TARGET TorvaneCatalogue)
  add_library(TorvaneHistoryView STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DialogHisLine.h
    ${CMAKE_CURRENT_LIST_DIR}/DialogHisLine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MonitorCaptions.h
  )
  set_target_properties(TorvaneHistoryView PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneHistoryView PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneHistoryView PUBLIC TorvaneMonitorStore TorvaneLinkUi TorvaneToolkit
                        Qt6::Widgets Qt6::Charts)
endif()
