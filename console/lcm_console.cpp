// lcm-console: drive the display module from menu entries read on standard input.
#include <cstdio>

#include "console.h"

namespace {

constexpr int EXIT_USAGE = 2;
constexpr int EXIT_INPUT_FAILURE = 1;

} // namespace

int main(int argc, char **argv)
{
  if (argc != 1) {
    fprintf(stderr, "usage: %s (entries are read from standard input, one a line)\n",
            argc > 0 && argv[0] ? argv[0] : "lcm-console");
    return EXIT_USAGE;
  }
  if (console_run(stdin) < 0) {
    perror("lcm-console: standard input");
    return EXIT_INPUT_FAILURE;
  }
  return 0;
}
