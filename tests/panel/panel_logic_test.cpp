// The panel's pure logic: a page's output into two rows, paging, presses, options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panel.h"

namespace {

std::string text_of(const PanelRow &row)
{
  return std::string(row.begin(), row.end());
}

std::vector<std::string> rows_of(const std::string &output, size_t chunk)
{
  PageOutput parsed;
  page_output_begin(&parsed);
  const auto *bytes = reinterpret_cast<const unsigned char *>(output.data());
  for (size_t at = 0; at < output.size(); at += chunk)
    page_output_feed(&parsed, bytes + at, std::min(chunk, output.size() - at));
  page_output_end(&parsed);
  return {text_of(parsed.rows[0]), text_of(parsed.rows[1])};
}

std::string padded(const std::string &text)
{
  return text + std::string(16 - text.size(), ' ');
}

// The first two lines, each cut at 16 characters; the whole output is read
// as UTF-8 when it is valid UTF-8 and as ISO-8859-1 otherwise, however it
// is split between reads. Control characters show as '?'; a CR that ends a
// line, at a chunk's end or not, is dropped.
TEST(PageOutput, FirstTwoLinesCutTo16CharactersInTheOutputsEncoding)
{
  struct Case {
    std::string output;
    std::string row0;
    std::string row1;
  };
  const std::vector<Case> cases = {
      {"", "", ""},
      {"one line, no newline", "one line, no new", ""},
      {"host\n10.0.0.2 fd00::1\nthird\n", "host", "10.0.0.2 fd00::1"},
      {"\nsecond\n", "", "second"},
      {"exactly sixteen!\n0123456789abcdefX\n", "exactly sixteen!", "0123456789abcdef"},
      {"a\xfe"
       "b\n\xfe\n",
       "atb", "t"},
      {"Temp 21\xc2\xb0"
       "C\nGr\xc3\xb6\xc3\x9f"
       "e\n",
       "Temp 21*C", "Grose"},
      {"Temp 21\xb0"
       "C\nGr\xf6\xdf"
       "e\n",
       "Temp 21*C", "Grose"},
      {"\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84"
       "\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84\r\nnext",
       "AAAAAAAAAAAAAAAA", "next"},
      {"caf\xc3\xa9\n\xc3\xa9t\xc3\xa9\nthird line in ISO-8859-1: \xe9\n", "cafAC", "ACtAC"},
      {"caf\xc3", "cafA", ""},
      {"crlf\r\nline two\r\n", "crlf", "line two"},
      {"no newline at the end\r", "no newline at th", ""},
      {"cr\rinside\r\r\n", "cr?inside?", ""},
      {std::string("tab\there\x1b[1m\0nul\n", 17), "tab?here?[1m?nul", ""},
      {"\x7f\x1fx\x80\xff\x01\n\r", "??x?y?", ""},
      {"exactly sixteen!\r\nnext", "exactly sixteen!", "next"},
  };
  for (const Case &c : cases) {
    for (const size_t chunk : {size_t{1}, size_t{3}, size_t{4096}}) {
      EXPECT_EQ(rows_of(c.output, chunk), (std::vector<std::string>{padded(c.row0), padded(c.row1)}))
          << c.output << " in chunks of " << chunk;
    }
  }
}

// Until the output ends, a character begun in the last read is left out;
// an output that ended in it was not UTF-8.
TEST(PageOutput, ACharacterUnfinishedIsLeftOutUntilTheOutputEnds)
{
  PageOutput parsed;
  page_output_begin(&parsed);
  const unsigned char begun[] = {'2', '1', 0xC2};
  page_output_feed(&parsed, begun, sizeof begun);
  EXPECT_EQ(text_of(parsed.rows[0]), padded("21"));
  const unsigned char rest[] = {0xB0, 'C', 0xC2};
  page_output_feed(&parsed, rest, sizeof rest);
  EXPECT_EQ(text_of(parsed.rows[0]), padded("21*C"));
  page_output_end(&parsed);
  EXPECT_EQ(text_of(parsed.rows[0]), padded("21A*CA"));
}

TEST(PanelRowFromText, CutPaddedAndLeadByteReplaced)
{
  PanelRow row{};
  panel_row_from_text(&row, "Bye");
  EXPECT_EQ(text_of(row), padded("Bye"));
  panel_row_from_text(&row, "\xfe 0123456789abcdefgh");
  EXPECT_EQ(text_of(row), "? 0123456789abcd");
}

TEST(Paging, DownAndRightForwardUpAndLeftBackWrappingRound)
{
  EXPECT_EQ(panel_page_after(0, 3, KEY_DOWN), 1);
  EXPECT_EQ(panel_page_after(2, 3, KEY_DOWN), 0);
  EXPECT_EQ(panel_page_after(2, 3, KEY_RIGHT), 0);
  EXPECT_EQ(panel_page_after(0, 3, KEY_UP), 2);
  EXPECT_EQ(panel_page_after(0, 3, KEY_LEFT), 2);
  EXPECT_EQ(panel_page_after(1, 3, KEY_LEFT), 0);
  EXPECT_EQ(panel_page_after(0, 1, KEY_DOWN), 0);
  EXPECT_EQ(panel_page_after(0, 1, KEY_UP), 0);
  EXPECT_EQ(panel_page_after(1, 3, 0), 1);
  EXPECT_EQ(panel_page_after(1, 3, 0x0F), 1);
}

TEST(Presses, StartOnlyOnOneButtonRightAfterNone)
{
  // Raw replies: 0x0F none held, 0x0E Up, 0x07 Down, 0x0D Right, 0x0B Left;
  // 0x09 is Right with Left, 0x03 Down with Left.
  struct Case {
    int reply;
    int press;
    int held;
  };
  const std::vector<Case> cases = {
      {0x0D, 0, KEY_RIGHT}, // held since before the first look: no press
      {0x0F, 0, 0},
      {0x0E, KEY_UP, KEY_UP},
      {0x0E, 0, KEY_UP},
      {0x0F, 0, 0},
      {0x0D, KEY_RIGHT, KEY_RIGHT},
      {0x09, 0, 0},         // Left tapped while Right is down
      {0x0D, 0, KEY_RIGHT}, // Right alone again: not a fresh press
      {0x0F, 0, 0},
      {0x03, 0, 0},        // a chord is no press
      {0x0B, 0, KEY_LEFT}, // nor what is left of it
      {0x0F, 0, 0},
      {0xA5, 0, 0},
      {0x0D, 0, KEY_RIGHT},
      {0x0F, 0, 0},
      {0x01, 0, 0},
      {0x0F, 0, 0},
      {0x0B, KEY_LEFT, KEY_LEFT},
  };
  PanelButtons buttons;
  for (size_t i = 0; i < cases.size(); i++) {
    EXPECT_EQ(panel_press(&buttons, cases[i].reply, static_cast<long long>(i)), cases[i].press)
        << "reply " << i;
    EXPECT_EQ(buttons.held, cases[i].held) << "reply " << i;
  }
  EXPECT_EQ(buttons.held_since_ms, static_cast<long long>(cases.size() - 1));
}

// The options point into the argument vector, so the words stay here.
struct CommandLine {
  std::vector<std::string> words;
  std::vector<char *> argv;
  PanelOptions options;
  std::string error;

