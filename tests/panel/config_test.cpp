// The configuration file: what it gives, what the command line changes, what
// --check-config prints, and each mistake named by its line; the display
// switched off when idle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "panel.h"

namespace {

struct ConfigFile {
  std::string path;
  explicit ConfigFile(const std::string &text) : path(::testing::TempDir() + "lcm_config.XXXXXX")
  {
    const int descriptor = mkstemp(path.data());
    EXPECT_GE(descriptor, 0);
    EXPECT_EQ(write(descriptor, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(descriptor);
  }
  ~ConfigFile()
  {
    unlink(path.c_str());
  }
  ConfigFile(const ConfigFile &) = delete;
  ConfigFile &operator=(const ConfigFile &) = delete;
};

// The message after "PATH:", or "" when the file checks.
std::string read_error(const std::string &path, PanelOptions *options)
{
  char error[512] = "";
  if (panel_config_read(path.c_str(), options, error, sizeof error) == 0)
    return "";
  const std::string message = error;
  EXPECT_EQ(message.rfind(path + ":", 0), 0U) << message;
  return message.substr(std::min(message.size(), path.size() + 1));
}

std::string printed(const PanelOptions &options)
{
  char *text = nullptr;
  size_t size = 0;
  FILE *stream = open_memstream(&text, &size);
  EXPECT_EQ(panel_config_print(options, stream), 0);
  fclose(stream);
  std::string result(text, size);
  free(text);
  return result;
}

std::string pages(int count)
{
  std::string text;
  for (int i = 0; i < count; i++)
    text += "[page]\ncommand = date\n";
  return text;
}

TEST(ConfigFile, EachMistakeStopsAtItsLine)
{
  const std::string panel_settings =
      "(every, timeout, action-timeout, rotate, hold, refresh, display-off-after, listen, exit-text)";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[panel]\nrotat = 1\n", "2: unknown setting 'rotat' in [panel] " + panel_settings},
      {"# no section yet\nrotate = 1\n",
       "2: rotate: a setting before any section; the panel's own go under [panel]"},
      {"[pages]\n", "1: unknown section [pages] (the sections are [panel], [page] and [action])"},
      {"[page\ncommand = date\n", "1: a section's name wants its ']'"},
      {"[page]\ncommand = date\nrefresh\n", "3: neither a [section], a NAME = VALUE setting nor a comment"},
      {"[page]\nevery = 1\n\n[page]\ncommand = date\n", "1: this [page] has no command"},
      {"[page]\ncommand = date\n[page]\n", "3: this [page] has no command"},
      {"[page]\ncommand = date\nlabel = Date\n",
       "3: unknown setting 'label' in [page] (command, every, timeout)"},
      {"[action]\ncommand = reboot\n", "1: this [action] has no label"},
      {"[action]\nlabel = Reboot\n", "1: this [action] has no command"},
      {"[action]\nlabel = Restart networks\ncommand = true\n",
       "2: label wants a label of 1 to 15 bytes: 'Restart networks'"},
      {"[action]\nlabel = IP\ncommand = hostname -I\nevery = 5\n",
       "4: unknown setting 'every' in [action] (label, command, timeout)"},
      {"[page]\ncommand = date\ncommand = uptime\n", "3: command is set twice"},
      {"[panel]\nrefresh = 60\n[panel]\nrefresh = 30\n", "4: refresh is set twice"},
      {"[panel]\nevery = 0\n", "2: every wants seconds from 0.1 to 86400, at most 3 decimals: 0"},
      {"[panel]\nrotate = 5s\n", "2: rotate wants 0 or seconds from 0.1 to 86400, at most 3 decimals: 5s"},
      {"[page]\ncommand = date\ntimeout = 0.05\n",
       "3: timeout wants seconds from 0.1 to 86400, at most 3 decimals: 0.05"},
      {"[page]\ncommand =\n", "2: command wants a shell command line"},
      {"[panel]\nlisten = localhost:13666\n",
       "2: listen wants a numeric ADDR:PORT or [ADDR]:PORT, e.g. 127.0.0.1:13666: localhost:13666"},
      {"[panel]\n"
       "listen = 127.0.0.1:1\nlisten = 127.0.0.1:2\nlisten = 127.0.0.1:3\nlisten = 127.0.0.1:4\n"
       "listen = 127.0.0.1:5\nlisten = 127.0.0.1:6\nlisten = 127.0.0.1:7\nlisten = 127.0.0.1:8\n"
       "listen = 127.0.0.1:9\n",
       "10: more than 8 listen addresses"},
      {"[panel]\nexit-text = Bye\nexit-text =\nexit-text = again\n",
       "4: exit-text is given twice at most: the first line, then the second"},
      {"[page]\ncommand = echo " + std::string(1020, 'x') + "\n", "2: a line longer than 1024 bytes"},
      {std::string("[page]\ncommand = echo a\0b\n", 24), "2: a NUL byte"},
      {pages(PANEL_MAX_PAGES + 1), "129: more than 64 pages"},
      // inih's own mistake comes first, before the section the reader refused.
      {"[panel]\ntimeout = 2\nrefresh\n[pagee]\n",
       "3: neither a [section], a NAME = VALUE setting nor a comment"},
  };
  for (const auto &[text, message] : cases) {
    const ConfigFile file(text);
    PanelOptions options;
    EXPECT_EQ(read_error(file.path, &options), message) << text;
  }
  const ConfigFile most(pages(PANEL_MAX_PAGES));
  PanelOptions options;
  EXPECT_EQ(read_error(most.path, &options), "");
  EXPECT_EQ(options.page_count, PANEL_MAX_PAGES);

  char error[512];
  EXPECT_EQ(panel_config_read("/nonexistent/lcm-panel.conf", &options, error, sizeof error), -1);
  EXPECT_STREQ(error, "/nonexistent/lcm-panel.conf: No such file or directory");
  const std::string folder = ::testing::TempDir();
  EXPECT_EQ(panel_config_read(folder.c_str(), &options, error, sizeof error), -1);
  EXPECT_EQ(std::string(error), folder + ": not a regular file");
  const ConfigFile large("# " + std::string(65536, '-') + "\n");
  EXPECT_EQ(panel_config_read(large.path.c_str(), &options, error, sizeof error), -1);
  EXPECT_EQ(std::string(error), large.path + ": longer than 65536 bytes");
}

// A byte-order mark, CRLF ends, indented lines and blanks before ';' and '#'
// inside commands are all taken as they read.
TEST(ConfigFile, EverySettingAndTheCommandLineOverIt)
{
  const ConfigFile file("\xEF\xBB\xBF; the panel\r\n"
                        "[panel]\r\n"
                        "every = 3\n"
                        "timeout = 1.5\n"
                        "action-timeout = 90\n"
                        "rotate = 10\n"
                        "hold = 30\n"
                        "refresh = 0\n"
                        "display-off-after = 300\n"
                        "listen = 127.0.0.1:13666\n"
                        "listen = [::1]:13666\n"
                        "exit-text = \"  Stopped \"\n"
                        "\n"
                        "[page]\n"
                        "  command = hostname ; hostname -I # both\n"
                        "  every = 60\n"
                        "[page]\n"
                        "command = uptime -p\n"
                        "timeout = 0.5\n"
                        "[action]\n"
                        "label = Show address\n"
                        "command = hostname -I\n"
                        "timeout = 10\n");
  PanelOptions options;
  ASSERT_EQ(read_error(file.path, &options), "");
  EXPECT_EQ(options.every_ms, 3000);
  EXPECT_EQ(options.timeout_ms, 1500);
  EXPECT_EQ(options.action_timeout_ms, 90000);
  EXPECT_EQ(options.rotate_ms, 10000);
  EXPECT_EQ(options.hold_ms, 30000);
  EXPECT_EQ(options.refresh_ms, 0);
  EXPECT_EQ(options.display_off_ms, 300000);
  ASSERT_EQ(options.listen_count, 2);
  EXPECT_STREQ(options.listen[1], "[::1]:13666");
  ASSERT_TRUE(options.has_exit_text);
  EXPECT_STREQ(options.exit_text[0], "  Stopped ");
  EXPECT_STREQ(options.exit_text[1], "");
  ASSERT_EQ(options.page_count, 2);
  EXPECT_STREQ(options.pages[0], "hostname ; hostname -I # both");
  EXPECT_EQ(options.page_every_ms[0], 60000);
  EXPECT_EQ(options.page_timeout_ms[0], 0);
  EXPECT_EQ(options.page_timeout_ms[1], 500);
  ASSERT_EQ(options.action_count, 1);
  EXPECT_STREQ(options.action_labels[0], "Show address");
  EXPECT_STREQ(options.action_commands[0], "hostname -I");
  EXPECT_EQ(options.action_own_timeout_ms[0], 10000);

  std::vector<std::string> words = {"lcm-panel", "--config", file.path, "--rotate", "0", "echo cli"};
  std::vector<char *> argv;
  for (std::string &word : words)
    argv.push_back(word.data());
  PanelOptions line;
  char error[512];
  ASSERT_EQ(panel_parse_options(static_cast<int>(argv.size()), argv.data(), &line, error, sizeof error), 0);
  PanelOptions merged;
  ASSERT_EQ(panel_config_load(line, &merged, error, sizeof error), 0) << error;
  EXPECT_EQ(merged.rotate_ms, 0);
  EXPECT_EQ(merged.hold_ms, 30000);
  ASSERT_EQ(merged.page_count, 1);
  EXPECT_STREQ(merged.pages[0], "echo cli");
  EXPECT_EQ(merged.page_every_ms[0], 0);
  EXPECT_EQ(merged.action_count, 1);
  EXPECT_EQ(merged.listen_count, 2);
}

// Every time is written out, each page's as it applies; what is printed
// reads back as the same settings.
TEST(ConfigFile, CheckConfigPrintsAFileThatReadsTheSame)
{
  const ConfigFile file("[panel]\nevery = 0.25\nexit-text = Bye\n\n"
                        "[page]\ncommand = date +%H:%M\ntimeout = 1\n"
                        "[action]\nlabel = IP\ncommand = hostname -I\n");
  PanelOptions options;
  ASSERT_EQ(read_error(file.path, &options), "");
  const std::string text = printed(options);
  EXPECT_EQ(text, "# lcm-panel would run with 1 page and 1 action.\n"
                  "[panel]\n"
                  "every = 0.25\n"
                  "timeout = 2\n"
                  "action-timeout = 60\n"
                  "rotate = 0\n"
                  "hold = 0\n"
                  "refresh = 60\n"
                  "display-off-after = 0\n"
                  "exit-text = \"Bye\"\n"
                  "exit-text = \"\"\n"
                  "\n"
                  "[page]\n"
                  "command = date +%H:%M\n"
                  "every = 0.25\n"
                  "timeout = 1\n"
                  "\n"
                  "[action]\n"
                  "label = IP\n"
                  "command = hostname -I\n"
                  "timeout = 60\n");
  const ConfigFile again(text);
  PanelOptions reread;
  ASSERT_EQ(read_error(again.path, &reread), "");
  EXPECT_EQ(printed(reread), text);
}

TEST(Idle, TheDisplayGoesOffUntilAPressWhichOnlyWakesIt)
{
  PanelSight page;
  page.page = 0;
  PanelGlass glass;
  idle_begin(0);
  const auto light_at = [&](const PanelSight &sight, int off_after_ms, long long now_ms) {
    glass = PanelGlass{};
    idle_look(sight, off_after_ms, now_ms, &glass);
    return glass.light;
  };
  EXPECT_EQ(light_at(page, 1000, 0), GLASS_LIGHT_ON);
  EXPECT_EQ(light_at(page, 1000, 999), GLASS_LIGHT_ON);
  EXPECT_EQ(light_at(page, 1000, 1000), GLASS_LIGHT_OFF);
  // The waking press, and the button held on, go no further.
  EXPECT_TRUE(idle_press(KEY_DOWN, KEY_DOWN, 1100));
  EXPECT_TRUE(idle_press(0, KEY_DOWN, 1150));
  EXPECT_FALSE(idle_press(0, 0, 1200));
  EXPECT_EQ(light_at(page, 1000, 1200), GLASS_LIGHT_ON);
  EXPECT_FALSE(idle_press(KEY_DOWN, KEY_DOWN, 1300));
  EXPECT_EQ(light_at(page, 1000, 2299), GLASS_LIGHT_ON);
  EXPECT_EQ(light_at(page, 1000, 2300), GLASS_LIGHT_OFF);
  // Another screen in view wakes it: an alert, the ring turning by itself.
  PanelSight alert;
  alert.screen = ScreenHandle{0, 1, 7};
  EXPECT_EQ(light_at(alert, 1000, 2400), GLASS_LIGHT_ON);
  EXPECT_EQ(light_at(alert, 1000, 3400), GLASS_LIGHT_OFF);
  PanelSight next_page;
  next_page.page = 1;
  EXPECT_EQ(light_at(next_page, 1000, 3500), GLASS_LIGHT_ON);
  // 0 keeps it on, also once it was off.
  EXPECT_EQ(light_at(next_page, 1000, 4500), GLASS_LIGHT_OFF);
  EXPECT_EQ(light_at(next_page, 0, 9000), GLASS_LIGHT_ON);
  EXPECT_FALSE(idle_press(KEY_UP, KEY_UP, 9100));
}

} // namespace
