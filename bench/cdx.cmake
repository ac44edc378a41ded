# Structural index benchmarks: indexed point lookup and indexed append.
add_executable(bench_cdx ${CMAKE_CURRENT_LIST_DIR}/cdx_bench.cpp)
target_link_libraries(bench_cdx PRIVATE ravelto_options ravelto_registry benchmark::benchmark)
target_compile_definitions(bench_cdx PRIVATE RAVELTO_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
# The accept as registry-sql processes runs the tool built here.
add_dependencies(bench_cdx registry-sql)
target_compile_definitions(bench_cdx PRIVATE RAVELTO_REGISTRY_SQL="$<TARGET_FILE:registry-sql>")
