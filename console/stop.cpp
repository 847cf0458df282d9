// A clean stop on SIGINT, SIGTERM and SIGHUP. The signals are blocked in every
// thread and taken by a thread of their own, so no handler ever cuts into a
// command on its way to the module; the foreground learns of a stop between
// entries, or at once while it waits for input.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include "console.h"
#include "console_internal.h"

namespace {

std::atomic<int> stop_signal{0};
sigset_t stop_signals;
// Written once before the signal thread starts. It becomes readable with the
// first stop and stays so, which ends every later wait for input too.
int wake_pipe[2] = {-1, -1};

void request_stop(int signal_number)
{
  int none = 0;
  if (!stop_signal.compare_exchange_strong(none, signal_number))
    return;
  // The watcher ends after the press in hand; the foreground reaps it.
  watcher_run.store(0);
  const unsigned char byte = 1;
  (void)!write(wake_pipe[1], &byte, 1);
}

// The first descriptor that is none of the standard streams.
constexpr int FIRST_FREE_DESCRIPTOR = 3;

// With a standard stream closed, a pipe end would take its number: the
// console would then read its own wake-up pipe as input, or print into it.
int move_above_standard(int *end)
{
  if (*end >= FIRST_FREE_DESCRIPTOR)
    return 0;
  const int moved = fcntl(*end, F_DUPFD_CLOEXEC, FIRST_FREE_DESCRIPTOR);
  const int error = errno;
  close(*end);
  *end = moved;
  errno = error;
  return moved < 0 ? -1 : 0;
}

// Both ends of the wake-up pipe, above the standard streams; 0, or an errno value.
int open_wake_pipe()
{
  if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) < 0)
    return errno;
  for (int &end : wake_pipe) {
    if (move_above_standard(&end) < 0)
      return errno;
  }
  return 0;
}

void *wait_for_signals(void * /*unused*/)
{
  for (;;) {
    int signal_number = 0;
    if (sigwait(&stop_signals, &signal_number) == 0)
      request_stop(signal_number);
  }
}

} // namespace

int console_catch_signals()
{
  if (wake_pipe[0] >= 0)
    return 0;
  sigemptyset(&stop_signals);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&stop_signals, signal_number);
  int error = pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  if (error == 0)
    error = open_wake_pipe();
  pthread_t thread{};
  if (error == 0)
    error = pthread_create(&thread, nullptr, wait_for_signals, nullptr);
  if (error != 0) {
    (void)pthread_sigmask(SIG_UNBLOCK, &stop_signals, nullptr);
    for (int &end : wake_pipe) {
      if (end >= 0)
        close(end);
      end = -1;
    }
    errno = error;
    return -1;
  }
  pthread_detach(thread);
  return 0;
}

int console_stop_signal()
{
  return stop_signal.load();
}

bool console_stop_requested()
{
  return stop_signal.load() != 0;
}

// A buffered stream could hold bytes that poll cannot see.
void console_prepare_input(FILE *input)
{
  if (wake_pipe[0] >= 0 && fileno(input) >= 0)
    (void)setvbuf(input, nullptr, _IONBF, 0);
}

int console_getc(FILE *input)
{
  if (console_stop_requested())
    return EOF;
  const int descriptor = fileno(input);
  if (wake_pipe[0] >= 0 && descriptor >= 0) {
    pollfd waits[2] = {{descriptor, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
    // A failed poll leaves the reporting of a bad stream to getc.
    while (poll(waits, 2, -1) < 0 && errno == EINTR) {
    }
    if (console_stop_requested())
      return EOF;
  }
  return getc(input);
}
