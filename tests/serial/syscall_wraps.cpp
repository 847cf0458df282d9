#include "syscall_wraps.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <ctime>
#include <unistd.h>

SyscallScript script;
std::vector<std::string> events;

namespace {
int port_descriptor = -1;
// The clock the link reads while sleeps are skipped, in microseconds.
long long fake_clock_us = 0;

// A scripted query: records the event, then fails with error, answers with
// the front of answers (the last one for ever), or returns 1 to let the call
// through.
template <typename Value>
int scripted_query(const char *event, int error, std::vector<Value> *answers, void *argument)
{
  events.emplace_back(event);
  if (error != 0) {
    errno = error;
    return -1;
  }
  if (answers == nullptr || answers->empty())
    return 1;
  *static_cast<Value *>(argument) = answers->front();
  if (answers->size() > 1)
    answers->erase(answers->begin());
  return 0;
}
} // namespace

void wraps_reset()
{
  script = SyscallScript{};
  events.clear();
}

int count_events(const std::string &event)
{
  int n = 0;
  for (const std::string &e : events)
    n += e == event ? 1 : 0;
  return n;
}

extern "C" {

int __real_open(const char *path, int flags, ...);
ssize_t __real_read(int fd, void *buffer, size_t length);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_usleep(useconds_t microseconds);
int __real_clock_gettime(clockid_t clock, struct timespec *now);
int __real_tcflush(int fd, int queue);
int __real_tcsetattr(int fd, int when, const struct termios *settings);
ssize_t __real_readlink(const char *path, char *buffer, size_t size);

int __wrap_open(const char *path, int flags, ...)
{
  mode_t mode = 0;
  if (flags & O_CREAT) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if (strcmp(path, "/proc/locks") == 0 && !script.locks_table.empty())
    return __real_open(script.locks_table.c_str(), flags, mode);
  if (strncmp(path, "/dev/ttyS", 9) != 0)
    return __real_open(path, flags, mode);
  events.push_back(std::string("open ") + path);
  if (script.redirect.empty()) {
    errno = ENOENT;
    return -1;
  }
  port_descriptor = __real_open(script.redirect.c_str(), flags);
  return port_descriptor;
}

// A fortified build opens through __open_2; it must not reach a real port either.
int __wrap___open_2(const char *path, int flags)
{
  return __wrap_open(path, flags);
}

ssize_t __wrap_write(int fd, const void *data, size_t length)
{
  if (fd != port_descriptor)
    return __real_write(fd, data, length);
  events.push_back("write " + std::to_string(length));
  long answer = script.writes_busy ? WRITE_BUSY : static_cast<long>(length);
  if (!script.write_plan.empty()) {
    answer = script.write_plan.front();
    script.write_plan.erase(script.write_plan.begin());
  }
  if (answer == WRITE_BUSY || answer == WRITE_INTERRUPTED) {
    errno = answer == WRITE_BUSY ? EAGAIN : EINTR;
    return -1;
  }
  return __real_write(fd, data, std::min(length, static_cast<size_t>(answer)));
}

ssize_t __wrap_read(int fd, void *buffer, size_t length)
{
  if (fd == port_descriptor)
    events.push_back("read " + std::to_string(length));
  return __real_read(fd, buffer, length);
}

int __wrap_ioctl(int fd, unsigned long request, ...)
{
  va_list args;
  va_start(args, request);
  void *argument = va_arg(args, void *);
  va_end(args);
  if (fd != port_descriptor)
    return __real_ioctl(fd, request, argument);
  int scripted = 1;
  if (request == FIONREAD)
    scripted = scripted_query<int>("ioctl", script.fionread_error, nullptr, argument);
  else if (request == TIOCOUTQ)
    scripted = scripted_query("outq", script.outq_error, &script.output_queued, argument);
  else if (request == TIOCSERGETLSR)
    scripted = scripted_query("lsr", script.lsr_error, &script.line_status, argument);
  if (scripted <= 0)
    return scripted;
  return __real_ioctl(fd, request, argument);
}

int __wrap_usleep(useconds_t microseconds)
{
  events.push_back("usleep " + std::to_string(microseconds));
  if (!script.skip_sleeps)
    return __real_usleep(microseconds);
  fake_clock_us += static_cast<long long>(microseconds) * script.sleep_stretch;
  return 0;
}

int __wrap_clock_gettime(clockid_t clock, struct timespec *now)
{
  if (!script.skip_sleeps || clock != CLOCK_MONOTONIC)
    return __real_clock_gettime(clock, now);
  now->tv_sec = static_cast<time_t>(fake_clock_us / 1000000);
  now->tv_nsec = static_cast<long>(fake_clock_us % 1000000) * 1000;
  return 0;
}

int __wrap_tcflush(int fd, int queue)
{
  events.push_back("tcflush " + std::to_string(queue));
  if (fd == port_descriptor && script.flushes_interrupted > 0) {
    script.flushes_interrupted--;
    errno = EINTR;
    return -1;
  }
  return __real_tcflush(fd, queue);
}

int __wrap_tcsetattr(int fd, int when, const struct termios *settings)
{
  events.push_back("tcsetattr");
  return __real_tcsetattr(fd, when, settings);
}

ssize_t __wrap_readlink(const char *path, char *buffer, size_t size)
{
  if (strcmp(path, "/proc/self") != 0 || script.proc_self.empty())
    return __real_readlink(path, buffer, size);
  return static_cast<ssize_t>(script.proc_self.copy(buffer, size));
}
}
