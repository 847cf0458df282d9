#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "live_input.h"
#include "module.h"

namespace {

std::vector<LiveResult> type(LiveInput *state, const std::string &keys)
{
  std::vector<LiveResult> results;
  for (const char key : keys) {
    LiveResult result;
    emu_live_take(state, static_cast<unsigned char>(key), &result);
    results.push_back(result);
  }
  return results;
}

unsigned presses(const std::vector<LiveResult> &results)
{
  unsigned pressed = 0;
  for (const LiveResult &result : results)
    pressed |= result.pressed;
  return pressed;
}

TEST(LiveInput, ArrowKeysPressButtonsAndAreNotForwarded)
{
  LiveInput state;
  EXPECT_EQ(presses(type(&state, "\x1b[A")), BUTTON_UP);
  EXPECT_EQ(presses(type(&state, "\x1b[B")), BUTTON_DOWN);
  EXPECT_EQ(presses(type(&state, "\x1bOC")), BUTTON_RIGHT);
  EXPECT_EQ(presses(type(&state, "\x1b[D")), BUTTON_LEFT);
  // Other sequences (Ctrl-Up, F5, a lone Alt-x) are dropped whole.
  EXPECT_EQ(presses(type(&state, "\x1b[1;5A\x1b[15~\x1bx")), 0U);
  EXPECT_TRUE(state.line.empty());
  const std::vector<LiveResult> results = type(&state, "1\n");
  EXPECT_EQ(results[0].echo, "1");
  EXPECT_TRUE(results[1].line_done);
  EXPECT_EQ(results[1].line, "1\n");
}

TEST(LiveInput, BackspaceEditsTheLineAndCtrlDEndsTheInput)
{
  LiveInput state;
  std::vector<LiveResult> results = type(&state, "12\x7f"
                                                 "3\r");
  EXPECT_EQ(results[2].echo, "\b \b");
  EXPECT_EQ(results[4].line, "13\n");
  results = type(&state, "\x08"
                         "7\x04");
  EXPECT_EQ(results[0].echo, "");
  EXPECT_TRUE(results[2].input_done);
  EXPECT_TRUE(results[2].line_done);
  EXPECT_EQ(results[2].line, "7");
}

} // namespace
