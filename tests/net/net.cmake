# Network ports over loopback: the register link through ser2net in front of
# a simulated drive (tcp://) and through a libmodbus Modbus TCP server
# (mbtcp://), a server going away mid-batch, port texts that cannot work.
# TorvaneNetTestUtil (ser2net started by the test, free loopback ports) is
# also used by the torvane-cli and download tests.
add_library(TorvaneNetTestUtil STATIC ${CMAKE_CURRENT_LIST_DIR}/NetTestUtil.cpp)
target_include_directories(TorvaneNetTestUtil PUBLIC ${CMAKE_CURRENT_LIST_DIR})

if(TARGET TorvaneLinkTestUtil AND TARGET TorvaneRealTimeCore AND TARGET PkgConfig::MODBUS)
  include(GoogleTest)
  add_executable(test_network ${CMAKE_CURRENT_LIST_DIR}/test_network.cpp ${CMAKE_SOURCE_DIR}/tests/link/test_link_main.cpp)
  target_link_libraries(test_network PRIVATE TorvaneNetTestUtil TorvaneLinkTestUtil TorvaneRealTimeCore RegMaster PkgConfig::MODBUS
                        GTest::gtest)
  # Beside the plug-ins, which LinkCore loads from the program's folder.
  set_target_properties(test_network PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TORVANE_PROGRAM_DIR})
  gtest_discover_tests(test_network TEST_PREFIX net. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS net)
endif()
