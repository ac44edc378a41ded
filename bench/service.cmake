# The HTTP client against libcurl on a local server, and the list reader.
find_package(CURL REQUIRED)
add_executable(bench_service ${CMAKE_CURRENT_LIST_DIR}/service_http.cpp)
target_link_libraries(bench_service PRIVATE ravelto_options ravelto_service ravelto_test_support
                      benchmark::benchmark CURL::libcurl)
