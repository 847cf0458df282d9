#include <atomic>
#include <chrono>
#include <pthread.h>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "bytes.h"
#include "console_fixture.h"

namespace {

using Watcher = ConsoleTest;
using namespace std::chrono_literals;

// The reply to the next button query; every later one names no button.
std::atomic<int> next_key_reply{0x0F};

int cursor_at_row_1(unsigned char code)
{
  if (code == 0x0A)
    return 0x40;
  return code == 0x0B ? next_key_reply.exchange(0x0F) : -1;
}

// Up held down for good, the cursor at row 1, column 0, where the watcher
// places it before each write.
int up_held(unsigned char code)
{
  return code == 0x0A ? 0x40 : 0x0E;
}

// Past the expected head, only button queries.
void expect_head_then_key_queries(const Bytes &sent, const Bytes &head)
{
  ASSERT_GE(sent.size(), head.size());
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + static_cast<long>(head.size())), head);
  for (size_t i = head.size(); i < sent.size(); i++)
    ASSERT_EQ(sent[i], (i - head.size()) % 2 == 0 ? 0xFE : 0x0B) << "at byte " << i;
}

// One pass gets the reply; every later one sees no button held. Only a reply
// with exactly one button held is named and echoed: a chord (Down+Left reads
// 0x03, whose value is KEY_RIGHT's code) and every value outside the four
// one-button replies name nothing and send nothing past the queries.
TEST_F(Watcher, OnlyAReplyWithExactlyOneButtonHeldIsNamedAndEchoed)
{
  struct Case {
    int reply;
    const char *line;
    const char *echo;
  };
  const Case cases[] = {{0x0E, "Up button\n", " Up pushed "},
                        {0x07, "Down button\n", " Down pushed "},
                        {0x0D, "Right button\n", " Right pushed "},
                        {0x0B, "Left button\n", " Left pushed "},
                        {0x03, "", nullptr},
                        {0x0C, "", nullptr},
                        {0x0A, "", nullptr},
                        {0x06, "", nullptr},
                        {0x09, "", nullptr},
                        {0x05, "", nullptr},
                        {0x01, "", nullptr},
                        {0x02, "", nullptr},
                        {0x04, "", nullptr},
                        {0x08, "", nullptr},
                        {0x00, "", nullptr},
                        {0x0F, "", nullptr},
                        {0x1E, "", nullptr},
                        {0x8D, "", nullptr},
                        {0x21, "", nullptr},
                        {0xFF, "", nullptr}};
  for (const Case &c : cases) {
    fake_reset();
    next_key_reply = c.reply;
    fake_set_responder(cursor_at_row_1);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(watcher_start(), 0);
    // Two passes after the one that got the reply.
    EXPECT_TRUE(wait_until([] { return key_queries_at_least(3); }));
    EXPECT_EQ(watcher_stop(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.line) << c.reply;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << c.reply;
    Bytes head = {0xFE, 0x0A, 0xFE, 0x0B};
    if (c.echo != nullptr)
      head = head + Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} + text_bytes(std::string(16, ' ')) +
             Bytes{0xFE, 0x09, 0x4F, 0xFE, 0x09, 0x40, 0xFE, 0x0A} + text_bytes(c.echo);
    SCOPED_TRACE(c.reply);
    expect_head_then_key_queries(fake_sent(), head);
  }
}

// Button queries 1-3 and from 40 on are answered with no button pressed,
// the 60th with Up; those between go unanswered.
std::atomic<int> key_queries_seen{0};

int silent_for_a_while(unsigned char code)
{
  if (code == 0x0A)
    return 0x40;
  const int query = ++key_queries_seen;
  if (query > 3 && query < 40)
    return -1;
  return query == 60 ? 0x0E : 0x0F;
}

