# Parameter editing: the parameter view, the M-data view and the two value
# input dialogs. TorvaneParamsCore is the part without widgets (row rules,
# summaries, value files, value checks, the transfer batches) that the tests
# and the command-line program use directly.
if(TARGET TorvaneCatalogue AND TARGET TorvaneLink)
  add_library(TorvaneParamsCore STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ParamViewLogic.h
    ${CMAKE_CURRENT_LIST_DIR}/ParamViewLogic.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ValueFile.h
    ${CMAKE_CURRENT_LIST_DIR}/ValueFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ValueCheck.h
    ${CMAKE_CURRENT_LIST_DIR}/ValueCheck.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ParamPlan.h
    ${CMAKE_CURRENT_LIST_DIR}/ParamPlan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ParamTransfer.h
    ${CMAKE_CURRENT_LIST_DIR}/ParamTransfer.cpp
  )
  target_include_directories(TorvaneParamsCore PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneParamsCore PUBLIC TorvaneCatalogue TorvaneLink)
endif()

if(TARGET TorvaneParamsCore AND TARGET Qt6::Widgets)
  add_library(TorvaneInputDialogs STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DlgInputPara.h
    ${CMAKE_CURRENT_LIST_DIR}/DlgInputPara.cpp
  )
  set_target_properties(TorvaneInputDialogs PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneInputDialogs PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneInputDialogs PUBLIC TorvaneParamsCore TorvaneToolkit Qt6::Widgets)
endif()

# The views need the view base (link/) and the progress dialog (download/),
# whose folders may be read after this one: resolved at generation.
if(TARGET TorvaneParamsCore AND TARGET TorvaneLinkUi)
  add_library(TorvaneParams STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ParamPrompts.h
    ${CMAKE_CURRENT_LIST_DIR}/ParamPrompts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ParamGridView.h
    ${CMAKE_CURRENT_LIST_DIR}/ParamGridView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DlgCompareFile.h
    ${CMAKE_CURRENT_LIST_DIR}/DlgCompareFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DialogParam.h
    ${CMAKE_CURRENT_LIST_DIR}/DialogParam.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DialogMD.h
    ${CMAKE_CURRENT_LIST_DIR}/DialogMD.cpp
  )
  set_target_properties(TorvaneParams PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneParams PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneParams PUBLIC TorvaneParamsCore TorvaneInputDialogs TorvaneLinkUi
                        TorvaneProgress TorvaneToolkit Qt6::Widgets)
endif()
