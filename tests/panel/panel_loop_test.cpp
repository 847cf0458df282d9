// The panel's loop against the stand-in serial link: a module that goes away
// and comes back.
#include <gtest/gtest.h>

#include <csignal>

#include "fake_port.h"
#include "panel.h"
#include "wire.h"

namespace {

int position_queries;
int silent_button_queries;

// Positions as the module reports them for the rows drawn in turn, 0 then 1.
// After the first drawing the module is away for three button queries; once
// both rows are drawn again the panel is told to stop.
int away_after_first_draw(unsigned char code)
{
  if (code == 0x0A)
    return position_queries++ % 2 == 0 ? 0x00 : 0x40;
  if (position_queries == 2 && silent_button_queries > 0) {
    silent_button_queries--;
    return -1;
  }
  if (position_queries >= 4)
    panel_stop = SIGTERM;
  return 0x0F;
}

TEST(PanelLoop, ModuleAwaySaysSoOnceAndOnItsReturnEverythingIsSentAgain)
{
  // The driver starts on its first use; start it here to see only the panel's bytes.
  (void)lcm_clear();
  fake_reset();
  position_queries = 0;
  silent_button_queries = 3;
  fake_set_responder(away_after_first_draw);
  PanelOptions options;
  options.every_ms = 60000;
  options.page_count = 1;
  options.pages[0] = "echo A; echo B";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(panel_run(options), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "lcm-panel: /dev/ttyS1: the display module does not answer\n"
            "lcm-panel: /dev/ttyS1: the display module answers again\n");
  const Bytes display_on_cursor_off = {0xFE, 0x01, 0xFE, 0x06};
  EXPECT_EQ(without_key_queries(fake_sent(), 0), PANEL_START + panel_row(0, "A") + panel_row(1, "B") +
                                                     display_on_cursor_off + panel_row(0, "A") +
                                                     panel_row(1, "B"));
}

TEST(PanelLoop, FailedPortEndsWithOneLineAndStatus1)
{
  (void)lcm_clear();
  fake_reset();
  fake_fail_writes(EIO);
  PanelOptions options;
  options.page_count = 1;
  options.pages[0] = "echo A";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(panel_run(options), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "lcm-panel: /dev/ttyS1: Input/output error\n");
}

} // namespace
