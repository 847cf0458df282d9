#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pthread.h>

#include "console_internal.h"

FILE *console_input;

namespace {

// Standard output is shared by the foreground and the watcher thread. A prompt
// leaves its line open while the user types; whoever prints next ends it first.
pthread_mutex_t output_lock = PTHREAD_MUTEX_INITIALIZER;
bool line_open;

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
  fflush(stdout);
  pthread_mutex_unlock(&output_lock);
}

void console_prompt(const char *text)
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  fputs(text, stdout);
  fflush(stdout);
  line_open = true;
  pthread_mutex_unlock(&output_lock);
}

void console_end_prompt_line()
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  fflush(stdout);
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
  fflush(stdout);
  pthread_mutex_unlock(&output_lock);
}

void console_report_failure(int error)
{
  if (error == ETIMEDOUT) {
    console_say("The display module did not answer!");
  } else if (error == EBADF) {
    console_say("The display port is not open!");
  } else {
    std::array<char, 128> reason{};
    std::array<char, 192> line{};
    snprintf(line.data(), line.size(), "Display command failed: %s",
             strerror_r(error, reason.data(), reason.size()));
    console_say(line.data());
  }
}

void console_check(int result)
{
  if (result < 0)
    console_report_failure(errno);
}
