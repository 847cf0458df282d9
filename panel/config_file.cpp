// The configuration file, read with inih: a [panel] section for the panel's
// own settings, a [page] section a page and an [action] section an action.
// inih splits the lines into sections and NAME = VALUE settings; the lines
// are handed to it one at a time from memory, so that every message can
// name its line, and the values are kept in a store set aside at start.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include "panel_internal.h"

namespace {

constexpr std::size_t FILE_MAX = 65536;
constexpr std::size_t LONGEST_LINE = 1024;
// inih's line buffer holds a CR, an LF and a NUL beyond the line.
constexpr int INIH_LINE_ROOM = 3;
constexpr std::size_t WHAT_SIZE = 256;
constexpr std::array<unsigned char, 3> BYTE_ORDER_MARK = {0xEF, 0xBB, 0xBF};

constexpr int SECTION_NONE = 0;
constexpr int SECTION_PANEL = 1;
constexpr int SECTION_PAGE = 2;
constexpr int SECTION_ACTION = 3;

// Every value is shorter than its line, so a store as large as the file
// holds all of them. Two stores: the settings in use point into one while
// a reread fills the other, and a reread that fails leaves the first alone.
struct ConfigStore {
  std::array<char, FILE_MAX> text;
  std::size_t used;
};
std::array<ConfigStore, 2> stores;
std::size_t store_in_use;
std::array<char, FILE_MAX + 1> file_text;

struct Reading {
  std::size_t length = 0;
  std::size_t at = 0;
  // The line last handed to inih, the section it stands in and where that began.
  int line = 0;
  int section = SECTION_NONE;
  int section_line = 0;
  // The settings given so far in this section, and in every [panel] section.
  unsigned seen = 0;
  unsigned panel_seen = 0;
  int exit_lines = 0;
  int error_line = 0;
  std::array<char, WHAT_SIZE> what{};
  PanelOptions *options = nullptr;
  ConfigStore *store = nullptr;
};

struct PanelTime {
  const char *name;
  int PanelOptions::*field;
  bool zero_turns_off;
};

constexpr std::array<PanelTime, 7> PANEL_TIMES = {{
    {"every", &PanelOptions::every_ms, false},
    {"timeout", &PanelOptions::timeout_ms, false},
    {"action-timeout", &PanelOptions::action_timeout_ms, false},
    {"rotate", &PanelOptions::rotate_ms, true},
    {"hold", &PanelOptions::hold_ms, true},
    {"refresh", &PanelOptions::refresh_ms, true},
    {"display-off-after", &PanelOptions::display_off_ms, true},
}};
constexpr unsigned SEEN_COMMAND = 1U << 0;
constexpr unsigned SEEN_EVERY = 1U << 1;
constexpr unsigned SEEN_TIMEOUT = 1U << 2;
constexpr unsigned SEEN_LABEL = 1U << 3;

void fail_at(Reading *reading, int line, const char *what)
{
  if (reading->error_line != 0)
    return;
  reading->error_line = line;
  snprintf(reading->what.data(), reading->what.size(), "%s", what);
}

void fail(Reading *reading, const char *what)
{
  fail_at(reading, reading->line, what);
}

const char *keep(Reading *reading, const char *value)
{
  ConfigStore *store = reading->store;
  const std::size_t length = strlen(value);
  if (length + 1 > store->text.size() - store->used) {
    fail(reading, "the file's values do not fit in the panel's store");
    return nullptr;
  }
  char *kept = store->text.data() + store->used;
  memcpy(kept, value, length + 1);
  store->used += length + 1;
  return kept;
}

// A setting given once only; false (said) for a second time.
bool first_time(Reading *reading, unsigned *seen, unsigned bit, const char *name)
{
  if ((*seen & bit) == 0) {
    *seen |= bit;
    return true;
  }
  char what[WHAT_SIZE];
  snprintf(what, sizeof what, "%s is set twice", name);
  fail(reading, what);
  return false;
}

void take_time(Reading *reading, const char *name, const char *value, bool zero_turns_off, int *ms)
{
  char what[WHAT_SIZE];
  if (panel_parse_seconds(name, value, zero_turns_off, ms, what, sizeof what) < 0)
    fail(reading, what);
}

// A text in double quotes keeps the blanks at its ends, which inih strips otherwise.
const char *unquoted(std::array<char, LONGEST_LINE + 1> *text, const char *value)
{
  const std::size_t length = strlen(value);
  if (length < 2 || value[0] != '"' || value[length - 1] != '"')
    return value;
  snprintf(text->data(), text->size(), "%.*s", static_cast<int>(length - 2), value + 1);
  return text->data();
}

void take_exit_line(Reading *reading, const char *value)
{
  PanelOptions *options = reading->options;
  if (reading->exit_lines == LCM_ROWS) {
    fail(reading, "exit-text is given twice at most: the first line, then the second");
    return;
  }
  std::array<char, LONGEST_LINE + 1> text{};
  const char *line = keep(reading, unquoted(&text, value));
  if (!line)
    return;
  if (reading->exit_lines == 0)
    options->exit_text[1] = "";
  options->exit_text[static_cast<std::size_t>(reading->exit_lines++)] = line;
  options->has_exit_text = true;
}

void take_listen(Reading *reading, const char *value)
{
  PanelOptions *options = reading->options;
  char what[WHAT_SIZE];
  if (panel_check_listen("listen", value, what, sizeof what) < 0) {
    fail(reading, what);
    return;
  }
  if (options->listen_count == PANEL_MAX_LISTEN) {
    snprintf(what, sizeof what, "more than %d listen addresses", PANEL_MAX_LISTEN);
    fail(reading, what);
    return;
  }
  const char *kept = keep(reading, value);
  if (kept)
    options->listen[static_cast<std::size_t>(options->listen_count++)] = kept;
}

void take_panel_setting(Reading *reading, const char *name, const char *value)
{
  if (strcmp(name, "listen") == 0) {
    take_listen(reading, value);
    return;
  }
  if (strcmp(name, "exit-text") == 0) {
    take_exit_line(reading, value);
    return;
  }
  for (std::size_t i = 0; i < PANEL_TIMES.size(); i++) {
    const PanelTime &time = PANEL_TIMES[i];
    if (strcmp(name, time.name) != 0)
      continue;
    if (first_time(reading, &reading->panel_seen, 1U << i, name))
      take_time(reading, name, value, time.zero_turns_off, &(reading->options->*time.field));
    return;
  }
  char what[WHAT_SIZE];
  snprintf(what, sizeof what,
           "unknown setting '%s' in [panel] (every, timeout, action-timeout, rotate, hold, refresh, "
           "display-off-after, listen, exit-text)",
           name);
  fail(reading, what);
}

void take_command(Reading *reading, const char *value, const char **command)
{
  if (value[0] == '\0') {
    fail(reading, "command wants a shell command line");
    return;
  }
  *command = keep(reading, value);
}

void take_page_setting(Reading *reading, const char *name, const char *value)
{
  PanelOptions *options = reading->options;
  const auto page = static_cast<std::size_t>(options->page_count - 1);
  if (strcmp(name, "command") == 0) {
    if (first_time(reading, &reading->seen, SEEN_COMMAND, name))
      take_command(reading, value, &options->pages[page]);
  } else if (strcmp(name, "every") == 0) {
    if (first_time(reading, &reading->seen, SEEN_EVERY, name))
      take_time(reading, name, value, false, &options->page_every_ms[page]);
  } else if (strcmp(name, "timeout") == 0) {
    if (first_time(reading, &reading->seen, SEEN_TIMEOUT, name))
      take_time(reading, name, value, false, &options->page_timeout_ms[page]);
  } else {
    char what[WHAT_SIZE];
    snprintf(what, sizeof what, "unknown setting '%s' in [page] (command, every, timeout)", name);
    fail(reading, what);
  }
}

void take_action_setting(Reading *reading, const char *name, const char *value)
{
  PanelOptions *options = reading->options;
  const auto action = static_cast<std::size_t>(options->action_count - 1);
  char what[WHAT_SIZE];
  if (strcmp(name, "label") == 0) {
    if (!first_time(reading, &reading->seen, SEEN_LABEL, name))
      return;
    if (panel_check_label("label", value, what, sizeof what) < 0)
      fail(reading, what);
    else
      options->action_labels[action] = keep(reading, value);
  } else if (strcmp(name, "command") == 0) {
    if (first_time(reading, &reading->seen, SEEN_COMMAND, name))
      take_command(reading, value, &options->action_commands[action]);
  } else if (strcmp(name, "timeout") == 0) {
    if (first_time(reading, &reading->seen, SEEN_TIMEOUT, name))
      take_time(reading, name, value, false, &options->action_own_timeout_ms[action]);
  } else {
    snprintf(what, sizeof what, "unknown setting '%s' in [action] (label, command, timeout)", name);
    fail(reading, what);
  }
}

// The line inih hands over stands in the section the reader last saw begin.
int take_setting(void *user, const char * /*section*/, const char *name, const char *value)
{
  auto *reading = static_cast<Reading *>(user);
  switch (reading->section) {
  case SECTION_PANEL:
    take_panel_setting(reading, name, value);
    break;
  case SECTION_PAGE:
    take_page_setting(reading, name, value);
    break;
  case SECTION_ACTION:
    take_action_setting(reading, name, value);
    break;
  default: {
    char what[WHAT_SIZE];
    snprintf(what, sizeof what, "%s: a setting before any section; the panel's own go under [panel]", name);
    fail(reading, what);
  }
  }
  return reading->error_line == 0 ? 1 : 0;
}

// A page or an action is whole once its section ends.
void end_section(Reading *reading)
{
  const PanelOptions *options = reading->options;
  const auto last_page = static_cast<std::size_t>(options->page_count - 1);
  const auto last_action = static_cast<std::size_t>(options->action_count - 1);
  if (reading->section == SECTION_PAGE && !options->pages[last_page])
    fail_at(reading, reading->section_line, "this [page] has no command");
  if (reading->section == SECTION_ACTION && !options->action_labels[last_action])
    fail_at(reading, reading->section_line, "this [action] has no label");
  if (reading->section == SECTION_ACTION && !options->action_commands[last_action])
    fail_at(reading, reading->section_line, "this [action] has no command");
}

// inih takes a line whose first byte past the blanks is '[' for a section,
// named by what stands before the first ']'.
void begin_section(Reading *reading, const char *line, std::size_t length)
{
  end_section(reading);
  const char *name = static_cast<const char *>(memchr(line, '[', length)) + 1;
  const auto *end =
      static_cast<const char *>(memchr(name, ']', length - static_cast<std::size_t>(name - line)));
  if (!end) {
    fail(reading, "a section's name wants its ']'");
    return;
  }
  const auto name_length = static_cast<std::size_t>(end - name);
  const auto is = [&](const char *kind) {
    return name_length == strlen(kind) && memcmp(name, kind, name_length) == 0;
  };
  PanelOptions *options = reading->options;
  char what[WHAT_SIZE];
  reading->section_line = reading->line;
  reading->seen = 0;
  if (is("panel")) {
    reading->section = SECTION_PANEL;
  } else if (is("page")) {
    reading->section = SECTION_PAGE;
    if (options->page_count == PANEL_MAX_PAGES) {
      snprintf(what, sizeof what, "more than %d pages", PANEL_MAX_PAGES);
      fail(reading, what);
      return;
    }
    options->pages[static_cast<std::size_t>(options->page_count++)] = nullptr;
  } else if (is("action")) {
    reading->section = SECTION_ACTION;
    if (options->action_count == PANEL_MAX_ACTIONS) {
      snprintf(what, sizeof what, "more than %d actions", PANEL_MAX_ACTIONS);
      fail(reading, what);
      return;
    }
    const auto action = static_cast<std::size_t>(options->action_count++);
    options->action_labels[action] = nullptr;
    options->action_commands[action] = nullptr;
  } else {
    snprintf(what, sizeof what, "unknown section [%.*s] (the sections are [panel], [page] and [action])",
             static_cast<int>(name_length), name);
    fail(reading, what);
  }
}

bool starts_section(const char *line, std::size_t length)
{
  std::size_t at = 0;
  while (at < length &&
         (line[at] == ' ' || line[at] == '\t' || line[at] == '\r' || line[at] == '\f' || line[at] == '\v'))
    at++;
  return at < length && line[at] == '[';
}

// inih's reader: the next line of the file, whole, or nullptr at the end
// and after the first mistake.
char *next_line(char *buffer, int size, void *stream)
{
  auto *reading = static_cast<Reading *>(stream);
  if (reading->error_line != 0)
    return nullptr;
  if (reading->at >= reading->length) {
    end_section(reading);
    return nullptr;
  }
  const char *line = file_text.data() + reading->at;
  const std::size_t left = reading->length - reading->at;
  const auto *newline = static_cast<const char *>(memchr(line, '\n', left));
  const std::size_t length = newline ? static_cast<std::size_t>(newline - line) + 1 : left;
  reading->at += length;
  reading->line++;
  const std::size_t text_length = newline ? length - 1 : length;
  char what[WHAT_SIZE];
  if (text_length > LONGEST_LINE || length + 1 > static_cast<std::size_t>(size)) {
    snprintf(what, sizeof what, "a line longer than %zu bytes", LONGEST_LINE);
    fail(reading, what);
    return nullptr;
  }
  if (memchr(line, '\0', length)) {
    fail(reading, "a NUL byte");
    return nullptr;
  }
  if (starts_section(line, length)) {
    begin_section(reading, line, length);
    if (reading->error_line != 0)
      return nullptr;
  }
  memcpy(buffer, line, length);
  buffer[length] = '\0';
  return buffer;
}

// A file that is not a regular one (a pipe, a device) could make the read
// wait without end.
int load_file(const char *path, std::size_t *length)
{
  const int descriptor = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (descriptor < 0)
    return -1;
  struct stat file {};
  if (fstat(descriptor, &file) < 0 || !S_ISREG(file.st_mode)) {
    const int error = S_ISREG(file.st_mode) ? errno : EINVAL;
    close(descriptor);
    errno = error;
    return -1;
  }
  std::size_t got = 0;
  while (got < file_text.size()) {
    const ssize_t count = read(descriptor, file_text.data() + got, file_text.size() - got);
    if (count < 0 && errno == EINTR)
      continue;
    if (count <= 0) {
      const int error = count < 0 ? errno : 0;
      close(descriptor);
      errno = error;
      if (count < 0)
        return -1;
      break;
    }
    got += static_cast<std::size_t>(count);
  }
  if (got == file_text.size()) {
    close(descriptor);
    errno = EFBIG;
    return -1;
  }
  *length = got;
  return 0;
}

void say_load_failure(const char *path, char *error, std::size_t error_size)
{
  char buffer[128];
  if (errno == EINVAL)
    snprintf(error, error_size, "%s: not a regular file", path);
  else if (errno == EFBIG)
    snprintf(error, error_size, "%s: longer than %zu bytes", path, FILE_MAX);
  else
    snprintf(error, error_size, "%s: %s", path, panel_reason(errno, buffer, sizeof buffer));
}

// Debian's inih takes its settings at run time: a ';' inside a shell
// command is no comment, an indented line no continuation of the one
// before, and a line may be as long as a command needs.
void set_up_inih()
{
  ini_allow_inline_comments = false;
  ini_allow_multiline = false;
  ini_allow_no_value = false;
  ini_stop_on_first_error = true;
  ini_use_stack = true;
  ini_max_line = static_cast<int>(LONGEST_LINE) + INIH_LINE_ROOM;
}

} // namespace

