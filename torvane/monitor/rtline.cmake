# The real-time monitor. TorvaneRealTimeCore is the part without widgets
# (interval list, drive control registers, the sampling loop) that the tests
# drive directly; TorvaneRealTime adds the view, which draws from the sample
# store (TorvaneMonitorStore, defined beside this file).
if(TARGET TorvaneLink)
  add_library(TorvaneRealTimeCore STATIC
    ${CMAKE_CURRENT_LIST_DIR}/MonitorIntervals.h
    ${CMAKE_CURRENT_LIST_DIR}/MonitorIntervals.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DriveControl.h
    ${CMAKE_CURRENT_LIST_DIR}/DriveControl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RealTimeSampler.h
    ${CMAKE_CURRENT_LIST_DIR}/RealTimeSampler.cpp
  )
  target_include_directories(TorvaneRealTimeCore PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneRealTimeCore PUBLIC TorvaneLink TorvaneMonitorStore)
endif()

if(TARGET TorvaneRealTimeCore AND TARGET TorvaneParams)
  add_library(TorvaneRealTime STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DialogRTLine.h
    ${CMAKE_CURRENT_LIST_DIR}/DialogRTLine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MonitorCaptions.h
    ${CMAKE_CURRENT_LIST_DIR}/RecordingGuard.h
    ${CMAKE_CURRENT_LIST_DIR}/RecordingGuard.cpp
  )
  set_target_properties(TorvaneRealTime PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneRealTime PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneRealTime PUBLIC TorvaneRealTimeCore TorvaneParams TorvaneLinkUi
                        TorvaneToolkit Qt6::Widgets)
endif()
