// The init of the command's PID namespace.
#include "command_init.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> FORWARDED_SIGNALS = {SIGINT, SIGTERM, SIGHUP};
constexpr int SIGNAL_STATUS_BASE = 128;
constexpr int STATUS_UNKNOWN = 125;
// Only a bound: a child's end wakes the init at once.
constexpr timespec LONGEST_WAIT = {1, 0};

// The init is a one-thread copy of the emulator. Had a sanitizer runtime
// started threads of its own there, a lock one of them held would stay held
// in the init, and fork()'s handlers would wait for it; a plain clone runs
// no handlers.
pid_t fork_plainly()
{
  return static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, nullptr, nullptr, nullptr, 0));
}

// The init needs none of the descriptors it was given: the command has its
// own copies, and the init's would keep the report pipe, the line's master
// and the command's input open after the command let go of them.
void close_descriptors()
{
  constexpr unsigned FIRST = 3;
  if (close_range(FIRST, ~0U, 0) == 0)
    return;
  const long last = sysconf(_SC_OPEN_MAX);
  for (long descriptor = FIRST; descriptor < last; descriptor++)
    close(static_cast<int>(descriptor));
}

// Every process of the namespace whose parent ended is the init's to reap.
[[noreturn]] void serve(pid_t command, const sigset_t &handled)
{
  for (;;) {
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(-1, &status, WNOHANG)) > 0)
      if (ended == command)
        _exit(emu_exit_status(status));
    if (ended < 0 && errno == ECHILD)
      _exit(STATUS_UNKNOWN);
    siginfo_t info{};
    const int signal_number = sigtimedwait(&handled, &info, &LONGEST_WAIT);
    // What the terminal sends its foreground group (Ctrl-C) reached the
    // command already, and the emulator passes it on too.
    if (signal_number > 0 && signal_number != SIGCHLD && info.si_code != SI_KERNEL)
      kill(command, signal_number);
  }
}

} // namespace

int emu_exit_status(int status)
{
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    return SIGNAL_STATUS_BASE + WTERMSIG(status);
  return STATUS_UNKNOWN;
}

int emu_init_mount_proc()
{
  return mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
}

// PID 1 ignores every signal it has no handler for. Blocked, the forwarded
// ones wait for the init's loop instead, from before the command exists.
int emu_init_start_command()
{
  sigset_t handled;
  sigemptyset(&handled);
  sigaddset(&handled, SIGCHLD);
  for (const int signal_number : FORWARDED_SIGNALS)
    sigaddset(&handled, signal_number);
  sigset_t previous;
  const int refused = pthread_sigmask(SIG_BLOCK, &handled, &previous);
  if (refused != 0) {
    errno = refused;
    return -1;
  }
  const pid_t command = fork_plainly();
  if (command < 0)
    return -1;
  if (command == 0) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return 0;
  }
  close_descriptors();
  serve(command, handled);
}
