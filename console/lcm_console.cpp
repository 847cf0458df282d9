// lcm-console: drive the display module from menu entries read on standard input.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

#include "console.h"

namespace {

constexpr int EXIT_USAGE = 2;
constexpr int EXIT_FAILURE_SEEN = 1;
constexpr int SIGNAL_STATUS_BASE = 128;

void print_usage(FILE *stream, const char *program)
{
  fprintf(stream,
          "usage: %s [--help | --version]\n"
          "Reads menu entries from standard input, one a line, by number or name, and\n"
          "drives the display module on /dev/ttyS1 (or the device LCM_DEVICE names); an\n"
          "empty line or help shows the menu.\n"
          "Exit status: 0 when every entry worked, 1 when any failed, 2 for wrong\n"
          "arguments, 128+N after signal N.\n",
          program);
}

// A closed standard input is an end of input. Reading /dev/null in its
// place gives that, and keeps descriptor 0 from being taken by anything the
// console opens.
void end_closed_input()
{
  if (fcntl(STDIN_FILENO, F_GETFD) < 0)
    (void)open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// Inherited blocked, the stop signals would never reach the console.
void unblock_stop_signals()
{
  sigset_t stops;
  sigemptyset(&stops);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&stops, signal_number);
  (void)pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
}

// What was printed must have reached standard output: a full disk or a
// closed stream is a failure. The status, EXIT_FAILURE_SEEN when it did not.
int finish(int status)
{
  const int error = console_finish_output();
  if (error == 0)
    return status;
  errno = error;
  perror("lcm-console: standard output");
  return EXIT_FAILURE_SEEN;
}

} // namespace

int main(int argc, char **argv)
{
  const char *program = argc > 0 && argv[0] ? argv[0] : "lcm-console";
  if (argc == 2 && strcmp(argv[1], "--help") == 0) {
    print_usage(stdout, program);
    return finish(0);
  }
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    printf("lcm-console %s\n", LCM_VERSION);
    return finish(0);
  }
  if (argc != 1) {
    print_usage(stderr, program);
    return EXIT_USAGE;
  }
  end_closed_input();
  unblock_stop_signals();
  // Without the catcher the signals keep their default action: the console
  // still works, it only stops less cleanly.
  if (console_catch_signals() < 0)
    perror("lcm-console: cannot catch signals, they will end the console at once");
  const int result = console_run(stdin);
  const int read_errno = errno;
  if (console_stop_signal() != 0)
    return SIGNAL_STATUS_BASE + console_stop_signal();
  if (result < 0) {
    errno = read_errno;
    perror("lcm-console: standard input");
    return finish(EXIT_FAILURE_SEEN);
  }
  return finish(result == 0 ? 0 : EXIT_FAILURE_SEEN);
}
