// The driver starts itself on its first operation. The parent process of
// these tests never touches the driver; each scenario runs in a child.
#include <cerrno>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "bytes.h"
#include "fake_port.h"
#include "fresh_process.h"
#include "lcm.h"

namespace {

TEST(DriverStart, FirstOperationSendsTheStartUpSequenceOnce)
{
  in_fresh_process([] {
    EXPECT_EQ(lcm_clear(), 0);
    EXPECT_EQ(lcm_cursor(0), 0);
    EXPECT_EQ(fake_open_count(), 1);
    EXPECT_EQ(fake_sent(), (INIT_SEQUENCE + Bytes{0xFE, 0x03, 0xFE, 0x06}));
    ASSERT_FALSE(fake_writes().empty());
    EXPECT_EQ(fake_writes()[0].bytes, INIT_SEQUENCE) << "the start-up sequence goes out in one write";
  });
}

TEST(DriverStart, RefusedPositionStillStartsTheDriver)
{
  in_fresh_process([] {
    EXPECT_EQ(lcm_set_pos(2, 0), -1);
    EXPECT_EQ(fake_open_count(), 1);
    EXPECT_EQ(fake_sent(), INIT_SEQUENCE);
  });
}

TEST(DriverStart, FailedOpenHoldsAllTrafficBack)
{
  in_fresh_process([] {
    fake_fail_open(true);
    errno = 0;
    EXPECT_EQ(lcm_cursor(0), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(lcm_get_key(), -1) << "no phantom key from a port that never opened";
    int row = 9;
    int column = 9;
    EXPECT_EQ(lcm_get_pos(&row, &column), -1);
    EXPECT_EQ(row * 100 + column, 0);
    EXPECT_EQ(lcm_move(MOVE_HOME), -1);
    EXPECT_EQ(lcm_drain(), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_TRUE(fake_sent().empty());
    EXPECT_EQ(fake_open_count(), 1) << "the driver does not retry the open";
  });
}

TEST(DriverStart, ThreadsStartingTogetherStartItOnce)
{
  in_fresh_process([] {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; i++)
      threads.emplace_back([] { (void)lcm_cursor(0); });
    for (std::thread &t : threads)
      t.join();
    EXPECT_EQ(fake_open_count(), 1);
    Bytes expected = INIT_SEQUENCE;
    for (int i = 0; i < 8; i++)
      expected = expected + Bytes{0xFE, 0x06};
    EXPECT_EQ(fake_sent(), expected);
  });
}

} // namespace