  explicit CommandLine(std::vector<std::string> arguments) : words(std::move(arguments))
  {
    words.insert(words.begin(), "lcm-panel");
    for (std::string &word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);
  }
  CommandLine(const CommandLine &) = delete;
  CommandLine &operator=(const CommandLine &) = delete;

  int parse()
  {
    char message[256] = "";
    const int result =
        panel_parse_options(static_cast<int>(words.size()), argv.data(), &options, message, sizeof message);
    error = message;
    return result;
  }
};

TEST(Options, DefaultsSecondsExitTextAndPagesAnywhere)
{
  CommandLine plain({"date"});
  ASSERT_EQ(plain.parse(), 0) << plain.error;
  EXPECT_EQ(plain.options.every_ms, 5000);
  EXPECT_EQ(plain.options.timeout_ms, 2000);
  EXPECT_EQ(plain.options.refresh_ms, 60000);
  EXPECT_EQ(plain.options.action_timeout_ms, 60000);
  EXPECT_EQ(plain.options.action_count, 0);
  EXPECT_FALSE(plain.options.has_exit_text);

  for (const char *zero : {"0", "0.000", ".0"}) {
    CommandLine off({"--refresh", zero, "date"});
    ASSERT_EQ(off.parse(), 0) << off.error;
    EXPECT_EQ(off.options.refresh_ms, 0) << zero;
  }

  CommandLine mixed({"uptime",
                     "--every",
                     "0.25",
                     "--timeout=.5",
                     "--refresh=2.5",
                     "--action",
                     "Restart network",
                     "systemctl restart networking",
                     "--action-timeout",
                     "90",
                     "--action",
                     "-",
                     "--",
                     "date",
                     "--exit-text",
                     "Bye",
                     "-x-",
                     "--",
                     "--help",
                     "-"});
  ASSERT_EQ(mixed.parse(), 0) << mixed.error;
  const PanelOptions &options = mixed.options;
  EXPECT_EQ(options.every_ms, 250);
  EXPECT_EQ(options.timeout_ms, 500);
  EXPECT_EQ(options.refresh_ms, 2500);
  EXPECT_EQ(options.action_timeout_ms, 90000);
  ASSERT_EQ(options.action_count, 2);
  EXPECT_STREQ(options.action_labels[0], "Restart network");
  EXPECT_STREQ(options.action_commands[0], "systemctl restart networking");
  EXPECT_STREQ(options.action_labels[1], "-");
  EXPECT_STREQ(options.action_commands[1], "--");
  ASSERT_TRUE(options.has_exit_text);
  EXPECT_STREQ(options.exit_text[0], "Bye");
  EXPECT_STREQ(options.exit_text[1], "-x-");
  EXPECT_FALSE(options.help);
  ASSERT_EQ(options.page_count, 4);
  EXPECT_STREQ(options.pages[0], "uptime");
  EXPECT_STREQ(options.pages[1], "date");
  EXPECT_STREQ(options.pages[2], "--help");
  EXPECT_STREQ(options.pages[3], "-");
}

TEST(Options, UsageErrorsSayWhat)
{
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no page given"},
      {{"--every", "0.05", "date"}, "--every wants seconds from 0.1 to 86400, at most 3 decimals: 0.05"},
      {{"--every", "1.0001", "date"}, "--every wants seconds from 0.1 to 86400, at most 3 decimals: 1.0001"},
      {{"--timeout", "-1", "date"}, "--timeout wants seconds from 0.1 to 86400, at most 3 decimals: -1"},
      {{"--timeout", "86401", "date"},
       "--timeout wants seconds from 0.1 to 86400, at most 3 decimals: 86401"},
      {{"--every", "99999999999999999999", "date"},
       "--every wants seconds from 0.1 to 86400, at most 3 decimals: 99999999999999999999"},
      {{"--every", "1s", "date"}, "--every wants seconds from 0.1 to 86400, at most 3 decimals: 1s"},
      {{"date", "--every"}, "--every wants a number of seconds"},
      {{"--refresh", "0.05", "date"},
       "--refresh wants 0 or seconds from 0.1 to 86400, at most 3 decimals: 0.05"},
      {{"--refresh", "-0", "date"}, "--refresh wants 0 or seconds from 0.1 to 86400, at most 3 decimals: -0"},
      {{"--every", "0", "date"}, "--every wants seconds from 0.1 to 86400, at most 3 decimals: 0"},
      {{"date", "--exit-text", "only one"}, "--exit-text wants two lines"},
      {{"date", "--exit-text=a", "b"}, "--exit-text takes its two lines as two arguments"},
      {{"-v", "date"}, "unknown option -v"},
      {{"date", "--action", "Label"}, "--action wants a label and a command"},
      {{"date", "--action=Label", "true"}, "--action takes its label and command as two arguments"},
      {{"date", "--action", "", "true"}, "--action wants a label of 1 to 15 bytes: ''"},
      {{"date", "--action", "Restart networks", "true"},
       "--action wants a label of 1 to 15 bytes: 'Restart networks'"},
      {{"date", "--action-timeout", "0", "true"},
       "--action-timeout wants seconds from 0.1 to 86400, at most 3 decimals: 0"},
  };
  for (const auto &[words, message] : cases) {
    CommandLine line(words);
    EXPECT_EQ(line.parse(), -1) << message;
    EXPECT_EQ(line.error, message);
  }
  CommandLine too_many(std::vector<std::string>(PANEL_MAX_PAGES + 1, "date"));
  EXPECT_EQ(too_many.parse(), -1);
  EXPECT_EQ(too_many.error, "at most 64 pages");
  CommandLine most(std::vector<std::string>(PANEL_MAX_PAGES, "date"));
  EXPECT_EQ(most.parse(), 0) << most.error;
  std::vector<std::string> actions = {"date"};
  for (int i = 0; i <= PANEL_MAX_ACTIONS; i++)
    actions.insert(actions.end(), {"--action", "A" + std::to_string(i), "true"});
  CommandLine too_many_actions(actions);
  EXPECT_EQ(too_many_actions.parse(), -1);
  EXPECT_EQ(too_many_actions.error, "at most 16 actions");
  actions.resize(actions.size() - 3);
  CommandLine most_actions(actions);
  EXPECT_EQ(most_actions.parse(), 0) << most_actions.error;
  EXPECT_EQ(most_actions.options.action_count, PANEL_MAX_ACTIONS);
}

} // namespace
