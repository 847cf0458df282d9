// Runs a program with SIGTERM, SIGINT and SIGHUP blocked, as a parent that
// blocked them would leave it: signals_blocked PROGRAM [ARGUMENT...].
#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <unistd.h>

int main(int argc, char **argv)
{
  if (argc < 2) {
    fprintf(stderr, "usage: %s PROGRAM [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  sigset_t stops;
  sigemptyset(&stops);
  for (const int signal_number : {SIGTERM, SIGINT, SIGHUP})
    sigaddset(&stops, signal_number);
  if (pthread_sigmask(SIG_BLOCK, &stops, nullptr) != 0) {
    fprintf(stderr, "%s: cannot block the stop signals\n", argv[0]);
    return 1;
  }
  execv(argv[1], argv + 1);
  perror(argv[1]);
  return 127;
}
