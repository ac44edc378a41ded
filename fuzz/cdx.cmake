# Fuzzer of the structural index reader, checker and writer on arbitrary bytes.
ravelto_add_fuzzer(fuzz_cdx_reader ${CMAKE_CURRENT_LIST_DIR}/cdx_reader_fuzzer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cdx_reader_entry.cpp)
target_link_libraries(fuzz_cdx_reader PRIVATE ravelto_options ravelto_registry)
