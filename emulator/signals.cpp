// The signals the emulator handles: each one that arrives is a byte on a
// pipe the event loop polls. With a command they are passed on to it; with
// --line they end the run.
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include "session.h"

namespace {

constexpr std::array<int, 4> HANDLED_SIGNALS = {SIGCHLD, SIGINT, SIGTERM, SIGHUP};

int signal_pipe[2] = {-1, -1};
// The mask the emulator was started with, which the command gets back.
sigset_t given_mask;

void on_signal(int signal_number)
{
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signal_number);
  (void)!write(signal_pipe[1], &byte, 1);
  errno = saved;
}

// Each signal is passed on as it came: SIGHUP asks a panel to read its
// configuration again and is no request to stop. A second SIGINT or SIGTERM
// is: a command still running after the first is killed, as one that
// ignores or hangs in its handler could not be stopped through lcm-emu
// otherwise.
void forward_signal(Run *run, int signal_number)
{
  if (run->child_done)
    return;
  const bool stop = signal_number == SIGINT || signal_number == SIGTERM;
  kill(run->child, stop && run->forwarded_signals++ > 0 ? SIGKILL : signal_number);
}

} // namespace

// A handled signal that stays blocked never reaches its handler: an emulator
// started with SIGTERM blocked could not be stopped.
int emu_install_signal_handlers()
{
  if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) < 0)
    return -1;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  sigset_t handled;
  sigemptyset(&handled);
  for (const int signal_number : HANDLED_SIGNALS) {
    if (sigaction(signal_number, &action, nullptr) < 0)
      return -1;
    sigaddset(&handled, signal_number);
  }
  // A command that stops reading its input must not end the emulator.
  signal(SIGPIPE, SIG_IGN);
  const int refused = pthread_sigmask(SIG_UNBLOCK, &handled, &given_mask);
  if (refused != 0) {
    errno = refused;
    return -1;
  }
  return 0;
}

void emu_default_signals()
{
  signal(SIGPIPE, SIG_DFL);
  for (const int signal_number : HANDLED_SIGNALS)
    signal(signal_number, SIG_DFL);
  pthread_sigmask(SIG_SETMASK, &given_mask, nullptr);
}

int emu_signal_descriptor()
{
  return signal_pipe[0];
}

void emu_reap_command(Run *run)
{
  if (run->child <= 0 || run->child_done)
    return;
  int status = 0;
  const pid_t done = waitpid(run->child, &status, WNOHANG);
  if (done == run->child) {
    run->child_done = true;
    run->child_status = status;
  }
}

void emu_take_signals(Run *run)
{
  std::array<unsigned char, 32> signals{};
  for (;;) {
    const ssize_t count = read(signal_pipe[0], signals.data(), signals.size());
    if (count <= 0)
      break;
    for (ssize_t i = 0; i < count; i++) {
      const int signal_number = signals[static_cast<size_t>(i)];
      if (signal_number == SIGCHLD)
        continue;
      if (emu_serves_line(*run))
        run->stopping = true;
      else
        forward_signal(run, signal_number);
    }
  }
  emu_reap_command(run);
}
