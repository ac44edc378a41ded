# Request service benchmarks:
# - request_service_core (Google Benchmark): answers and state file costs.
# - request_service_load: a plain load driver, run by hand:
#     build/bench/request_service_load --server build/tools/request-service/request-service \
#       --seed tests/data/tools/seed-state.txt --clients 200 --seconds 60
if(TARGET request-service)
  find_package(Threads REQUIRED)
  add_executable(request_service_core_bench ${CMAKE_CURRENT_LIST_DIR}/request_service_core.cpp)
  target_link_libraries(request_service_core_bench PRIVATE request_service_core benchmark::benchmark)

  add_executable(request_service_load ${CMAKE_CURRENT_LIST_DIR}/request_service_load.cpp)
  target_link_libraries(request_service_load PRIVATE ravelto_options Threads::Threads)
  add_dependencies(request_service_load request-service)
endif()
