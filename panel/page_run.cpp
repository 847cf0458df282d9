#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "panel.h"

namespace {

// At most this much of a command's output is read in one pass, so that a
// command writing without end cannot hold up the button loop.
constexpr int READS_PER_POLL = 16;
constexpr std::size_t READ_SIZE = 4096;

// Commands whose runs still wait to see them end: their status and the
// kill of their process group depend on their not being collected by
// anyone else. The panel runs a page command and an action at most.
constexpr std::size_t TRACKED_CAPACITY = 4;
std::array<pid_t, TRACKED_CAPACITY> tracked{};
std::size_t tracked_count;

// Orphans collected in one pass at most, so that a burst of them cannot
// hold up the buttons; the rest wait for the next pass.
constexpr int REAPS_PER_PASS = 64;

// Descriptors above standard error are closed in the child up to this,
// where the kernel cannot close a range at once.
constexpr long FALLBACK_CLOSE_LIMIT = 65536;

bool is_tracked(pid_t pid)
{
  for (std::size_t i = 0; i < tracked_count; i++) {
    if (tracked[i] == pid)
      return true;
  }
  return false;
}

void forget(pid_t pid)
{
  std::size_t kept = 0;
  for (std::size_t i = 0; i < tracked_count; i++) {
    if (tracked[i] != pid)
      tracked[kept++] = tracked[i];
  }
  tracked_count = kept;
}

// Between fork and exec only async-signal-safe calls. The port and every
// other descriptor of the panel stay out of the command.
[[noreturn]] void exec_page(const char *command, int output, long close_limit)
{
  (void)setpgid(0, 0);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (const int signal_number : {SIGPIPE, SIGTERM, SIGINT, SIGHUP})
    (void)sigaction(signal_number, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  // The child of fork runs one thread.
  (void)sigprocmask(SIG_SETMASK, &none, nullptr); // NOLINT(concurrency-mt-unsafe)
  const int input = open("/dev/null", O_RDONLY);
  if (input < 0 || dup2(input, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0)
    _exit(127);
  if (close_range(STDERR_FILENO + 1, ~0U, 0) < 0) {
    for (long descriptor = STDERR_FILENO + 1; descriptor < close_limit; descriptor++)
      (void)close(static_cast<int>(descriptor));
  }
  const char *const arguments[] = {"sh", "-c", command, nullptr};
  execve("/bin/sh", const_cast<char *const *>(arguments), environ);
  _exit(127);
}

long close_limit()
{
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) < 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur > static_cast<rlim_t>(FALLBACK_CLOSE_LIMIT))
    return FALLBACK_CLOSE_LIMIT;
  return static_cast<long>(limit.rlim_cur);
}

constexpr int COMMAND_RUNS = 0;
constexpr int COMMAND_ENDED = 1;
constexpr int COMMAND_GONE = 2;

// COMMAND_ENDED leaves the command unreaped, so its process group cannot
// have been taken by another process yet; COMMAND_GONE means something else
// collected it, and its group is left alone.
int command_state(pid_t pid)
{
  siginfo_t info{};
  info.si_pid = 0;
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0)
    return errno == ECHILD ? COMMAND_GONE : COMMAND_RUNS;
  return info.si_pid == pid ? COMMAND_ENDED : COMMAND_RUNS;
}

void read_output(PageRun *run)
{
  std::array<unsigned char, READ_SIZE> buffer{};
  for (int i = 0; i < READS_PER_POLL && run->pipe >= 0; i++) {
    const ssize_t count = read(run->pipe, buffer.data(), buffer.size());
    if (count > 0) {
      page_output_feed(&run->output, buffer.data(), static_cast<std::size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0 && errno == EAGAIN)
      return;
    close(run->pipe);
    run->pipe = -1;
  }
}

void close_output(PageRun *run)
{
  if (run->pipe >= 0)
    close(run->pipe);
  run->pipe = -1;
}

} // namespace

int page_run_start(PageRun *run, const char *command, long long now_ms, int timeout_ms)
{
  if (tracked_count == TRACKED_CAPACITY) {
    errno = EAGAIN;
    return -1;
  }
  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC) < 0)
    return -1;
  // Only the panel's end waits for nothing; the command writes as usual.
  if (fcntl(ends[0], F_SETFL, O_NONBLOCK) < 0) {
    const int error = errno;
    close(ends[0]);
    close(ends[1]);
    errno = error;
    return -1;
  }
  const long limit = close_limit();
  const pid_t pid = fork();
  if (pid == 0)
    exec_page(command, ends[1], limit);
  const int error = errno;
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    errno = error;
    return -1;
  }
  // Set here too, so that the group exists before the panel may kill it.
  (void)setpgid(pid, pid);
  tracked[tracked_count++] = pid;
  run->pid = pid;
  run->pipe = ends[0];
  run->deadline_ms = now_ms + timeout_ms;
  run->status = -1;
  page_output_begin(&run->output);
  return 0;
}

// The command's end is looked at before its output is read: everything it
// wrote is in the pipe by then. What is left of its process group (jobs it
// started in the background) is killed with it. A command killed at its
// timeout leaves its output as read so far, a character it was cut in
// left out; one that ended by itself in the middle of a character wrote
// no UTF-8.
int page_run_poll(PageRun *run, long long now_ms)
{
  if (run->pid < 0)
    return PAGE_RUN_DONE;
  const int state = command_state(run->pid);
  if (state == COMMAND_ENDED)
    (void)kill(-run->pid, SIGKILL);
  read_output(run);
  if (state != COMMAND_RUNS) {
    close_output(run);
    page_output_end(&run->output);
    int status = 0;
    run->status = waitpid(run->pid, &status, WNOHANG) == run->pid ? status : -1;
    forget(run->pid);
    run->pid = -1;
    return PAGE_RUN_DONE;
  }
  if (now_ms < run->deadline_ms)
    return PAGE_RUN_BUSY;
  page_run_cancel(run);
  return PAGE_RUN_TIMED_OUT;
}

void page_run_cancel(PageRun *run)
{
  close_output(run);
  if (run->pid < 0)
    return;
  (void)kill(-run->pid, SIGKILL);
  forget(run->pid);
  run->pid = -1;
}

// A child is looked at before it is collected: one a run still tracks is
// left to that run, which collects it on its next poll, and what ended
// after it waits for the next pass.
void page_run_reap()
{
  for (int i = 0; i < REAPS_PER_PASS; i++) {
    siginfo_t info{};
    info.si_pid = 0;
    if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 || info.si_pid == 0 ||
        is_tracked(info.si_pid))
      return;
    (void)waitpid(info.si_pid, nullptr, WNOHANG);
  }
}
