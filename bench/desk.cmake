# The request card and the accept step on a registry of working size: one card
# load (item fetch on loopback and the four queries) and one accept.
if(TARGET ravelto_desk)
  add_executable(bench_desk ${CMAKE_CURRENT_LIST_DIR}/desk_card_accept.cpp)
  target_link_libraries(bench_desk PRIVATE ravelto_options ravelto_desk ravelto_service ravelto_test_support
                        benchmark::benchmark)
endif()
