// Asks the module for its buttons through the real driver for a given number
// of milliseconds and prints each answer, one "key N" line per query.
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
  const auto start = std::chrono::steady_clock::now();
  do {
    printf("key %d\n", lcm_get_key());
  } while (std::chrono::steady_clock::now() - start < run_for);
  return 0;
}
