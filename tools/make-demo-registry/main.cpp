// make-demo-registry FOLDER [--patients N] [--seed S] [--today YYYY-MM-DD] [--replace]
//
// Writes the demo registry (m1005 patients, ci007 districts, ci003 staff and
// an empty m1042) into FOLDER through the registry engine. The same seed and
// date give the same tables; --today defaults to the current local date, so
// that the patients' ages run through 0..100 on the day of the demo.
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <string>

#include "tools/make-demo-registry/demo_data.h"
#include "tools/make-demo-registry/demo_writer.h"

int main(int argc, char** argv) {
  using namespace ravelto::demo;
  std::string folder;
  int patients = kDefaultPatients;
  std::uint32_t seed = kDefaultSeed;
  bool replace = false;
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  CivilDay today{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
  const char* usage = "usage: make-demo-registry FOLDER [--patients N] [--seed S] [--today YYYY-MM-DD] [--replace]\n";
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      const bool has_value = i + 1 < argc;
      if (a == "--replace") {
        replace = true;
      } else if (a == "--patients" && has_value) {
        patients = std::stoi(argv[++i]);
      } else if (a == "--seed" && has_value) {
        seed = static_cast<std::uint32_t>(std::stoul(argv[++i]));
      } else if (a == "--today" && has_value) {
        if (std::sscanf(argv[++i], "%d-%d-%d", &today.year, &today.month, &today.day) != 3) throw std::invalid_argument(a);
      } else if (!a.empty() && a[0] != '-' && folder.empty()) {
        folder = a;
      } else {
        std::cerr << usage;
        return 2;
      }
    }
  } catch (const std::exception&) {
    std::cerr << usage;
    return 2;
  }
  if (folder.empty() || patients < 1 || patients > 100000) {
    std::cerr << usage;
    return 2;
  }
  try {
    WriteDemoRegistry(folder, MakeDemoRegistry(seed, patients, today), replace);
  } catch (const std::exception& e) {
    std::cerr << "make-demo-registry: " << e.what() << "\n";
    return 1;
  }
  std::cout << "demo registry in " << folder << ": " << patients << " patients (codes " << kFirstPatientCode << "-"
            << kFirstPatientCode + patients - 1 << "), 12 districts, 40 staff, empty m1042\n";
  return 0;
}
