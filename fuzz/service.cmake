# Fuzzers of the service library: the HTTP answer (through the replay
# stream, no socket) and the request service's answers.
ravelto_add_fuzzer(fuzz_http_answer ${CMAKE_CURRENT_LIST_DIR}/service_http_answer.cpp)
target_link_libraries(fuzz_http_answer PRIVATE ravelto_options ravelto_service)
ravelto_add_fuzzer(fuzz_protocol_answers ${CMAKE_CURRENT_LIST_DIR}/service_protocol_answers.cpp)
target_link_libraries(fuzz_protocol_answers PRIVATE ravelto_options ravelto_service)
