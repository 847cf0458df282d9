// Scenarios that need a driver that has not started yet. The parent process
// of these tests never touches the driver; each scenario runs in a child.
#include <string>
#include <thread>
#include <vector>

#include "console_fixture.h"
#include "fresh_process.h"

namespace {

int unanswered(unsigned char /*code*/)
{
  return -1;
}

TEST(ConsoleWithoutPort, AnnouncementsStillPrintWhenThePortDidNotOpen)
{
  in_fresh_process([] {
    fake_fail_open(true);
    EXPECT_EQ(console_session("show_cursor\nshow_position\ninput_position\n1\n5\n"),
              "Show cursor now!\nThe display port is not open!\nThe display port is not open!\n"
              "Please input row:[0,1]\nPlease input column:[0-15]\nThe display port is not open!\n");
    EXPECT_TRUE(fake_sent().empty());
  });
}

TEST(WatcherStart, StartsTheDriverBeforeTheThreadQueries)
{
  in_fresh_process([] {
    fake_set_responder(unanswered);
    ASSERT_EQ(watcher_start(), 0);
    EXPECT_TRUE(wait_until([] { return key_queries_at_least(1); }));
    EXPECT_EQ(watcher_stop(), 0);
    const std::vector<FakeWrite> writes = fake_writes();
    ASSERT_GE(writes.size(), 5U);
    const auto host = std::this_thread::get_id();
    EXPECT_EQ(writes[0].bytes, INIT_SEQUENCE);
    EXPECT_EQ(writes[0].thread, host);
    EXPECT_EQ(writes[1].bytes, (Bytes{0xFE}));
    EXPECT_EQ(writes[2].bytes, (Bytes{0x0A}));
    EXPECT_EQ(writes[2].thread, host);
    EXPECT_EQ(writes[3].bytes, (Bytes{0xFE}));
    EXPECT_EQ(writes[4].bytes, (Bytes{0x0B}));
    EXPECT_NE(writes[4].thread, host) << "the first button query is the thread's";
  });
}

TEST(WatcherStart, ADeadPortNamesNoButtonAndStopsPromptly)
{
  in_fresh_process([] {
    fake_fail_open(true);
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(watcher_start(), 0);
    EXPECT_EQ(watcher_stop(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  });
}

} // namespace
