// Internal to the configuration file's reading: what the reader of its
// lines (config_file.cpp) and the taker of its settings
// (config_settings.cpp) share. Only those two include it.
//
//   config_fail(&reading, what)               the first mistake, on the line last read
//   config_fail_at(&reading, line, what)      the first mistake, on the given line
//   config_take_setting(user, section, name, value)  inih's handler: NAME = VALUE in the section last begun
#ifndef LCM_PANEL_CONFIG_INTERNAL_H
#define LCM_PANEL_CONFIG_INTERNAL_H

#include <array>
#include <cstddef>

#include "panel.h"

constexpr std::size_t CONFIG_FILE_MAX = 65536;
constexpr std::size_t CONFIG_LONGEST_LINE = 1024;
constexpr std::size_t CONFIG_WHAT_SIZE = 256;

constexpr int CONFIG_SECTION_NONE = 0;
constexpr int CONFIG_SECTION_PANEL = 1;
constexpr int CONFIG_SECTION_PAGE = 2;
constexpr int CONFIG_SECTION_ACTION = 3;

// Every value is shorter than its line, so a store as large as the file
// holds all of them.
struct ConfigStore {
  std::array<char, CONFIG_FILE_MAX> text;
  std::size_t used;
};

struct ConfigReading {
  std::size_t length = 0;
  std::size_t at = 0;
  // The line last handed to inih, the section it stands in and where that began.
  int line = 0;
  int section = CONFIG_SECTION_NONE;
  int section_line = 0;
  // The settings given so far in this section, and in every [panel] section.
  unsigned seen = 0;
  unsigned panel_seen = 0;
  int exit_lines = 0;
  int error_line = 0;
  std::array<char, CONFIG_WHAT_SIZE> what{};
  PanelOptions *options = nullptr;
  ConfigStore *store = nullptr;
};

void config_fail(ConfigReading *reading, const char *what);
void config_fail_at(ConfigReading *reading, int line, const char *what);
int config_take_setting(void *user, const char *section, const char *name, const char *value);

#endif