int panel_config_read(const char *path, PanelOptions *options, char *error, std::size_t error_size)
{
  std::size_t length = 0;
  if (load_file(path, &length) < 0) {
    say_load_failure(path, error, error_size);
    return -1;
  }
  PanelOptions read;
  ConfigStore *store = &stores[1 - store_in_use];
  store->used = 0;
  Reading reading;
  reading.length = length;
  reading.options = &read;
  reading.store = store;
  if (length >= BYTE_ORDER_MARK.size() && memcmp(file_text.data(), BYTE_ORDER_MARK.data(), 3) == 0)
    reading.at = BYTE_ORDER_MARK.size();
  set_up_inih();
  const int syntax_line = ini_parse_stream(next_line, &reading, take_setting, &reading);
  if (syntax_line > 0 && (reading.error_line == 0 || syntax_line < reading.error_line)) {
    snprintf(error, error_size, "%s:%d: neither a [section], a NAME = VALUE setting nor a comment", path,
             syntax_line);
    return -1;
  }
  if (reading.error_line != 0) {
    snprintf(error, error_size, "%s:%d: %s", path, reading.error_line, reading.what.data());
    return -1;
  }
  if (syntax_line < 0) {
    snprintf(error, error_size, "%s: cannot be read", path);
    return -1;
  }
  *options = read;
  store_in_use = 1 - store_in_use;
  return 0;
}
