// Asks the module for its buttons through the real driver and prints each
// answer, one "key N" line per query, for the given number of milliseconds
// after the first answer (the port's opening takes its own time before that).
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "lcm.h"

int main(int argc, char **argv)
{
  if (argc != 2) {
    fprintf(stderr, "usage: %s MILLISECONDS\n", argv[0]);
    return 2;
  }
  const auto run_for = std::chrono::milliseconds(strtol(argv[1], nullptr, 10));
  printf("key %d\n", lcm_get_key());
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < run_for)
    printf("key %d\n", lcm_get_key());
  return 0;
}
