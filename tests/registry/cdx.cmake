# Tests of the structural index code (included from this folder's CMakeLists.txt).
ravelto_add_test(NAME cdx_reader_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cdx_reader_test.cpp ${CMAKE_CURRENT_LIST_DIR}/cdx_test_util.cpp
  LIBS ravelto_registry GTest::gtest_main)
ravelto_add_test(NAME cdx_expr_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cdx_expr_test.cpp
  LIBS ravelto_registry GTest::gtest_main)
ravelto_add_test(NAME cdx_write_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cdx_write_test.cpp ${CMAKE_CURRENT_LIST_DIR}/cdx_test_util.cpp
  LIBS ravelto_registry ravelto_test_child_main TIMEOUT 600)
ravelto_add_test(NAME cdx_engine_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cdx_engine_test.cpp ${CMAKE_CURRENT_LIST_DIR}/cdx_test_util.cpp
  LIBS ravelto_registry ravelto_test_child_main)
ravelto_add_test(NAME cdx_lookup_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cdx_lookup_test.cpp ${CMAKE_CURRENT_LIST_DIR}/cdx_test_util.cpp
  LIBS ravelto_registry GTest::gtest_main)
ravelto_add_test(NAME cdx_report_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cdx_report_test.cpp ${CMAKE_CURRENT_LIST_DIR}/cdx_test_util.cpp
  LIBS ravelto_registry GTest::gtest_main)
ravelto_add_test(NAME cdx_fuzz_replay_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cdx_fuzz_replay_test.cpp ${PROJECT_SOURCE_DIR}/fuzz/cdx_reader_entry.cpp
  LIBS ravelto_registry GTest::gtest_main TIMEOUT 600)
target_compile_definitions(cdx_fuzz_replay_test PRIVATE RAVELTO_CDX_CORPUS="${RAVELTO_TEST_SOURCE_ROOT}/fuzz/corpus/cdx_reader")
ravelto_add_test(NAME cdx_order_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cdx_order_test.cpp ${CMAKE_CURRENT_LIST_DIR}/cdx_test_util.cpp
  LIBS ravelto_registry GTest::gtest_main)
