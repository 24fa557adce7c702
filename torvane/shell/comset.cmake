# The serial settings dialog and the Edit Serial Port command behind it.
if(TARGET TorvaneLink AND TARGET Qt6::Widgets)
  add_library(TorvaneComSet STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DialogComSet.h
    ${CMAKE_CURRENT_LIST_DIR}/DialogComSet.cpp
  )
  set_target_properties(TorvaneComSet PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneComSet PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneComSet PUBLIC TorvaneLink TorvaneToolkit Qt6::Widgets)
endif()
