#include "console.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

#include "lcm.h"

std::atomic<int> watcher_run{0};

namespace {

// Standard output is shared by the foreground and the watcher thread. A prompt
// leaves its line open while the user types; whoever prints next ends it first.
pthread_mutex_t output_lock = PTHREAD_MUTEX_INITIALIZER;
bool line_open;

// The stream console_run serves; input_position reads its numbers from it.
FILE *console_input;

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

constexpr int ENTRY_COUNT = 14;
constexpr int ENTRY_START_WATCHER = 12;
constexpr int ENTRY_STOP_WATCHER = 13;
constexpr int ENTRY_QUIT = 14;

constexpr std::array<const char *, ENTRY_COUNT> ENTRY_NAMES = {
    "show_position", "input_position", "display_on",   "display_off", "show_cursor",
    "hide_cursor",   "cursor_home",    "cursor_next",  "cursor_prev", "cursor_backspace",
    "clear_screen",  "start_watcher",  "stop_watcher", "quit"};

constexpr std::array<const char *, ENTRY_COUNT> ENTRY_HELP = {
    "report where the cursor is",
    "place the cursor at the row and column read next",
    "turn the display on",
    "turn the display off",
    "show the cursor",
    "hide the cursor",
    "move the cursor to row 0, column 0",
    "move the cursor to the next column",
    "move the cursor to the previous column",
    "blank the cell left of the cursor",
    "clear the display",
    "start the button watcher",
    "stop the button watcher",
    "stop the watcher and leave"};

// Long enough for every entry name; longer lines are unknown entries.
constexpr std::size_t ENTRY_CAPACITY = 32;

struct Entry {
  std::array<char, ENTRY_CAPACITY> text{};
  std::size_t length = 0;
  bool cut = false;
};

void end_open_line_locked()
{
  if (line_open) {
    fputc('\n', stdout);
    line_open = false;
  }
}

// One printf per line: stdio locks the stream for each call, so a line of
// the driver's own cannot fall inside it either.
void say(const char *line)
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  printf("%s\n", line);
  fflush(stdout);
  pthread_mutex_unlock(&output_lock);
}

void prompt(const char *text)
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  fputs(text, stdout);
  fflush(stdout);
  line_open = true;
  pthread_mutex_unlock(&output_lock);
}

void end_prompt_line()
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  fflush(stdout);
  pthread_mutex_unlock(&output_lock);
}

void report_failure(int error)
{
  if (error == ETIMEDOUT) {
    say("The display module did not answer!");
  } else if (error == EBADF) {
    say("The display port is not open!");
  } else {
    std::array<char, 128> reason{};
    std::array<char, 192> line{};
    snprintf(line.data(), line.size(), "Display command failed: %s",
             strerror_r(error, reason.data(), reason.size()));
    say(line.data());
  }
}

void check(int result)
{
  if (result < 0)
    report_failure(errno);
}

// A terminal echoes the user's Enter, which ends the prompt's line; a pipe
// does not, so the prompt's line is ended by the next output.
bool read_number(FILE *input, int *value)
{
  // A decimal as "%d" takes it; input that does not convert shows in the count.
  const bool read = fscanf(input, "%d", value) == 1; // NOLINT(cert-err34-c)
  if (!feof(input) && isatty(fileno(input)) == 1) {
    pthread_mutex_lock(&output_lock);
    line_open = false;
    pthread_mutex_unlock(&output_lock);
  }
  return read;
}

void drop_rest_of_line(FILE *input)
{
  int c = 0;
  do
    c = getc(input);
  while (c != '\n' && c != EOF);
}

