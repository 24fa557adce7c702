# Program packages and the firmware download. TorvaneDownloadCore is plain
# C++ (package files, calibration files, the download sequence) so the tests
# drive it without a display; TorvaneDownload adds the dialogs (the toolkit
# and the progress dialog are resolved at generation).
if(TARGET TorvaneLink AND TARGET TorvaneCatalogue)
  add_library(TorvaneDownloadCore STATIC
    ${CMAKE_CURRENT_LIST_DIR}/FileBytes.h
    ${CMAKE_CURRENT_LIST_DIR}/FileBytes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ProgramPackage.h
    ${CMAKE_CURRENT_LIST_DIR}/ProgramPackage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CalibrationFile.h
    ${CMAKE_CURRENT_LIST_DIR}/CalibrationFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DownloadState.h
    ${CMAKE_CURRENT_LIST_DIR}/DownloadState.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DownloadSequence.h
    ${CMAKE_CURRENT_LIST_DIR}/DownloadSequence.cpp
  )
  target_include_directories(TorvaneDownloadCore PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneDownloadCore PUBLIC TorvaneLink TorvaneCatalogue
                        PRIVATE PkgConfig::MINIZIP ZLIB::ZLIB)
endif()

if(TARGET TorvaneDownloadCore AND TARGET Qt6::Widgets)
  add_library(TorvaneDownload STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DlgMakeFile.h
    ${CMAKE_CURRENT_LIST_DIR}/DlgMakeFile.cpp
  )
  set_target_properties(TorvaneDownload PROPERTIES AUTOMOC ON)
  target_include_directories(TorvaneDownload PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(TorvaneDownload PUBLIC TorvaneDownloadCore TorvaneProgress TorvaneToolkit Qt6::Widgets)
endif()
