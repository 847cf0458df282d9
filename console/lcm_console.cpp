// lcm-console: drive the display module from menu entries read on standard input.
#include <cerrno>
#include <cstdio>
#include <cstring>

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
          "drives the display module on /dev/ttyS1; an empty line or help shows the menu.\n"
          "Exit status: 0 when every entry worked, 1 when any failed, 2 for wrong\n"
          "arguments, 128+N after signal N.\n",
          program);
}

} // namespace

int main(int argc, char **argv)
{
  const char *program = argc > 0 && argv[0] ? argv[0] : "lcm-console";
  if (argc == 2 && strcmp(argv[1], "--help") == 0) {
    print_usage(stdout, program);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    printf("lcm-console %s\n", LCM_VERSION);
    return 0;
  }
  if (argc != 1) {
    print_usage(stderr, program);
    return EXIT_USAGE;
  }
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
    return EXIT_FAILURE_SEEN;
  }
  return result == 0 ? 0 : EXIT_FAILURE_SEEN;
}
