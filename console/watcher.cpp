// The button watcher: the thread body that names and echoes each press, and
// its start and stop.
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

#include "console.h"
#include "console_internal.h"
#include "lcm.h"

std::atomic<int> watcher_run{0};

namespace {

pthread_mutex_t watcher_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_t watcher_thread;
bool watcher_exists;

constexpr useconds_t WATCH_PAUSE_US = 20;
// A query that fails at once (port not open) would otherwise spin the loop at
// the pace of the 20 us pause; this is the pace of a query that gets answered.
constexpr useconds_t DEAD_PORT_PAUSE_US = 10000;

template <std::size_t N> constexpr std::array<unsigned char, N - 1> text_of(const char (&literal)[N])
{
  std::array<unsigned char, N - 1> bytes{};
  for (std::size_t i = 0; i + 1 < N; i++)
    bytes[i] = static_cast<unsigned char>(literal[i]);
  return bytes;
}

constexpr auto UP_ECHO = text_of(" Up pushed ");
constexpr auto DOWN_ECHO = text_of(" Down pushed ");
constexpr auto RIGHT_ECHO = text_of(" Right pushed ");
constexpr auto LEFT_ECHO = text_of(" Left pushed ");
constexpr auto BLANK_ROW = text_of("                ");
static_assert(UP_ECHO.size() == 11 && DOWN_ECHO.size() == 13 && RIGHT_ECHO.size() == 14 &&
              LEFT_ECHO.size() == 13);
static_assert(BLANK_ROW.size() == LCM_COLUMNS);

// The wipe and the echo are one unit on the line: a foreground command
// between them would land on row 1 or move the echo.
void echo_key(const char *line, const unsigned char *text, int length)
{
  console_say(line);
  lcm_hold();
  (void)lcm_set_pos(1, 0);
  (void)lcm_write(LCM_COLUMNS, BLANK_ROW.data());
  (void)lcm_set_pos(1, 0);
  (void)lcm_write(length, text);
  lcm_release();
}

void report_key(int key)
{
  switch (key) {
  case KEY_UP:
    echo_key("Up button", UP_ECHO.data(), static_cast<int>(UP_ECHO.size()));
    break;
  case KEY_DOWN:
    echo_key("Down button", DOWN_ECHO.data(), static_cast<int>(DOWN_ECHO.size()));
    break;
  case KEY_RIGHT:
    echo_key("Right button", RIGHT_ECHO.data(), static_cast<int>(RIGHT_ECHO.size()));
    break;
  case KEY_LEFT:
    echo_key("Left button", LEFT_ECHO.data(), static_cast<int>(LEFT_ECHO.size()));
    break;
  default:
    break;
  }
}

// Said once when the queries start failing, not on every poll.
void report_lost(int error)
{
  std::array<char, 128> reason{};
  std::array<char, 256> line{};
  if (error == ETIMEDOUT)
    snprintf(line.data(), line.size(), "%s: the display module does not answer button queries",
             lcm_port_name());
  else if (error == EBADF)
    snprintf(line.data(), line.size(), "%s: the port is not open, the buttons cannot be queried",
             lcm_port_name());
  else
    snprintf(line.data(), line.size(), "%s: button queries fail: %s", lcm_port_name(),
             strerror_r(error, reason.data(), reason.size()));
  console_complain(line.data());
}

void report_found()
{
  std::array<char, 128> line{};
  snprintf(line.data(), line.size(), "%s: the display module answers button queries again", lcm_port_name());
  console_remark(line.data());
}

} // namespace

// A query without a reply (-1) names no button, nor does a chord of two or
// more buttons or any reply outside the four one-button replies.
void *button_watcher(void * /*unused*/)
{
  bool answering = true;
  while (watcher_run.load() != 0) {
    usleep(WATCH_PAUSE_US);
    const int reply = lcm_get_buttons();
    if (reply < 0) {
      const int error = errno;
      if (answering)
        report_lost(error);
      answering = false;
      if (error != ETIMEDOUT)
        usleep(DEAD_PORT_PAUSE_US);
      continue;
    }
    if (!answering)
      report_found();
    answering = true;
    report_key(lcm_key_of(reply));
  }
  pthread_exit(nullptr);
}

int watcher_start()
{
  pthread_mutex_lock(&watcher_lock);
  int result = 0;
  if (watcher_exists && watcher_run.load() != 0) {
    result = 1;
  } else {
    // A thread whose flag was cleared behind our back is ending: reap it.
    if (watcher_exists)
      pthread_join(watcher_thread, nullptr);
    watcher_exists = false;
    // The driver must have started before two threads use it. Asking where
    // the cursor is starts it and leaves the display and the buttons alone.
    // Without an open port there is nothing to watch.
    int row = 0;
    int column = 0;
    const bool port_open = lcm_get_pos(&row, &column) == 0 || errno != EBADF;
    int error = EBADF;
    if (port_open) {
      watcher_run.store(1);
      error = pthread_create(&watcher_thread, nullptr, button_watcher, nullptr);
    }
    if (error == 0) {
      watcher_exists = true;
    } else {
      watcher_run.store(0);
      errno = error;
      result = -1;
    }
  }
  pthread_mutex_unlock(&watcher_lock);
  return result;
}

int watcher_stop()
{
  pthread_mutex_lock(&watcher_lock);
  watcher_run.store(0);
  const int result = watcher_exists ? 0 : 1;
  if (watcher_exists)
    pthread_join(watcher_thread, nullptr);
  watcher_exists = false;
  pthread_mutex_unlock(&watcher_lock);
  return result;
}
