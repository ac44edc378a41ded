// request-service: the reference request service for the desk, on one port.
//
//   request-service [--host H] [--port P] [--state FILE] [--seed FILE]
//                   [--files DIR] [--threads N] [--latest-version N] [--log]
//
// --port 0 binds any free port. Once listening, the first line on stdout is
// "listening on http://H:P" (tests read the port from it). The state file is
// created from the seed file when it does not exist yet. SIGINT and SIGTERM
// stop the service; every change is already on disk by then. --log prints
// one line per request (time, status, method, target with passwords hidden).
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "tools/request-service/server.h"
#include "tools/request-service/service.h"
#include "tools/request-service/state.h"

#ifndef RAVELTO_REQSVC_DEFAULT_SEED
#define RAVELTO_REQSVC_DEFAULT_SEED "sample-state.txt"
#endif

namespace {

void Usage() {
  std::cerr << "usage: request-service [--host H] [--port P] [--state FILE] [--seed FILE]\n"
               "                       [--files DIR] [--threads N] [--latest-version N] [--log]\n";
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ravelto::reqsvc;
  // Stop signals go to one waiting thread (started once the server is bound)
  // instead of interrupting the workers or a state file write.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  ServerConfig server_config;
  ServiceConfig service_config;
  service_config.state_path = "request-service-state.txt";
  std::string seed = RAVELTO_REQSVC_DEFAULT_SEED;
  int latest_version = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    }
    if (arg == "--log") {
      server_config.log = true;
      continue;
    }
    if (i + 1 >= argc) {
      Usage();
      return 2;
    }
    const std::string value = argv[++i];
    try {
      if (arg == "--host") server_config.host = value;
      else if (arg == "--port") server_config.port = std::stoi(value);
      else if (arg == "--state") service_config.state_path = value;
      else if (arg == "--seed") seed = value;
      else if (arg == "--files") service_config.files_dir = value;
      else if (arg == "--threads") server_config.threads = std::stoi(value);
      else if (arg == "--latest-version") latest_version = std::stoi(value);
      else {
        Usage();
        return 2;
      }
    } catch (const std::exception&) {
      std::cerr << "request-service: bad value for " << arg << ": " << value << "\n";
      return 2;
    }
  }
  if (server_config.port < 0 || server_config.port > 65535) {
    std::cerr << "request-service: port out of range\n";
    return 2;
  }

  State state;
  try {
    if (FileExists(service_config.state_path)) {
      state = LoadStateFile(service_config.state_path);
    } else {
      state = LoadStateFile(seed);
      SaveStateFile(service_config.state_path, state);
    }
    if (latest_version >= 0 && latest_version != state.latest_version) {
      state.latest_version = latest_version;
      SaveStateFile(service_config.state_path, state);
    }
  } catch (const StateError& e) {
    std::cerr << "request-service: " << e.what() << "\n";
    return 1;
  }

  RequestService service(std::move(state), service_config);
  HttpServer server(service, server_config);
  if (!server.Bind()) {
    std::cerr << "request-service: cannot listen on " << server_config.host << ":" << server_config.port << "\n";
    return 1;
  }
  std::cout << "listening on http://" << server_config.host << ":" << server.port() << std::endl;

  std::atomic<bool> finished{false};
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stop_signals, &sig);
    // A stop that comes before the server loop has started is not seen by
    // it: repeat until the loop has ended.
    while (!finished) {
      server.Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  server.Run();
  finished = true;
  // Run() can also end on its own (socket failure): release the waiter.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return 0;
}
