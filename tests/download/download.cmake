# Program packages, calibration files and the firmware download sequence
# against the drive simulator on pseudo-terminals, plus the package maker
# dialog on the offscreen Qt platform. Info-ZIP's unzip and Python's zipfile
# check the made packages independently.
if(TARGET TorvaneDownload AND TARGET TorvaneLinkTestUtil)
  include(GoogleTest)
  add_executable(test_download
    ${CMAKE_CURRENT_LIST_DIR}/test_download_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DownloadTestUtil.h
    ${CMAKE_CURRENT_LIST_DIR}/DownloadTestUtil.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_package.cpp
  )
  target_link_libraries(test_download PRIVATE TorvaneDownload TorvaneLinkTestUtil PkgConfig::MINIZIP
                        ZLIB::ZLIB Qt6::Widgets)
  set_target_properties(test_download PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR})
  target_compile_definitions(test_download PRIVATE
    TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/"
    TORVANE_SAMPLEDATA_DIR="${TORVANE_SAMPLEDATA_DIR}"
    TORVANE_SYSTEM_PYTHON="/usr/bin/python3")
  if(TARGET TorvaneSampleData)
    add_dependencies(test_download TorvaneSampleData)
  endif()
  gtest_discover_tests(test_download DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 180)
endif()

# The download sequence and calibration files: plain C++ against the drive
# simulator, also run by the ThreadSanitizer stage (label "threads").
if(TARGET TorvaneDownloadCore AND TARGET TorvaneLinkTestUtil)
  include(GoogleTest)
  add_executable(test_download_core
    ${CMAKE_CURRENT_LIST_DIR}/test_download_core_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DownloadTestUtil.h
    ${CMAKE_CURRENT_LIST_DIR}/DownloadTestUtil.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_calibration.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_sequence.cpp
  )
  target_link_libraries(test_download_core PRIVATE TorvaneDownloadCore TorvaneLinkTestUtil TorvaneNetTestUtil
                        PkgConfig::MINIZIP ZLIB::ZLIB)
  set_target_properties(test_download_core PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR})
  target_compile_definitions(test_download_core PRIVATE
    TORVANE_SAMPLE_PROGRAM_DIR="${TORVANE_PROGRAM_DIR}/"
    TORVANE_SAMPLEDATA_DIR="${TORVANE_SAMPLEDATA_DIR}"
    TORVANE_SYSTEM_PYTHON="/usr/bin/python3")
  if(TARGET TorvaneSampleData)
    add_dependencies(test_download_core TorvaneSampleData)
  endif()
  gtest_discover_tests(test_download_core DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180 LABELS threads)
  # The runs that depend on how the boot link receives, once more over the
  # fast link (its receive thread waiting for the port): replies, ACK and NAK,
  # a silent drive, a cancel between blocks. The others stop before the line
  # or go through a network port.
  add_test(NAME fast.Sequence COMMAND test_download_core
    --gtest_filter=Sequence.FullRunWithBothOptions*:Sequence.ANak*:Sequence.ThreeBlockTries*:Sequence.Cancel*:Sequence.ACalibrationLine*:Sequence.AnUnlock*)
  set_tests_properties(fast.Sequence PROPERTIES ENVIRONMENT TORVANE_TEST_FASTLINK=1 TIMEOUT 600 LABELS threads)
endif()
