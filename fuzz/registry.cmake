# Fuzzers of the registry engine: the table reader (table + memo bytes) and
# the SQL subset's parser with the literal helpers.
ravelto_add_fuzzer(fuzz_dbf_reader ${CMAKE_CURRENT_LIST_DIR}/registry_dbf_reader.cpp)
target_link_libraries(fuzz_dbf_reader PRIVATE ravelto_options ravelto_registry)
ravelto_add_fuzzer(fuzz_sql_parser ${CMAKE_CURRENT_LIST_DIR}/registry_sql_parser.cpp)
target_link_libraries(fuzz_sql_parser PRIVATE ravelto_options ravelto_registry)
