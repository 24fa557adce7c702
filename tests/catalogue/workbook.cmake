# Tests of the workbook layer (TorvaneWorkbook).
#   test_workbook       round trips, xlrd checks, xlwt files, bad files, saving
#   test_workbook_fuzz  damaged and random files (WORKBOOK_FUZZ_ITERATIONS)
# Both need Debian's /usr/bin/python3 with python3-xlrd and python3-xlwt
# (scripts/setup.sh installs them). test_workbook's Gnumeric check runs only
# where /usr/bin/ssconvert exists. For a run under AddressSanitizer:
#   cmake -S . -B build-asan -DCMAKE_CXX_FLAGS=-fsanitize=address,undefined
#   WORKBOOK_FUZZ_ITERATIONS=5000 WORKBOOK_FUZZ_SEED=1 build-asan/bin/test_workbook_fuzz
# (to check FreeXL itself too, link freexl.c of the Debian source package
# compiled with the same flags instead of the installed library).
include(GoogleTest)
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

foreach(_t test_workbook test_workbook_fuzz)
  add_executable(${_t} ${CMAKE_CURRENT_LIST_DIR}/${_t}.cpp ${CMAKE_CURRENT_LIST_DIR}/test_workbook_util.h)
  target_link_libraries(${_t} PRIVATE TorvaneWorkbook GTest::gtest GTest::gtest_main ZLIB::ZLIB Threads::Threads)
  target_compile_definitions(${_t} PRIVATE
    WORKBOOK_XLRD_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/workbook_xlrd.py")
  gtest_discover_tests(${_t} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endforeach()
