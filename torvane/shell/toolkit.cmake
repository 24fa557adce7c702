# The UI toolkit adapter: chart, report grid and the small dialog controls
# and the frame parts over Qt Widgets and Qt Charts. Views and the main
# window build on it.
if(TARGET Qt6::Widgets AND TARGET Qt6::Charts)
  add_library(TorvaneToolkit STATIC
    toolkit/ColorRef.h
    toolkit/ControlIds.h
    toolkit/ControlIds.cpp
    toolkit/ChartControl.h
    toolkit/ChartControl.cpp
    toolkit/ChartScale.h
    toolkit/ChartScale.cpp
    toolkit/ReportGrid.h
    toolkit/ReportGrid.cpp
    toolkit/SmallControls.h
    toolkit/SmallControls.cpp
    toolkit/FrameParts.h
    toolkit/FrameParts.cpp
  )
  set_target_properties(TorvaneToolkit PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneToolkit PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/toolkit)
  target_link_libraries(TorvaneToolkit PUBLIC Qt6::Widgets Qt6::Charts)
endif()
