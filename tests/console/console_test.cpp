#include <cerrno>
#include <string>

#include "bytes.h"
#include "console_fixture.h"

namespace {

using Console = ConsoleTest;

int at_row_1_column_3(unsigned char code)
{
  return code == 0x0A ? 0x43 : -1;
}

TEST_F(Console, EachOperationPrintsItsLinesAndSendsItsBytes)
{
  struct Case {
    int number;
    const char *name;
    std::string output;
    Bytes sent;
  };
  const Case cases[] = {
      {1, "show_position", "Cursor is located on row 0, column 5 now.\n", {0xFE, 0x0A}},
      {3, "display_on", "Turn display on now!\n", {0xFE, 0x01}},
      {4, "display_off", "Turn display off now!\n", {0xFE, 0x02}},
      {5, "show_cursor", "Show cursor now!\n", {0xFE, 0x05}},
      {6, "hide_cursor", "Don't show cursor now!\n", {0xFE, 0x06}},
      {7, "cursor_home", "Cursor is moved to home position now!\n", {0xFE, 0x0A, 0xFE, 0x09, 0x00}},
      {8, "cursor_next", "Cursor is moved to next column now!\n", {0xFE, 0x0A, 0xFE, 0x09, 0x06}},
      {9, "cursor_prev", "Cursor is moved to previous column now!\n", {0xFE, 0x0A, 0xFE, 0x09, 0x04}},
      {10,
       "cursor_backspace",
       "Cursor is backspaced now!\nrow = 0, column = 4\n",
       {0xFE, 0x0A, 0xFE, 0x09, 0x04, 0xFE, 0x0A, 0x20, 0xFE, 0x09, 0x04}},
      {11, "clear_screen", "LCM is cleared!\n", {0xFE, 0x03}},
  };
  for (const Case &c : cases) {
    for (const std::string &entry : {std::string(c.name), std::to_string(c.number)}) {
      // Each case starts with the cursor at column 5, not on the cell the case
      // before placed it on; a backspace then finds it where it placed it.
      (void)lcm_clear();
      fake_reset();
      fake_queue_replies({0x05, 0x04});
      EXPECT_EQ(console_session(entry + "\n"), c.output) << entry;
      EXPECT_EQ(fake_sent(), c.sent) << entry;
    }
  }
}

TEST_F(Console, ShowPositionReportsOnlyWhatTheModuleSaid)
{
  fake_set_responder(at_row_1_column_3);
  EXPECT_EQ(console_session("show_position\n"), "Cursor is located on row 1, column 3 now.\n");

  fake_reset();
  const SessionResult silent = console_session_result("show_position\ncursor_next\n");
  EXPECT_EQ(silent.status, 1);
  EXPECT_EQ(silent.out, "Cursor is moved to next column now!\n");
  EXPECT_EQ(silent.err, "lcm-console: /dev/ttyS1: the display module did not answer\n"
                        "lcm-console: /dev/ttyS1: the display module did not answer\n");
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A, 0xFE, 0x0A})) << "no move without a position";
}

TEST_F(Console, InputPositionSendsRowTimes64PlusColumn)
{
  const std::string prompts = "Please input row:[0,1]\nPlease input column:[0-15]\n";
  struct Case {
    const char *input;
    Bytes sent;
  };
  const Case cases[] = {
      {"2\n1\n5\n", {0xFE, 0x09, 0x45}},
      {"input_position\n1 5\n", {0xFE, 0x09, 0x45}},
      {"input_position\n -0 3 \n", {0xFE, 0x09, 0x03}},
      {"input_position\n+1 2\r\n", {0xFE, 0x09, 0x42}},
      {"input_position\n1 \t\n\t5", {0xFE, 0x09, 0x45}},
      {"input_position\n0\n20\n", {0xFE, 0x09, 0x14}},
      {"input_position\n0\n300\n", {0xFE, 0x09, 0x2C}},
      {"input_position\n0 2147483647\n", {0xFE, 0x09, 0xFF}},
      {"input_position\n1 -2147483648\n", {0xFE, 0x09, 0x40}},
      {"input_position\n1\n5 and the rest is dropped\n", {0xFE, 0x09, 0x45}},
  };
  for (const Case &c : cases) {
    fake_reset();
    EXPECT_EQ(console_session(c.input), prompts) << c.input;
    EXPECT_EQ(fake_sent(), c.sent) << c.input;
  }
}

