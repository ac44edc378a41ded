# Scans of generated registry tables (written to /tmp at start).
add_executable(bench_registry ${CMAKE_CURRENT_LIST_DIR}/registry_scan.cpp ${CMAKE_CURRENT_LIST_DIR}/registry_tables.cpp)
target_link_libraries(bench_registry PRIVATE ravelto_options ravelto_registry benchmark::benchmark)
