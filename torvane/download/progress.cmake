# The progress dialog every long operation of a view shows (batches,
# downloads, model checks). It cancels by clearing its owner view's running
# flag, so it builds on the view base of the link folder.
if(TARGET TorvaneLinkUi)
  add_library(TorvaneProgress STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DlgProgess.h
    ${CMAKE_CURRENT_LIST_DIR}/DlgProgess.cpp
  )
  set_target_properties(TorvaneProgress PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneProgress PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneProgress PUBLIC TorvaneLinkUi TorvaneToolkit Qt6::Widgets)
endif()