// A number is a whole decimal token within int's range, or it is refused
// with nothing sent; the session then counts as failed. The rest of the
// offending line goes, and the next line is an entry again.
TEST_F(Console, InputPositionRefusesRowsAndAnythingButWholeNumbers)
{
  const std::string row_prompt = "Please input row:[0,1]\n";
  const std::string both_prompts = row_prompt + "Please input column:[0-15]\n";
  const std::string incorrect = "Input data incorrect!!\n";
  const std::string row_refused = row_prompt + incorrect + "Show cursor now!\n";
  const std::string column_refused = both_prompts + incorrect + "Show cursor now!\n";
  struct Case {
    const char *answer;
    std::string output;
  };
  const Case cases[] = {
      {"2\n3\n", column_refused},
      {"-1 3\n", column_refused},
      {"4294967301 5\n", row_refused},
      {"0 4294967301\n", column_refused},
      {"99999999999 5\n", row_refused},
      {"2147483648 1\n", row_refused},
      {"-2147483649 1\n", row_refused},
      {"1e3 5\n", row_refused},
      {"0x10 5\n", row_refused},
      {"0 0x10\n", column_refused},
      {"1 5x\n", column_refused},
      {"5x 1\n", row_refused},
      {"1.0 5\n", row_refused},
      {"+ 1 5\n", row_refused},
      {"-\n", row_refused},
      {"\n", row_refused},
      {"  \t\n", row_refused},
      {"abc 5\n", row_refused},
      {"1\n\n", column_refused},
  };
  for (const Case &c : cases) {
    fake_reset();
    const std::string input = std::string("input_position\n") + c.answer + "show_cursor\n";
    const SessionResult result = console_session_result(input);
    EXPECT_EQ(result.status, 1) << input;
    EXPECT_EQ(result.err, "") << input;
    EXPECT_EQ(result.out, c.output) << input;
    EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x05})) << input;
  }
  for (const char *cut_short : {"input_position\n", "input_position\n1\n", "input_position\n1 "}) {
    fake_reset();
    const SessionResult result = console_session_result(cut_short);
    EXPECT_EQ(result.status, 1) << cut_short;
    EXPECT_EQ(result.out.substr(result.out.size() - incorrect.size()), incorrect) << cut_short;
    EXPECT_TRUE(fake_sent().empty()) << cut_short;
  }
}

TEST_F(Console, UnknownEntriesAreNamedOnStandardErrorAndTheConsoleGoesOn)
{
  const std::string huge(100000, 'x');
  const std::string binary("a\0b\xFF\x1B", 5);
  // Blanks after an entry are ignored however many; a word after them is not.
  const std::string blanks(40, ' ');
  const SessionResult result =
      console_session_result("bogus\n0\n15\n" + huge + "\n" + binary + "\n  display_on \t\r\n" +
                             "display_on" + blanks + "\n" + "display_on" + blanks + "x\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "Turn display on now!\nTurn display on now!\n");
  EXPECT_EQ(result.err, "lcm-console: unknown entry: bogus\nlcm-console: unknown entry: 0\n"
                        "lcm-console: unknown entry: 15\nlcm-console: unknown entry: " +
                            std::string(32, 'x') + "...\nlcm-console: unknown entry: a?b??\n" +
                            "lcm-console: unknown entry: display_on" + std::string(22, ' ') + "...\n");
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x01, 0xFE, 0x01}));
}

TEST_F(Console, NamesInAnyCaseQuitByNameOrNumberAndHelpShowsTheMenu)
{
  EXPECT_EQ(console_session("Display_ON\nSHOW_CURSOR\n"), "Turn display on now!\nShow cursor now!\n");
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x01, 0xFE, 0x05}));
  for (const char *quit : {"quit\n", "QUIT\n", "14\n"}) {
    fake_reset();
    EXPECT_EQ(console_session(std::string(quit) + "show_cursor\n"), "") << quit;
    EXPECT_TRUE(fake_sent().empty()) << quit;
  }
  for (const char *menu : {"\n", "help\n", " Help \n"}) {
    const std::string again = console_session(menu);
    EXPECT_EQ(again.rfind("Display module console", 0), 0U) << again;
    EXPECT_EQ(again.find(MENU_END), again.size() - MENU_END.size()) << again;
  }
  EXPECT_EQ(console_session(""), "");
  EXPECT_EQ(console_session("show_cursor"), "Show cursor now!\n") << "a last line without newline counts";
}

TEST_F(Console, DriverFailuresGoToStandardErrorAfterTheAnnouncement)
{
  fake_fail_writes(EIO);
  const SessionResult result = console_session_result("display_on\nshow_position\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "Turn display on now!\n");
  EXPECT_EQ(result.err, "lcm-console: /dev/ttyS1: Input/output error\n"
                        "lcm-console: /dev/ttyS1: Input/output error\n");
  fake_fail_writes(0);
  EXPECT_EQ(console_session("display_on\n"), "Turn display on now!\n") << "a new session starts clean";
}

} // namespace
