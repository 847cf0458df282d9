// The console's output: whole lines on standard output for the operations,
// and failure lines on standard error, which also mark the session failed.
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pthread.h>

#include "console_internal.h"
#include "lcm.h"

FILE *console_input;

namespace {

// Standard output is shared by the foreground and the watcher thread. A prompt
// leaves its line open while the user types; whoever prints next ends it first.
pthread_mutex_t output_lock = PTHREAD_MUTEX_INITIALIZER;
bool line_open;

std::atomic<bool> failed{false};
// The errno of the first write of standard output that failed, or 0.
std::atomic<int> output_error{0};

// Called with output_lock held.
void flush_locked()
{
  errno = 0;
  if (fflush(stdout) == 0)
    return;
  int none = 0;
  output_error.compare_exchange_strong(none, errno != 0 ? errno : EIO);
}

void end_open_line_locked()
{
  if (line_open) {
    fputc('\n', stdout);
    line_open = false;
  }
}

} // namespace

// One printf per line: stdio locks the stream for each call, so a line of
// the driver's own cannot fall inside it either.
void console_say(const char *line)
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  printf("%s\n", line);
  flush_locked();
  pthread_mutex_unlock(&output_lock);
}

void console_prompt(const char *text)
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  fputs(text, stdout);
  flush_locked();
  line_open = true;
  pthread_mutex_unlock(&output_lock);
}

void console_end_prompt_line()
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  flush_locked();
  pthread_mutex_unlock(&output_lock);
}

void console_answer_line_ended()
{
  pthread_mutex_lock(&output_lock);
  line_open = false;
  pthread_mutex_unlock(&output_lock);
}

void console_lock_output()
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
}

void console_unlock_output()
{
  flush_locked();
  pthread_mutex_unlock(&output_lock);
}

// Both streams may be one terminal: an open prompt line is ended first.
void console_remark(const char *text)
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  flush_locked();
  fprintf(stderr, "lcm-console: %s\n", text);
  pthread_mutex_unlock(&output_lock);
}

void console_complain(const char *text)
{
  failed.store(true);
  console_remark(text);
}

void console_report_failure(int error)
{
  std::array<char, 128> reason{};
  const char *what = nullptr;
  if (error == ETIMEDOUT)
    what = "the display module did not answer";
  else if (error == EBADF)
    what = "the port is not open";
  else
    what = strerror_r(error, reason.data(), reason.size());
  std::array<char, 256> line{};
  snprintf(line.data(), line.size(), "%s: %s", lcm_port_name(), what);
  console_complain(line.data());
}

void console_check(int result)
{
  if (result < 0)
    console_report_failure(errno);
}

int console_finish_output()
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  flush_locked();
  if (ferror(stdout) != 0) {
    int none = 0;
    output_error.compare_exchange_strong(none, EIO);
  }
  pthread_mutex_unlock(&output_lock);
  return output_error.load();
}

void console_note_failure()
{
  failed.store(true);
}

void console_clear_failures()
{
  failed.store(false);
}

bool console_any_failure()
{
  return failed.load();
}