void echo_key(const char *line, const unsigned char *text, int length)
{
  say(line);
  (void)lcm_set_pos(1, 0);
  (void)lcm_write(LCM_COLUMNS, BLANK_ROW.data());
  (void)lcm_set_pos(1, 0);
  (void)lcm_write(length, text);
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

void show_menu()
{
  pthread_mutex_lock(&output_lock);
  end_open_line_locked();
  printf("Display module console; choose by number or name, one a line:\n");
  for (std::size_t i = 0; i < ENTRY_NAMES.size(); i++)
    printf("%2zu  %-17s %s\n", i + 1, ENTRY_NAMES[i], ENTRY_HELP[i]);
  printf("An empty line shows this menu again.\n");
  fflush(stdout);
  pthread_mutex_unlock(&output_lock);
}

bool is_blank(int c)
{
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Reads one line, leading and trailing blanks left out. False at the end of
// input when no byte of a new line was read.
bool read_entry(FILE *input, Entry *entry)
{
  entry->length = 0;
  entry->cut = false;
  std::size_t kept = 0;
  int c = getc(input);
  if (c == EOF)
    return false;
  for (; c != EOF && c != '\n'; c = getc(input)) {
    if (kept == 0 && !entry->cut && is_blank(c))
      continue;
    if (kept < ENTRY_CAPACITY)
      entry->text[kept++] = static_cast<char>(c);
    else
      entry->cut = true;
    if (!is_blank(c))
      entry->length = kept;
  }
  return true;
}

// 1 to ENTRY_COUNT for a known number or name, else 0.
int entry_number(const Entry &entry)
{
  if (entry.cut || entry.length == 0)
    return 0;
  const char *text = entry.text.data();
  if (entry.length <= 2 && isdigit(static_cast<unsigned char>(text[0])) &&
      isdigit(static_cast<unsigned char>(text[entry.length - 1]))) {
    const int number = entry.length == 1 ? text[0] - '0' : (text[0] - '0') * 10 + (text[1] - '0');
    return number >= 1 && number <= ENTRY_COUNT ? number : 0;
  }
  for (std::size_t i = 0; i < ENTRY_NAMES.size(); i++) {
    if (strlen(ENTRY_NAMES[i]) == entry.length && memcmp(ENTRY_NAMES[i], text, entry.length) == 0)
      return static_cast<int>(i) + 1;
  }
  return 0;
}

// Bytes a terminal would not show plainly are named as '?'.
void report_unknown(const Entry &entry)
{
  constexpr char HEAD[] = "Unknown entry: ";
  std::array<char, sizeof HEAD + ENTRY_CAPACITY + 4> line{};
  std::size_t at = 0;
  for (char c : HEAD) {
    if (c != '\0')
      line[at++] = c;
  }
  for (std::size_t i = 0; i < entry.length; i++) {
    const auto byte = static_cast<unsigned char>(entry.text[i]);
    line[at++] = isprint(byte) ? static_cast<char>(byte) : '?';
  }
  if (entry.cut) {
    for (int i = 0; i < 3; i++)
      line[at++] = '.';
  }
  line[at] = '\0';
  say(line.data());
}

void start_watcher_entry()
{
  switch (watcher_start()) {
  case 0:
    say("Button watcher is started now!");
    break;
  case 1:
    say("Button watcher is already running!");
    break;
  default:
    report_failure(errno);
    break;
  }
}

void stop_watcher_entry()
{
  say(watcher_stop() == 0 ? "Button watcher is stopped now!" : "Button watcher is not running!");
}

void serve_entry(int number)
{
  switch (number) {
  case 1:
    show_position();
    break;
  case 2:
    input_position();
    break;
  case 3:
    display_on();
    break;
  case 4:
    display_off();
    break;
  case 5:
    show_cursor();
    break;
  case 6:
    hide_cursor();
    break;
  case 7:
    cursor_home();
    break;
  case 8:
    cursor_next();
    break;
  case 9:
    cursor_prev();
    break;
  case 10:
    cursor_backspace();
    break;
  case 11:
    clear_screen();
    break;
  case ENTRY_START_WATCHER:
    start_watcher_entry();
    break;
  case ENTRY_STOP_WATCHER:
    stop_watcher_entry();
    break;
  default:
    break;
  }
}

} // namespace

void show_position()
{
  int row = 0;
  int column = 0;
  if (lcm_get_pos(&row, &column) < 0) {
    report_failure(errno);
    return;
  }
  std::array<char, 80> line{};
  snprintf(line.data(), line.size(), "Cursor is located on row %d, column %d now.", row, column);
  say(line.data());
}

// The column is not checked: it goes out reduced to 8 bits, as the module
// takes any position byte.
void input_position()
{
  FILE *input = console_input ? console_input : stdin;
  int row = 0;
  int column = 0;
  prompt("Please input row:[0,1]");
  bool read = read_number(input, &row);
  if (read) {
    prompt("Please input column:[0-15]");
    read = read_number(input, &column);
  }
  drop_rest_of_line(input);
  if (!read) {
    say("Input data incorrect!!");
    return;
  }
  end_prompt_line();
  if (lcm_set_pos(row, column) == 0)
    return;
  if (errno == EINVAL)
    say("Input data incorrect!!");
  else
    report_failure(errno);
}

void display_on()
{
  say("Turn display on now!");
  check(lcm_display(1));
}

void display_off()
{
  say("Turn display off now!");
  check(lcm_display(0));
}

void show_cursor()
{
  say("Show cursor now!");
  check(lcm_cursor(1));
}

void hide_cursor()
{
  say("Don't show cursor now!");
  check(lcm_cursor(0));
}

void cursor_home()
{
  say("Cursor is moved to home position now!");
  check(lcm_move(MOVE_HOME));
}

void cursor_next()
{
  say("Cursor is moved to next column now!");
  check(lcm_move(MOVE_NEXT));
}

void cursor_prev()
{
  say("Cursor is moved to previous column now!");
  check(lcm_move(MOVE_PREV));
}

// The driver adds its own line with the new position.
void cursor_backspace()
{
  say("Cursor is backspaced now!");
  check(lcm_move(MOVE_BACKSPACE));
}

void clear_screen()
{
  say("LCM is cleared!");
  check(lcm_clear());
}

// A query without a reply (-1) names no button, nor does any reply outside
// the four key codes.
void *button_watcher(void * /*unused*/)
{
  while (watcher_run.load() != 0) {
    usleep(WATCH_PAUSE_US);
    const int key = lcm_get_key();
    if (key < 0) {
      if (errno != ETIMEDOUT)
        usleep(DEAD_PORT_PAUSE_US);
      continue;
    }
    report_key(key & 0xFF);
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
    int row = 0;
    int column = 0;
    (void)lcm_get_pos(&row, &column);
    watcher_run.store(1);
    const int error = pthread_create(&watcher_thread, nullptr, button_watcher, nullptr);
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

int console_run(FILE *input)
{
  console_input = input;
  show_menu();
  Entry entry;
  while (read_entry(input, &entry)) {
    if (entry.length == 0 && !entry.cut) {
      show_menu();
      continue;
    }
    const int number = entry_number(entry);
    if (number == ENTRY_QUIT)
      break;
    if (number == 0)
      report_unknown(entry);
    else
      serve_entry(number);
    end_prompt_line();
  }
  const bool failed = ferror(input) != 0;
  const int read_errno = errno;
  (void)watcher_stop();
  end_prompt_line();
  console_input = nullptr;
  if (!failed)
    return 0;
  errno = read_errno;
  return -1;
}
