#include <cerrno>
#include <string>

#include "bytes.h"
#include "console_fixture.h"

namespace {

using Console = ConsoleTest;

int at_row_0_column_5(unsigned char code)
{
  return code == 0x0A ? 0x05 : -1;
}

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
      fake_reset();
      fake_set_responder(at_row_0_column_5);
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
  EXPECT_EQ(console_session("show_position\ncursor_next\n"),
            "The display module did not answer!\n"
            "Cursor is moved to next column now!\nThe display module did not answer!\n");
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
      {"input_position\n0\n20\n", {0xFE, 0x09, 0x14}},
      {"input_position\n0\n300\n", {0xFE, 0x09, 0x2C}},
      {"input_position\n1\n5 and the rest is dropped\n", {0xFE, 0x09, 0x45}},
  };
  for (const Case &c : cases) {
    fake_reset();
    EXPECT_EQ(console_session(c.input), prompts) << c.input;
    EXPECT_EQ(fake_sent(), c.sent) << c.input;
  }
}

TEST_F(Console, InputPositionRefusesRowsAndUnreadableNumbers)
{
  const std::string row_prompt = "Please input row:[0,1]\n";
  const std::string both_prompts = row_prompt + "Please input column:[0-15]\n";
  const std::string incorrect = "Input data incorrect!!\n";
  struct Case {
    const char *input;
    std::string output;
  };
  const Case cases[] = {
      {"input_position\n2\n3\n", both_prompts + incorrect},
      {"input_position\n-1\n3\n", both_prompts + incorrect},
      {"input_position\nabc 5\nshow_cursor\n", row_prompt + incorrect + "Show cursor now!\n"},
      {"input_position\n1\nx\nshow_cursor\n", both_prompts + incorrect + "Show cursor now!\n"},
      {"input_position\n1\n", both_prompts + incorrect},
      {"input_position\n", row_prompt + incorrect},
  };
  for (const Case &c : cases) {
    fake_reset();
    EXPECT_EQ(console_session(c.input), c.output) << c.input;
    const Bytes sent = fake_sent();
    const bool cursor_shown = c.output.find("Show cursor") != std::string::npos;
    EXPECT_EQ(sent, cursor_shown ? (Bytes{0xFE, 0x05}) : Bytes{}) << c.input;
  }
}

TEST_F(Console, UnknownEntriesAreNamedAndTheConsoleGoesOn)
{
  const std::string huge(100000, 'x');
  const std::string binary("a\0b\xFF\x1B", 5);
  EXPECT_EQ(console_session("bogus\n0\n15\n" + huge + "\n" + binary + "\n  display_on \t\r\n"),
            "Unknown entry: bogus\nUnknown entry: 0\nUnknown entry: 15\nUnknown entry: " +
                std::string(32, 'x') + "...\nUnknown entry: a?b??\nTurn display on now!\n");
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x01}));
}

TEST_F(Console, QuitEndsTheSessionAndAnEmptyLineShowsTheMenu)
{
  const std::string again = console_session("\nquit\nshow_cursor\n");
  EXPECT_EQ(again.rfind("Display module console", 0), 0U) << again;
  EXPECT_EQ(again.find(MENU_END), again.size() - MENU_END.size()) << again;
  EXPECT_TRUE(fake_sent().empty());
  EXPECT_EQ(console_session(""), "");
  EXPECT_EQ(console_session("show_cursor"), "Show cursor now!\n") << "a last line without newline counts";
}

TEST_F(Console, DriverFailuresAreReportedAfterTheAnnouncement)
{
  fake_fail_writes(EIO);
  EXPECT_EQ(console_session("display_on\nshow_position\n"),
            "Turn display on now!\nDisplay command failed: Input/output error\n"
            "Display command failed: Input/output error\n");
}

} // namespace
