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

#include "config_internal.h"
#include "panel_internal.h"

namespace {

// inih's line buffer holds a CR, an LF and a NUL beyond the line.
constexpr int INIH_LINE_ROOM = 3;
constexpr std::array<unsigned char, 3> BYTE_ORDER_MARK = {0xEF, 0xBB, 0xBF};

// Two stores: the settings in use point into one while a reread fills the
// other, and a reread that fails leaves the first alone.
std::array<ConfigStore, 2> stores;
std::size_t store_in_use;
std::array<char, CONFIG_FILE_MAX + 1> file_text;

// A page or an action is whole once its section ends.
void end_section(ConfigReading *reading)
{
  const PanelOptions *options = reading->options;
  const auto last_page = static_cast<std::size_t>(options->page_count - 1);
  const auto last_action = static_cast<std::size_t>(options->action_count - 1);
  if (reading->section == CONFIG_SECTION_PAGE && !options->pages[last_page])
    config_fail_at(reading, reading->section_line, "this [page] has no command");
  if (reading->section == CONFIG_SECTION_ACTION && !options->action_labels[last_action])
    config_fail_at(reading, reading->section_line, "this [action] has no label");
  if (reading->section == CONFIG_SECTION_ACTION && !options->action_commands[last_action])
    config_fail_at(reading, reading->section_line, "this [action] has no command");
}

// One more page or action, unless there are as many as there may be;
// false (said) then.
bool take_slot(ConfigReading *reading, int *count, int most, const char *kind)
{
  if (*count < most) {
    (*count)++;
    return true;
  }
  char what[CONFIG_WHAT_SIZE];
  snprintf(what, sizeof what, "more than %d %s", most, kind);
  config_fail(reading, what);
  return false;
}

// inih takes a line whose first byte past the blanks is '[' for a section,
// named by what stands before the first ']'.
void begin_section(ConfigReading *reading, const char *line, std::size_t length)
{
  end_section(reading);
  const char *name = static_cast<const char *>(memchr(line, '[', length)) + 1;
  const auto *end =
      static_cast<const char *>(memchr(name, ']', length - static_cast<std::size_t>(name - line)));
  if (!end) {
    config_fail(reading, "a section's name wants its ']'");
    return;
  }
  const auto name_length = static_cast<std::size_t>(end - name);
  const auto is = [&](const char *kind) {
    return name_length == strlen(kind) && memcmp(name, kind, name_length) == 0;
  };
  PanelOptions *options = reading->options;
  reading->section_line = reading->line;
  reading->seen = 0;
  if (is("panel")) {
    reading->section = CONFIG_SECTION_PANEL;
  } else if (is("page")) {
    reading->section = CONFIG_SECTION_PAGE;
    if (take_slot(reading, &options->page_count, PANEL_MAX_PAGES, "pages"))
      options->pages[static_cast<std::size_t>(options->page_count - 1)] = nullptr;
  } else if (is("action")) {
    reading->section = CONFIG_SECTION_ACTION;
    if (take_slot(reading, &options->action_count, PANEL_MAX_ACTIONS, "actions")) {
      const auto action = static_cast<std::size_t>(options->action_count - 1);
      options->action_labels[action] = nullptr;
      options->action_commands[action] = nullptr;
    }
  } else {
    char what[CONFIG_WHAT_SIZE];
    snprintf(what, sizeof what, "unknown section [%.*s] (the sections are [panel], [page] and [action])",
             static_cast<int>(name_length), name);
    config_fail(reading, what);
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
  auto *reading = static_cast<ConfigReading *>(stream);
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
  if (text_length > CONFIG_LONGEST_LINE || length + 1 > static_cast<std::size_t>(size)) {
    char what[CONFIG_WHAT_SIZE];
    snprintf(what, sizeof what, "a line longer than %zu bytes", CONFIG_LONGEST_LINE);
    config_fail(reading, what);
    return nullptr;
  }
  if (memchr(line, '\0', length)) {
    config_fail(reading, "a NUL byte");
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
    snprintf(error, error_size, "%s: longer than %zu bytes", path, CONFIG_FILE_MAX);
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
  ini_max_line = static_cast<int>(CONFIG_LONGEST_LINE) + INIH_LINE_ROOM;
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
  ConfigReading reading;
  reading.length = length;
  reading.options = &read;
  reading.store = store;
  if (length >= BYTE_ORDER_MARK.size() && memcmp(file_text.data(), BYTE_ORDER_MARK.data(), 3) == 0)
    reading.at = BYTE_ORDER_MARK.size();
  set_up_inih();
  const int syntax_line = ini_parse_stream(next_line, &reading, config_take_setting, &reading);
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
