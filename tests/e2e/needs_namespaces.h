// The end-to-end tests run the real programs under lcm-emu, which gives each
// its private /dev/ttyS1 in a mount namespace (inside a user namespace when it
// may not mount). Where neither namespace is allowed, as in some containers
// and package build roots, lcm-emu can run nothing: the tests skip there and
// say why, instead of failing on something the code cannot change.
#ifndef LCM_TESTS_NEEDS_NAMESPACES_H
#define LCM_TESTS_NEEDS_NAMESPACES_H

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// lcm-emu's complaint when this machine allows it neither namespace, or an
// empty string when it does. Asked once a process: the answer cannot change.
inline const std::string &namespaces_refused()
{
  static const std::string complaint = [] {
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) < 0)
      return std::string();
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
      const int null = open("/dev/null", O_RDWR);
      if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(channel[1], 2) < 0)
        _exit(99);
      execl(LCM_EMU_PATH, LCM_EMU_PATH, "--", "/bin/true", nullptr);
      _exit(97);
    }
    close(channel[1]);
    std::string err;
    char buffer[512];
    for (;;) {
      const ssize_t count = read(channel[0], buffer, sizeof buffer);
      if (count < 0 && errno == EINTR)
        continue;
      if (count <= 0)
        break;
      err.append(buffer, static_cast<size_t>(count));
    }
    close(channel[0]);
    if (child > 0)
      waitpid(child, nullptr, 0);
    const bool refused =
        err.find("neither a mount namespace nor a user namespace is allowed") != std::string::npos;
    return refused ? err : std::string();
  }();
  return complaint;
}

// First statement of every test that runs lcm-emu.
#define SKIP_WITHOUT_NAMESPACES()                                                                            \
  if (const std::string &complaint = namespaces_refused(); !complaint.empty())                               \
  GTEST_SKIP() << "lcm-emu cannot give a command a private /dev/ttyS1 here, so no end-to-end test can run: " \
               << complaint

#endif
