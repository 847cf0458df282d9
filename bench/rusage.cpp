// rusage: runs a command and prints what it cost, for the benchmark:
//   wall_us user_us system_us max_rss_kb status
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long long microseconds(const timeval &t)
{
  return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_usec;
}

long long now_us()
{
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

} // namespace

int main(int argc, char **argv)
{
  if (argc < 2) {
    fprintf(stderr, "usage: rusage command [argument...]\n");
    return 2;
  }
  const long long start = now_us();
  const pid_t child = fork();
  if (child < 0) {
    perror("rusage: fork");
    return 1;
  }
  if (child == 0) {
    execvp(argv[1], argv + 1);
    perror(argv[1]);
    _exit(127);
  }
  int status = 0;
  rusage used{};
  if (wait4(child, &status, 0, &used) != child) {
    perror("rusage: wait");
    return 1;
  }
  const long long wall = now_us() - start;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  fprintf(stderr, "%lld %lld %lld %ld %d\n", wall, microseconds(used.ru_utime), microseconds(used.ru_stime),
          used.ru_maxrss, code);
  return code;
}
