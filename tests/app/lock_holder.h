#pragma once
// LockHolder: another process holding one lock byte of a registry file, the
// way the registry program holds a table or record lock, until released.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "registry/table/file_io.h"

namespace ravelto::app::testing {

// Another process holding one lock byte of a file until destroyed.
class LockHolder {
 public:
  LockHolder(const std::string& path, std::uint64_t position) {
    if (::pipe(ready_) != 0 || ::pipe(release_) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = registry::OpenShared(path, true);
      registry::ByteLock lock(fd, position, "test", path);
      char c = 'r';
      if (::write(ready_[1], &c, 1) == 1) (void)!::read(release_[0], &c, 1);
      ::_exit(0);
    }
    char c;
    if (::read(ready_[0], &c, 1) != 1) throw std::runtime_error("lock holder failed");
  }
  ~LockHolder() { Release(); }
  void Release() {
    if (pid_ <= 0) return;
    char c = 'x';
    if (::write(release_[1], &c, 1) != 1) ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    for (int fd : {ready_[0], ready_[1], release_[0], release_[1]}) ::close(fd);
    pid_ = 0;
  }

 private:
  int ready_[2];
  int release_[2];
  pid_t pid_ = 0;
};

}  // namespace ravelto::app::testing
