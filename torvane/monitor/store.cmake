# TorvaneMonitorStore: the sample store and the history workbooks (writer and
# reader). Plain C++, no Qt: the monitor views and the tests use it directly.
if(TARGET TorvaneCatalogue AND TARGET LinkCore)
  add_library(TorvaneMonitorStore STATIC
    ${CMAKE_CURRENT_LIST_DIR}/MonitorBuffer.h
    ${CMAKE_CURRENT_LIST_DIR}/MonitorBuffer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistoryFile.h
    ${CMAKE_CURRENT_LIST_DIR}/HistoryFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistoryText.h
    ${CMAKE_CURRENT_LIST_DIR}/HistoryText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RecordingJournal.h
    ${CMAKE_CURRENT_LIST_DIR}/RecordingJournal.cpp
  )
  set_target_properties(TorvaneMonitorStore PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_include_directories(TorvaneMonitorStore PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneMonitorStore PUBLIC TorvaneCatalogue TorvaneWorkbook
                        PRIVATE LinkCore Threads::Threads ZLIB::ZLIB)
endif()
