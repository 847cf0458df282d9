// Scenarios that need a driver that has not started yet. The parent process
// of these tests never touches the driver; each scenario runs in a child.
#include <cerrno>
#include <chrono>
#include <pthread.h>
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

TEST(ConsoleWithoutPort, AnnouncementsStillPrintAndEveryFailureIsNamed)
{
  in_fresh_process([] {
    fake_fail_open(true);
    const SessionResult result =
        console_session_result("show_cursor\nshow_position\ninput_position\n1\n5\nstart_watcher\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Show cursor now!\nPlease input row:[0,1]\nPlease input column:[0-15]\n");
    EXPECT_EQ(result.err,
              "lcm-console: /dev/ttyS1: the port is not open\n"
              "lcm-console: /dev/ttyS1: the port is not open\n"
              "lcm-console: /dev/ttyS1: the port is not open\n"
              "lcm-console: /dev/ttyS1: the port is not open; the button watcher is not started\n");
    EXPECT_EQ(watcher_run, 0);
    EXPECT_EQ(watcher_stop(), 1) << "no thread was started";
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

// The thread body itself, on a port that never opened: every query fails at
// once, so only the watcher's own pause keeps it from spinning.
TEST(WatcherStart, OnAPortThatNeverOpenedTheThreadPollsAtAModestPaceAndSaysSoOnce)
{
  in_fresh_process([] {
    fake_fail_open(true);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(watcher_start(), -1);
    EXPECT_EQ(errno, EBADF);
    const int calls_before = fake_discard_count();
    const auto begin = std::chrono::steady_clock::now();
    watcher_run = 1;
    pthread_t thread{};
    ASSERT_EQ(pthread_create(&thread, nullptr, button_watcher, nullptr), 0);
    EXPECT_TRUE(wait_until([&] { return fake_discard_count() > calls_before + 5; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    watcher_run = 0;
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const int queries = fake_discard_count() - calls_before;
    // Answered queries come about 100 a second; spinning would be tens of thousands.
    EXPECT_LT(queries / seconds, 1000.0) << queries << " queries in " << seconds << " s";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "lcm-console: /dev/ttyS1: the port is not open, the buttons cannot be queried\n");
  });
}

} // namespace
