// The menu reader: entries read one a line, matched by number or name, and
// served until quit or the end of input.
#include <array>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "console_internal.h"
#include "lcm.h"

namespace {

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

void show_menu()
{
  console_lock_output();
  printf("Display module console; choose by number or name, one a line (help: this menu):\n");
  for (std::size_t i = 0; i < ENTRY_NAMES.size(); i++)
    printf("%2zu  %-17s %s\n", i + 1, ENTRY_NAMES[i], ENTRY_HELP[i]);
  printf("An empty line shows this menu again.\n");
  console_unlock_output();
}

// Reads one line, leading and trailing blanks left out. False at the end of
// input when no byte of a new line was read.
bool read_entry(FILE *input, Entry *entry)
{
  entry->length = 0;
  entry->cut = false;
  std::size_t kept = 0;
  int c = console_getc(input);
  if (c == EOF)
    return false;
  for (; c != EOF && c != '\n'; c = console_getc(input)) {
    if (kept == 0 && !entry->cut && console_is_blank(c))
      continue;
    // Blanks that no longer fit are trailing ones unless a word follows.
    if (kept < ENTRY_CAPACITY)
      entry->text[kept++] = static_cast<char>(c);
    else if (!console_is_blank(c))
      entry->cut = true;
    if (!console_is_blank(c))
      entry->length = kept;
  }
  return true;
}

bool same_name(const char *name, const Entry &entry)
{
  if (strlen(name) != entry.length)
    return false;
  for (std::size_t i = 0; i < entry.length; i++) {
    if (tolower(static_cast<unsigned char>(entry.text[i])) != name[i])
      return false;
  }
  return true;
}

// 1 to ENTRY_COUNT for a known number or name (in any case), else 0.
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
    if (same_name(ENTRY_NAMES[i], entry))
      return static_cast<int>(i) + 1;
  }
  return 0;
}

// Bytes a terminal would not show plainly are named as '?'.
void report_unknown(const Entry &entry)
{
  constexpr char HEAD[] = "unknown entry: ";
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
  console_complain(line.data());
}

void start_watcher_entry()
{
  switch (watcher_start()) {
  case 0:
    console_say("Button watcher is started now!");
    break;
  case 1:
    console_say("Button watcher is already running!");
    break;
  default:
    if (errno == EBADF) {
      std::array<char, 128> line{};
      snprintf(line.data(), line.size(), "%s: the port is not open; the button watcher is not started",
               lcm_port_name());
      console_complain(line.data());
    } else {
      std::array<char, 160> line{};
      std::array<char, 128> reason{};
      snprintf(line.data(), line.size(), "cannot start the button watcher: %s",
               strerror_r(errno, reason.data(), reason.size()));
      console_complain(line.data());
    }
    break;
  }
}

void stop_watcher_entry()
{
  console_say(watcher_stop() == 0 ? "Button watcher is stopped now!" : "Button watcher is not running!");
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

int console_run(FILE *input)
{
  console_input = input;
  console_clear_failures();
  console_prepare_input(input);
  show_menu();
  Entry entry;
  while (!console_stop_requested() && read_entry(input, &entry)) {
    if ((entry.length == 0 && !entry.cut) || same_name("help", entry)) {
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
    console_end_prompt_line();
  }
  const bool failed = ferror(input) != 0;
  const int read_errno = errno;
  (void)watcher_stop();
  console_end_prompt_line();
  console_input = nullptr;
  if (failed) {
    errno = read_errno;
    return -1;
  }
  return console_any_failure() ? 1 : 0;
}