TEST_F(Watcher, SaysOnceWhenTheModuleGoesQuietAndOnceWhenItIsBack)
{
  key_queries_seen = 0;
  fake_set_responder(silent_for_a_while);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(watcher_start(), 0);
  EXPECT_TRUE(wait_until([] { return key_queries_at_least(70); }));
  EXPECT_EQ(watcher_stop(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Up button\n")
      << "a press after the silence still shows";
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "lcm-console: /dev/ttyS1: the display module does not answer button queries\n"
            "lcm-console: /dev/ttyS1: the display module answers button queries again\n");
}

TEST_F(Watcher, ThreadEndsAtOnceWhenItsFlagIsClear)
{
  watcher_run = 0;
  pthread_t thread{};
  ASSERT_EQ(pthread_create(&thread, nullptr, button_watcher, nullptr), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  EXPECT_TRUE(fake_sent().empty());
  EXPECT_EQ(fake_read_count(), 0);
}

TEST_F(Watcher, StopWaitsForThePassInHandAndNothingFollowsIt)
{
  fake_set_responder(up_held);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(watcher_start(), 0);
  EXPECT_EQ(watcher_start(), 1);
  EXPECT_TRUE(wait_until([] { return key_queries_at_least(2); }));
  EXPECT_EQ(watcher_stop(), 0);
  EXPECT_EQ(watcher_run, 0);
  const Bytes at_stop = fake_sent();
  // Time for a thread that outlived the stop to show itself.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(fake_sent(), at_stop);
  (void)::testing::internal::GetCapturedStdout();
  const Bytes last_echo = Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} + text_bytes(" Up pushed ");
  ASSERT_GE(at_stop.size(), last_echo.size());
  EXPECT_EQ(Bytes(at_stop.end() - static_cast<long>(last_echo.size()), at_stop.end()), last_echo)
      << "the echo in hand is finished";
  EXPECT_EQ(watcher_stop(), 1);

  EXPECT_EQ(watcher_start(), 0) << "a stopped watcher starts again";
  const size_t before = count_commands(at_stop, 0x0B);
  EXPECT_TRUE(wait_until([before] { return key_queries_at_least(before + 2); }));
}

TEST_F(Watcher, ConsoleEntriesStartAndStopItAndTheEndOfInputStopsIt)
{
  fake_set_responder(cursor_at_row_1);
  EXPECT_EQ(console_session("start_watcher\n12\nstop_watcher\n13\n"),
            "Button watcher is started now!\nButton watcher is already running!\n"
            "Button watcher is stopped now!\nButton watcher is not running!\n");
  EXPECT_EQ(console_session("start_watcher\n"), "Button watcher is started now!\n");
  EXPECT_EQ(watcher_run, 0);
  EXPECT_EQ(watcher_stop(), 1) << "the session's end stopped it";
}

// The watcher and the foreground drive the module together: every command
// must arrive whole and every query must get its own reply.
TEST_F(Watcher, SharesTheDriverWithTheForegroundWithoutSplittingCommands)
{
  fake_set_responder(up_held);
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(watcher_start(), 0);
  const auto end = std::chrono::steady_clock::now() + 2s;
  while (std::chrono::steady_clock::now() < end) {
    show_position();
    display_on();
    cursor_next();
    hide_cursor();
  }
  EXPECT_EQ(watcher_stop(), 0);
  const std::string output = ::testing::internal::GetCapturedStdout();

  const std::vector<FakeWrite> writes = fake_writes();
  size_t queries = 0;
  size_t key_queries = 0;
  for (size_t i = 0; i < writes.size();) {
    const std::thread::id thread = writes[i].thread;
    if (writes[i].bytes == Bytes{0xFE}) {
      ASSERT_LT(i + 1, writes.size());
      const unsigned char code = writes[i + 1].bytes.at(0);
      const size_t length = code == 0x09 ? 3 : 2;
      ASSERT_LE(i + length, writes.size());
      for (size_t k = 1; k < length; k++)
        ASSERT_EQ(writes[i + k].thread, thread) << "command split at write " << i;
      queries += code == 0x0A || code == 0x0B ? 1 : 0;
      key_queries += code == 0x0B ? 1 : 0;
      i += length;
      continue;
    }
    std::string text;
    for (; i < writes.size() && writes[i].bytes != Bytes{0xFE}; i++) {
      ASSERT_EQ(writes[i].thread, thread) << "text split at write " << i;
      text += static_cast<char>(writes[i].bytes.at(0));
    }
    EXPECT_TRUE(text == std::string(16, ' ') || text == " Up pushed ") << text;
  }
  EXPECT_EQ(static_cast<int>(queries), fake_read_count());

  const std::set<std::string> foreground = {"Cursor is located on row 1, column 0 now.",
                                            "Turn display on now!", "Cursor is moved to next column now!",
                                            "Don't show cursor now!"};
  std::istringstream lines(output);
  size_t up_lines = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line == "Up button")
      up_lines++;
    else
      EXPECT_EQ(foreground.count(line), 1U) << "unexpected line: " << line;
  }
  EXPECT_GT(key_queries, 0U);
  EXPECT_EQ(up_lines, key_queries) << "every button query got the button's reply";
}

} // namespace
