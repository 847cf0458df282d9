// The screen against a stand-in for the driver: which cells go out, which
// rows go out again
// after a position query went unanswered or came back garbled, and after a
// write that failed outright.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <string>
#include <vector>

#include "panel.h"

namespace {

std::vector<std::string> calls;
// The errno each coming lcm_write fails with; 0 or none left: it succeeds.
std::deque<int> write_failures;

std::string row_text(const char *text)
{
  const std::string row(text);
  return row + std::string(LCM_COLUMNS - row.size(), ' ');
}

PanelRows rows_of(const char *row0, const char *row1)
{
  PanelRows rows{};
  panel_row_from_text(&rows.front(), row0);
  panel_row_from_text(&rows.back(), row1);
  return rows;
}

std::vector<std::string> take_calls()
{
  std::vector<std::string> taken;
  taken.swap(calls);
  return taken;
}

} // namespace

int lcm_clear()
{
  calls.emplace_back("clear");
  return 0;
}

int lcm_display(unsigned char on)
{
  calls.push_back("display " + std::to_string(on));
  return 0;
}

int lcm_cursor(unsigned char on)
{
  calls.push_back("cursor " + std::to_string(on));
  return 0;
}

int lcm_set_pos(int row, int column)
{
  calls.push_back("at " + std::to_string(row) + " " + std::to_string(column));
  return 0;
}

// Like the driver, the text counts as sent whatever the query before it got.
int lcm_write(int length, const unsigned char *text)
{
  calls.push_back(std::string(text, text + length));
  const int failure = write_failures.empty() ? 0 : write_failures.front();
  if (!write_failures.empty())
    write_failures.pop_front();
  if (failure == 0)
    return 0;
  errno = failure;
  return -1;
}

namespace {

TEST(Screen, RowSentUnansweredGoesAgainOnlyWhenChangedOrRestored)
{
  for (const int error : {ETIMEDOUT, EBADMSG, EAGAIN}) {
    SCOPED_TRACE(error);
    ASSERT_EQ(screen_start(), 0);
    take_calls();
    // Both rows go out though the first query fails; the failure is reported.
    write_failures = {error, error};
    errno = 0;
    EXPECT_EQ(screen_show(rows_of("one", "two")), -1);
    EXPECT_EQ(errno, error);
    EXPECT_TRUE(screen_is_silence(errno));
    EXPECT_EQ(take_calls(), (std::vector<std::string>{"at 0 0", "one", "at 1 0", "two"}));
    // Not on every pass: only the cells whose text changed.
    EXPECT_EQ(screen_show(rows_of("one", "two")), 0);
    EXPECT_EQ(screen_show(rows_of("one", "tWo!")), 0);
    EXPECT_EQ(take_calls(), (std::vector<std::string>{"at 1 1", "Wo!"}));
    // The module answers again: the whole screen goes once more.
    EXPECT_EQ(screen_restore(rows_of("one", "tWo!")), 0);
    EXPECT_EQ(take_calls(), (std::vector<std::string>{"display 1", "cursor 0", "at 0 0", row_text("one"),
                                                      "at 1 0", row_text("tWo!")}));
  }
}

TEST(Screen, WriteThatFailsOutrightStopsAndIsTriedAgain)
{
  ASSERT_EQ(screen_start(), 0);
  take_calls();
  write_failures = {EIO};
  EXPECT_EQ(screen_show(rows_of("one", "two")), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_FALSE(screen_is_silence(errno));
  EXPECT_EQ(take_calls(), (std::vector<std::string>{"at 0 0", "one"}));
  // A row whose drawing failed is not known: it goes whole.
  EXPECT_EQ(screen_show(rows_of("one", "two")), 0);
  EXPECT_EQ(take_calls(), (std::vector<std::string>{"at 0 0", row_text("one"), "at 1 0", "two"}));
}

} // namespace
