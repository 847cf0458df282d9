// The module's watch through the driver and the stand-in serial link, with
// the clock handed in: what a flaky line and a module that goes away put in
// the journal, and when the glass is to be sent again.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bytes.h"
#include "fake_port.h"
#include "panel_internal.h"

namespace {

constexpr long long SECOND_MS = 1000;
constexpr long long MINUTE_MS = 60 * SECOND_MS;

// How the stand-in module answers the next queries.
int queries;
int garble_every;
bool silent;

int module_reply(unsigned char code)
{
  if (code != 0x0B || silent)
    return -1;
  queries++;
  return garble_every > 0 && queries % garble_every == 0 ? 0xA5 : 0x0F;
}

class Watch : public ::testing::Test {
protected:
  void SetUp() override
  {
    queries = 0;
    garble_every = 0;
    silent = false;
    // Started here, so that the test sees only its own bytes.
    fake_queue_replies({0x0F});
    (void)lcm_get_buttons();
    fake_reset();
    fake_set_responder(module_reply);
    journal = open_memstream(&text, &size);
    ASSERT_NE(journal, nullptr);
    watch_begin(journal);
  }

  void TearDown() override
  {
    std::fclose(journal);
    std::free(text);
  }

  // Every line the journal got since the last look.
  std::string lines()
  {
    std::fflush(journal);
    const std::string all(text, size);
    std::string fresh = all.substr(seen);
    seen = all.size();
    return fresh;
  }

  // Queries from now on, step_ms apart; the result of the last one.
  int ask(int count, long long step_ms)
  {
    int result = -1;
    for (int i = 0; i < count; i++) {
      int reply = 0;
      result = watch_buttons(now, &reply);
      results[result < 0 ? 3 : result]++;
      now += step_ms;
    }
    return result;
  }

  long long now = 0;
  int results[4]{};

private:
  std::FILE *journal = nullptr;
  char *text = nullptr;
  size_t size = 0;
  size_t seen = 0;
};

// One reply in ten garbled: no absence, nothing sent again, and one line a
// minute with the count of that minute. The wire holds the queries alone.
TEST_F(Watch, FlakyLineIsCountedOnceAMinute)
{
  garble_every = 10;
  ask(100, 600);
  EXPECT_EQ(lines(), "");
  EXPECT_EQ(results[WATCH_ANSWERED], 90);
  EXPECT_EQ(results[WATCH_UNANSWERED], 10);
  // The last reply was garbled: doubtful until the next one, not away.
  EXPECT_EQ(watch_state(), WATCH_DOUBTFUL);
  // The minute from the first garbled reply, at 5.4 s, is up at 65.4 s.
  ask(10, 600);
  EXPECT_EQ(lines(), "lcm-panel: /dev/ttyS1: 10 replies garbled or missing in the last minute\n");
  ask(100, 600);
  EXPECT_EQ(lines(), "lcm-panel: /dev/ttyS1: 10 replies garbled or missing in the last minute\n");
  EXPECT_EQ(results[WATCH_BACK], 0);
  EXPECT_EQ(results[3], 0);
  Bytes queries_only;
  for (int i = 0; i < 210; i++)
    queries_only = queries_only + Bytes{0xFE, 0x0B};
  EXPECT_EQ(fake_sent(), queries_only);
}

// A lone reply that never came is no absence either.
TEST_F(Watch, LoneMissingReplyIsCountedToo)
{
  ask(5, 20);
  silent = true;
  EXPECT_EQ(ask(1, SECOND_MS), WATCH_UNANSWERED);
  EXPECT_EQ(watch_state(), WATCH_DOUBTFUL);
  silent = false;
  EXPECT_EQ(ask(1, MINUTE_MS), WATCH_ANSWERED);
  EXPECT_EQ(watch_state(), WATCH_PRESENT);
  EXPECT_EQ(lines(), "");
  ask(1, 10);
  EXPECT_EQ(lines(), "lcm-panel: /dev/ttyS1: 1 reply garbled or missing in the last minute\n");
}

// Queries failing for a second make an absence: said at once, and its end
// too, with the glass to be sent again. Another absence within the minute
// is not said, but counted; one that lasts is said once the minute is up.
TEST_F(Watch, AbsenceIsSaidAtMostOnceAMinute)
{
  ask(5, 20);
  silent = true;
  EXPECT_EQ(ask(1, SECOND_MS), WATCH_UNANSWERED);
  EXPECT_EQ(lines(), "");
  ask(1, SECOND_MS);
  EXPECT_EQ(watch_state(), WATCH_AWAY);
  EXPECT_EQ(lines(), "lcm-panel: /dev/ttyS1: the display module does not answer\n");
  // Garbled replies while away keep it away, and are not counted.
  silent = false;
  garble_every = 1;
  ask(5, 20);
  garble_every = 0;
  EXPECT_EQ(ask(1, 20), WATCH_BACK);
  EXPECT_EQ(ask(1, 20), WATCH_ANSWERED);
  EXPECT_EQ(lines(), "lcm-panel: /dev/ttyS1: the display module answers again\n");

  // Back within the minute: not said, the glass sent again all the same.
  silent = true;
  ask(3, SECOND_MS);
  silent = false;
  EXPECT_EQ(ask(1, 20), WATCH_BACK);
  EXPECT_EQ(lines(), "");
  ask(1, MINUTE_MS);
  ask(1, 20);
  EXPECT_EQ(lines(), "lcm-panel: /dev/ttyS1: the display module was away 1 more time in the last minute\n");

  // Away long after: said at once. Away again soon after that, and for
  // good: said once a minute has passed since the last line of an absence.
  now = 200 * SECOND_MS;
  silent = true;
  ask(30, SECOND_MS);
  EXPECT_EQ(lines(), "lcm-panel: /dev/ttyS1: the display module does not answer\n");
  EXPECT_EQ(ask(1, SECOND_MS), WATCH_UNANSWERED);
  silent = false;
  EXPECT_EQ(ask(1, SECOND_MS), WATCH_BACK);
  EXPECT_EQ(lines(), "lcm-panel: /dev/ttyS1: the display module answers again\n");
  now += 2 * SECOND_MS;
  silent = true;
  ask(60, SECOND_MS);
  EXPECT_EQ(lines(), "lcm-panel: /dev/ttyS1: the display module does not answer\n");
}

// A port that failed for good is no absence: the panel stops.
TEST_F(Watch, PortFailureEndsTheWatch)
{
  fake_fail_writes(EIO);
  int reply = 0;
  EXPECT_EQ(watch_buttons(0, &reply), -1);
  EXPECT_EQ(errno, EIO);
  fake_fail_writes(0);
  EXPECT_EQ(watch_go_on(-1), -1);
  errno = EAGAIN;
  EXPECT_EQ(watch_go_on(-1), 0);
}

} // namespace
