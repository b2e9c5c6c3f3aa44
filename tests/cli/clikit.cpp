#include "clikit.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace clikit {

Result runTorvel(const std::vector<std::string>& args, size_t waitBytes, int signalToSend) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe");
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    std::vector<char*> argv;
    std::string exe = TORVEL_EXE;
    argv.push_back(exe.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    _exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  Result r;
  if (signalToSend) {
    // The child writes a status line per image line; once it has written this
    // much it is certainly inside the line loop.
    char buf[4096];
    while (r.err.size() < waitBytes) {
      ssize_t n = ::read(err[0], buf, sizeof buf);
      if (n <= 0) break;
      r.err.append(buf, size_t(n));
    }
    ::kill(pid, signalToSend);
  }
  // Drain both pipes.
  char buf[65536];
  for (int fd : {err[0], out[0]}) {
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) (fd == err[0] ? r.err : r.out).append(buf, size_t(n));
    ::close(fd);
  }
  int status = 0;
  struct rusage ru {};
  ::wait4(pid, &status, 0, &ru);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.peakKb = ru.ru_maxrss;
  return r;
}

FreedMemoryReturned::FreedMemoryReturned() : before(std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "") {
  ::setenv("ASAN_OPTIONS", (before + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0").c_str(), 1);
}

FreedMemoryReturned::~FreedMemoryReturned() { ::setenv("ASAN_OPTIONS", before.c_str(), 1); }

}  // namespace clikit
