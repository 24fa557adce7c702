# The function view (a drive function as a picture with value fields) and
# the function workbooks it is built from. TorvaneFunctionCore is the part
# without widgets that the tests drive directly. Read after params.cmake.
if(TARGET TorvaneParamsCore)
  add_library(TorvaneFunctionCore STATIC
    ${CMAKE_CURRENT_LIST_DIR}/FunctionWorkbook.h
    ${CMAKE_CURRENT_LIST_DIR}/FunctionWorkbook.cpp
  )
  target_include_directories(TorvaneFunctionCore PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneFunctionCore PUBLIC TorvaneCatalogue)
endif()

if(TARGET TorvaneFunctionCore AND TARGET TorvaneParams)
  add_library(TorvaneFunctionView STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DialogFunPid.h
    ${CMAKE_CURRENT_LIST_DIR}/DialogFunPid.cpp
  )
  set_target_properties(TorvaneFunctionView PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneFunctionView PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneFunctionView PUBLIC TorvaneFunctionCore TorvaneParams Qt6::Widgets)
endif()
