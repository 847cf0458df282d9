// The settings of the configuration file, each checked and kept as inih
// hands it over: the panel's own, a page's and an action's.
#include <array>
#include <cstdio>
#include <cstring>

#include "config_internal.h"
#include "panel_internal.h"

namespace {

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

const char *keep(ConfigReading *reading, const char *value)
{
  ConfigStore *store = reading->store;
  const std::size_t length = strlen(value);
  if (length + 1 > store->text.size() - store->used) {
    config_fail(reading, "the file's values do not fit in the panel's store");
    return nullptr;
  }
  char *kept = store->text.data() + store->used;
  memcpy(kept, value, length + 1);
  store->used += length + 1;
  return kept;
}

// A setting given once only; false (said) for a second time.
bool first_time(ConfigReading *reading, unsigned *seen, unsigned bit, const char *name)
{
  if ((*seen & bit) == 0) {
    *seen |= bit;
    return true;
  }
  char what[CONFIG_WHAT_SIZE];
  snprintf(what, sizeof what, "%s is set twice", name);
  config_fail(reading, what);
  return false;
}

void take_time(ConfigReading *reading, const char *name, const char *value, bool zero_turns_off, int *ms)
{
  char what[CONFIG_WHAT_SIZE];
  if (panel_parse_seconds(name, value, zero_turns_off, ms, what, sizeof what) < 0)
    config_fail(reading, what);
}

// A text in double quotes keeps the blanks at its ends, which inih strips otherwise.
const char *unquoted(std::array<char, CONFIG_LONGEST_LINE + 1> *text, const char *value)
{
  const std::size_t length = strlen(value);
  if (length < 2 || value[0] != '"' || value[length - 1] != '"')
    return value;
  snprintf(text->data(), text->size(), "%.*s", static_cast<int>(length - 2), value + 1);
  return text->data();
}

void take_exit_line(ConfigReading *reading, const char *value)
{
  PanelOptions *options = reading->options;
  if (reading->exit_lines == LCM_ROWS) {
    config_fail(reading, "exit-text is given twice at most: the first line, then the second");
    return;
  }
  std::array<char, CONFIG_LONGEST_LINE + 1> text{};
  const char *line = keep(reading, unquoted(&text, value));
  if (!line)
    return;
  if (reading->exit_lines == 0)
    options->exit_text[1] = "";
  options->exit_text[static_cast<std::size_t>(reading->exit_lines++)] = line;
  options->has_exit_text = true;
}

void take_listen(ConfigReading *reading, const char *value)
{
  PanelOptions *options = reading->options;
  char what[CONFIG_WHAT_SIZE];
  if (panel_check_listen("listen", value, what, sizeof what) < 0) {
    config_fail(reading, what);
    return;
  }
  if (options->listen_count == PANEL_MAX_LISTEN) {
    snprintf(what, sizeof what, "more than %d listen addresses", PANEL_MAX_LISTEN);
    config_fail(reading, what);
    return;
  }
  const char *kept = keep(reading, value);
  if (kept)
    options->listen[static_cast<std::size_t>(options->listen_count++)] = kept;
}

void take_panel_setting(ConfigReading *reading, const char *name, const char *value)
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
  char what[CONFIG_WHAT_SIZE];
  snprintf(what, sizeof what,
           "unknown setting '%s' in [panel] (every, timeout, action-timeout, rotate, hold, refresh, "
           "display-off-after, listen, exit-text)",
           name);
  config_fail(reading, what);
}

void take_command(ConfigReading *reading, const char *value, const char **command)
{
  if (value[0] == '\0') {
    config_fail(reading, "command wants a shell command line");
    return;
  }
  *command = keep(reading, value);
}

void take_page_setting(ConfigReading *reading, const char *name, const char *value)
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
    char what[CONFIG_WHAT_SIZE];
    snprintf(what, sizeof what, "unknown setting '%s' in [page] (command, every, timeout)", name);
    config_fail(reading, what);
  }
}

void take_action_setting(ConfigReading *reading, const char *name, const char *value)
{
  PanelOptions *options = reading->options;
  const auto action = static_cast<std::size_t>(options->action_count - 1);
  char what[CONFIG_WHAT_SIZE];
  if (strcmp(name, "label") == 0) {
    if (!first_time(reading, &reading->seen, SEEN_LABEL, name))
      return;
    if (panel_check_label("label", value, what, sizeof what) < 0)
      config_fail(reading, what);
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
    config_fail(reading, what);
  }
}

} // namespace

// The line inih hands over stands in the section the reader last saw begin.
int config_take_setting(void *user, const char * /*section*/, const char *name, const char *value)
{
  auto *reading = static_cast<ConfigReading *>(user);
  switch (reading->section) {
  case CONFIG_SECTION_PANEL:
    take_panel_setting(reading, name, value);
    break;
  case CONFIG_SECTION_PAGE:
    take_page_setting(reading, name, value);
    break;
  case CONFIG_SECTION_ACTION:
    take_action_setting(reading, name, value);
    break;
  default: {
    char what[CONFIG_WHAT_SIZE];
    snprintf(what, sizeof what, "%s: a setting before any section; the panel's own go under [panel]", name);
    config_fail(reading, what);
  }
  }
  return reading->error_line == 0 ? 1 : 0;
}

// Only the first mistake is kept: the reading stops there.
void config_fail_at(ConfigReading *reading, int line, const char *what)
{
  if (reading->error_line != 0)
    return;
  reading->error_line = line;
  snprintf(reading->what.data(), reading->what.size(), "%s", what);
}

void config_fail(ConfigReading *reading, const char *what)
{
  config_fail_at(reading, reading->line, what);
}
