#include <cerrno>
#include <atomic>
#include <climits>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "bytes.h"
#include "fake_port.h"
#include "lcm.h"

namespace {

class Driver : public ::testing::Test {
protected:
  void SetUp() override
  {
    // The first operation of the process starts the driver; start it here so
    // that every test sees only its own bytes. A reply an earlier test left
    // owed is waited out here too.
    fake_queue_replies({0x0F});
    (void)lcm_get_key();
    fake_reset();
  }
};

TEST_F(Driver, PlainCommandsAreTwoBytesEach)
{
  EXPECT_EQ(lcm_display(1), 0);
  EXPECT_EQ(lcm_display(0), 0);
  EXPECT_EQ(lcm_cursor(7), 0);
  EXPECT_EQ(lcm_cursor(0), 0);
  EXPECT_EQ(lcm_clear(), 0);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x01, 0xFE, 0x02, 0xFE, 0x05, 0xFE, 0x06, 0xFE, 0x03}));
  for (const FakeWrite &w : fake_writes())
    EXPECT_EQ(w.bytes.size(), 1U) << "every byte goes out in a write of its own";
}

// Only a reply with exactly one button held names a key; lcm_get_key's
// results stay as they were for the others, and the raw reply is kept.
TEST_F(Driver, ButtonRepliesAsKeysAndRaw)
{
  const std::vector<std::pair<int, int>> replies_and_keys = {
      {0x0E, KEY_UP}, {0x07, KEY_DOWN}, {0x0D, KEY_RIGHT}, {0x0B, KEY_LEFT}, {0x0F, 0}, {0x09, 0},
      {0x03, 0},      {0x01, 0},        {0x02, 0},         {0x04, 0},        {0x00, 0}, {0xFE, 0},
  };
  for (const auto &[reply, key] : replies_and_keys) {
    EXPECT_EQ(lcm_key_of(reply), key) << reply;
    fake_queue_replies({static_cast<unsigned char>(reply)});
    EXPECT_EQ(lcm_get_buttons(), reply);
  }
  EXPECT_EQ(lcm_key_of(-1), 0);
  EXPECT_EQ(lcm_key_of(0x10E), 0);
  fake_set_responder([](unsigned char) { return -1; });
  EXPECT_EQ(lcm_get_buttons(), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
}

// The caller knows where the text lands: no position query, nothing past
// the row's end, no move after it, and 0xFE never goes as text.
TEST_F(Driver, WriteAtPlacesThenSendsWithoutAQuery)
{
  const unsigned char text[] = {'a', 'b', 0xFE, 'c', 'd', 'e'};
  EXPECT_EQ(lcm_write_at(1, 2, 3, text), 0);
  EXPECT_EQ(lcm_write_at(0, 13, 6, text), 0);
  EXPECT_EQ(lcm_write_at(0, 0, 0, text), 0);
  EXPECT_EQ(fake_sent(),
            (Bytes{0xFE, 0x09, 0x42, 'a', 'b', '?', 0xFE, 0x09, 0x0D, 'a', 'b', '?', 0xFE, 0x09, 0x00}));
  fake_reset();
  EXPECT_EQ(lcm_write_at(2, 0, 1, text), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(lcm_write_at(0, 16, 1, text), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(lcm_write_at(0, -1, 1, text), -1);
  EXPECT_EQ(fake_sent(), Bytes{});
  EXPECT_EQ(fake_read_count(), 0);
}

TEST_F(Driver, DisplayWithAnyNonzeroFlagTurnsItOn)
{
  for (const int on : {2, 0x80, 0xFF})
    EXPECT_EQ(lcm_display(static_cast<unsigned char>(on)), 0);
  EXPECT_EQ(fake_traffic(), "FE 01 FE 01 FE 01");
}

// A late reply left in the input must not answer the next query, and the
// module gets 10 ms before its reply is looked for.
TEST_F(Driver, QueriesDropStaleInputAndPauseBeforeTheReply)
{
  fake_queue_replies({0x0E, 0x45, 0x00});
  EXPECT_EQ(lcm_get_key(), KEY_UP);
  int row = 0;
  int column = 0;
  EXPECT_EQ(lcm_get_pos(&row, &column), 0);
  const Bytes text = text_bytes("A");
  EXPECT_EQ(lcm_write(1, text.data()), 0);
  EXPECT_EQ(fake_traffic(), "discard FE 0B discard FE 0A discard FE 0A 41");
  const std::vector<long long> delays = fake_read_delays();
  ASSERT_EQ(delays.size(), 3U);
  for (const long long delay : delays)
    EXPECT_GE(delay, 10000) << "microseconds between the code byte and the reply's poll";
}

// A module too slow for the read wait: each reply comes as the next query
// starts waiting. The late one is waited out and dropped before the next
// query's bytes, so the Up code meant for the first query is never a press.
TEST_F(Driver, ReplyOwedByAnUnansweredQueryIsWaitedOutAndDropped)
{
  errno = 0;
  EXPECT_EQ(lcm_get_key(), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  fake_late_reply(0x0E);
  fake_queue_replies({0x0F, 0x07});
  EXPECT_EQ(lcm_get_key(), 0x0F);
  EXPECT_EQ(lcm_get_key(), KEY_DOWN);
  EXPECT_EQ(fake_traffic(), "discard FE 0B discard FE 0B discard FE 0B");
  EXPECT_EQ(fake_read_count(), 4) << "one wait for the late reply, one for each query";
}

TEST_F(Driver, DrainReportsWhetherTheBytesLeft)
{
  EXPECT_EQ(lcm_drain(), 0);
  EXPECT_EQ(fake_traffic(), "drain");
  fake_fail_drain(ETIMEDOUT);
  errno = 0;
  EXPECT_EQ(lcm_drain(), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
}

TEST_F(Driver, SetPositionSendsRowTimes64PlusColumn)
{
  EXPECT_EQ(lcm_set_pos(1, 3), 0);
  EXPECT_EQ(lcm_set_pos(0, 16), 0);
  EXPECT_EQ(lcm_set_pos(1, 200), 0);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x09, 0x43, 0xFE, 0x09, 0x10, 0xFE, 0x09, 0x08}));
}

TEST_F(Driver, SetPositionRefusesRowsOtherThanZeroAndOne)
{
  for (int row : {2, -1, INT_MAX, INT_MIN}) {
    errno = 0;
    EXPECT_EQ(lcm_set_pos(row, 0), -1) << row;
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_TRUE(fake_sent().empty());
}

// Every reply byte: 0x00-0x7F are positions (row 1 from 0x40, column the low
// four bits); a byte with its top bit set cannot be one and fails the query.
TEST_F(Driver, PositionRepliesAreDecodedOrRefused)
{
  for (int reply = 0x00; reply <= 0xFF; reply++) {
    fake_reset();
    fake_queue_replies({static_cast<unsigned char>(reply)});
    int row = -1;
    int column = -1;
    errno = 0;
    const int result = lcm_get_pos(&row, &column);
    const bool position = reply < 0x80;
    EXPECT_EQ(result, position ? 0 : -1) << reply;
    EXPECT_EQ(errno, position ? 0 : EBADMSG) << reply;
    EXPECT_EQ(row, position && reply >= 0x40 ? 1 : 0) << reply;
    EXPECT_EQ(column, position ? reply & 0x0F : 0) << reply;
    EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A})) << reply;
  }
  // It was an answer, just a wrong one: no late reply is waited for after it.
  fake_reset();
  fake_queue_replies({0xA5, 0x41});
  EXPECT_EQ(lcm_get_pos(nullptr, nullptr), -1);
  int row = 0;
  int column = 0;
  EXPECT_EQ(lcm_get_pos(&row, &column), 0);
  EXPECT_EQ(row * 100 + column, 101);
  EXPECT_EQ(fake_read_count(), 2);
}

TEST_F(Driver, KeyRepliesAreDecoded)
{
  const std::pair<unsigned char, int> cases[] = {{0x0E, KEY_UP},   {0x07, KEY_DOWN}, {0x0D, KEY_RIGHT},
                                                 {0x0B, KEY_LEFT}, {0x0F, 15},       {0x01, 1},
                                                 {0xFF, 255}};
  for (auto [reply, key] : cases) {
    fake_reset();
    fake_queue_replies({reply});
    EXPECT_EQ(lcm_get_key(), key) << int{reply};
    EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0B}));
  }
}

// A case of its own: the module's cursor is where the case's replies say.
// The cell the case before placed the cursor on no longer counts, since
// another command has followed it.
void next_case()
{
  (void)lcm_display(1);
  fake_reset();
}

TEST_F(Driver, WriteIsClampedToTheCursorsRow)
{
  const Bytes twenty = text_bytes("ABCDEFGHIJKLMNOPQRST");

  fake_queue_replies({0x0A});
  EXPECT_EQ(lcm_write(10, twenty.data()), 0);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A} + text_bytes("ABCDEF") + Bytes{0xFE, 0x09, 0x0F}));

  next_case();
  fake_queue_replies({0x4A});
  EXPECT_EQ(lcm_write(10, twenty.data()), 0);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A} + text_bytes("ABCDEF") + Bytes{0xFE, 0x09, 0x4F}));

  next_case();
  fake_queue_replies({0x00});
  EXPECT_EQ(lcm_write(16, twenty.data()), 0);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A} + text_bytes("ABCDEFGHIJKLMNOP") + Bytes{0xFE, 0x09, 0x0F}));

  next_case();
  fake_queue_replies({0x00});
  EXPECT_EQ(lcm_write(15, twenty.data()), 0);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A} + text_bytes("ABCDEFGHIJKLMNO")));
}

// Right after a placing on a cell the module can only answer with that cell:
// any other answer is line noise (a low bit flipped) and no place to cut text
// at. After a placing past the row's end, or once another command has come
// between, the answer is taken as it comes.
TEST_F(Driver, ReplyThatContradictsThePlacingJustBeforeIsNoPosition)
{
  const Bytes nineteen = text_bytes("ABCDEFGHIJKLMNOPQRS");
  EXPECT_EQ(lcm_set_pos(0, 10), 0);
  fake_queue_replies({0x0A});
  EXPECT_EQ(lcm_write(19, nineteen.data()), 0);
  EXPECT_EQ(fake_sent(),
            (Bytes{0xFE, 0x09, 0x0A, 0xFE, 0x0A} + text_bytes("ABCDEF") + Bytes{0xFE, 0x09, 0x0F}));

  const std::pair<int, unsigned char> contradictions[] = {{0x00, 0x08}, {0x00, 0x40}, {0x40, 0x48},
                                                          {0x40, 0x00}, {0x4F, 0x4E}, {0x05, 0x45}};
  for (const auto &[placed, reply] : contradictions) {
    next_case();
    EXPECT_EQ(lcm_set_pos(placed >> 6, placed & 0x0F), 0);
    fake_queue_replies({reply});
    errno = 0;
    EXPECT_EQ(lcm_write(19, nineteen.data()), -1) << placed << " answered " << int{reply};
    EXPECT_EQ(errno, EBADMSG);
    EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x09, static_cast<unsigned char>(placed), 0xFE, 0x0A} +
                            Bytes(nineteen.begin(), nineteen.begin() + LCM_COLUMNS)))
        << "as at an unknown position: a row's width, and nothing moves the cursor after it";
  }

  next_case();
  EXPECT_EQ(lcm_set_pos(1, 0), 0);
  fake_queue_replies({0x00});
  int row = 7;
  int column = 7;
  EXPECT_EQ(lcm_get_pos(&row, &column), -1);
  EXPECT_EQ(errno, EBADMSG);
  EXPECT_EQ(row * 100 + column, 0);

  // Taken as they come: past the row's end, then after a command, a text
  // byte and a button query between the placing and the query.
  struct Between {
    int column;
    void (*command)();
  };
  const Between betweens[] = {{16, [] {}},
                              {0, [] { (void)lcm_cursor(0); }},
                              {0, [] { (void)lcm_write_at(0, 0, 1, text_bytes("x").data()); }},
                              {0, [] {
                                 fake_queue_replies({0x0F});
                                 (void)lcm_get_buttons();
                               }}};
  for (const Between &between : betweens) {
    next_case();
    EXPECT_EQ(lcm_set_pos(0, between.column), 0);
    between.command();
    fake_queue_replies({0x08});
    EXPECT_EQ(lcm_get_pos(&row, &column), 0) << fake_traffic();
    EXPECT_EQ(row * 100 + column, 8) << fake_traffic();
  }
}

TEST_F(Driver, WriteOfNothingStillAsksForThePosition)
{
  const Bytes text = text_bytes("X");
  for (int length : {0, -1, INT_MIN}) {
    fake_reset();
    fake_queue_replies({0x05});
    EXPECT_EQ(lcm_write(length, text.data()), 0);
    EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A}));
  }
  fake_reset();
  fake_queue_replies({0x05});
  EXPECT_EQ(lcm_write(5, nullptr), 0);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A}));
}

TEST_F(Driver, HugeLengthIsClampedWithoutOverflow)
{
  const Bytes text = text_bytes("abcdefghijklmnop");
  fake_queue_replies({0x05});
  EXPECT_EQ(lcm_write(INT_MAX, text.data()), 0);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A} + text_bytes("abcdefghijk") + Bytes{0xFE, 0x09, 0x0F}));
}

TEST_F(Driver, LeadByteInTextIsSentAsQuestionMark)
{
  const Bytes text = {0xFE, 0x02, 'a', 0xFE, 0xFD, 0x00};
  fake_queue_replies({0x00});
  EXPECT_EQ(lcm_write(6, text.data()), 0);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A, '?', 0x02, 'a', '?', 0xFD, 0x00}));
}

TEST_F(Driver, MovesSetTheNeighbouringColumn)
{
  struct Case {
    int kind;
    unsigned char reply;
    Bytes after_query;
  };
  const Case cases[] = {
      {MOVE_HOME, 0x47, {0xFE, 0x09, 0x00}}, {MOVE_NEXT, 0x03, {0xFE, 0x09, 0x04}},
      {MOVE_NEXT, 0x4F, {0xFE, 0x09, 0x4F}}, {MOVE_PREV, 0x43, {0xFE, 0x09, 0x42}},
      {MOVE_PREV, 0x40, {0xFE, 0x09, 0x40}}, {7, 0x05, {}},
  };
  for (const Case &c : cases) {
    next_case();
    fake_queue_replies({c.reply});
    EXPECT_EQ(lcm_move(c.kind), 0);
    EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A} + c.after_query)) << c.kind << " from " << int{c.reply};
  }
}

TEST_F(Driver, BackspaceBlanksThePreviousColumn)
{
  fake_queue_replies({0x05, 0x04});
  testing::internal::CaptureStdout();
  EXPECT_EQ(lcm_move(MOVE_BACKSPACE), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "row = 0, column = 4\n");
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A, 0xFE, 0x09, 0x04, 0xFE, 0x0A, 0x20, 0xFE, 0x09, 0x04}));

  next_case();
  fake_queue_replies({0x40, 0x40});
  testing::internal::CaptureStdout();
  EXPECT_EQ(lcm_move(MOVE_BACKSPACE), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "row = 1, column = 0\n");
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A, 0xFE, 0x09, 0x40, 0xFE, 0x0A, 0x20, 0xFE, 0x09, 0x40}));
}

TEST_F(Driver, QueryWithoutReplyIsAFailureNotACodeByte)
{
  errno = 0;
  EXPECT_EQ(lcm_get_key(), -1);
  EXPECT_EQ(errno, ETIMEDOUT);

  int row = 7;
  int column = 7;
  EXPECT_EQ(lcm_get_pos(&row, &column), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_EQ(row, 0);
  EXPECT_EQ(column, 0);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0B, 0xFE, 0x0A}));
}

TEST_F(Driver, WriteAtUnknownPositionSendsSixteenBytesAndFails)
{
  const Bytes twenty = text_bytes("ABCDEFGHIJKLMNOPQRST");
  errno = 0;
  EXPECT_EQ(lcm_write(20, twenty.data()), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A} + text_bytes("ABCDEFGHIJKLMNOP")));
}

TEST_F(Driver, MovesAtUnknownPositionGoHomeOnly)
{
  EXPECT_EQ(lcm_move(MOVE_HOME), -1);
  EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A, 0xFE, 0x09, 0x00}));
  for (int kind : {MOVE_NEXT, MOVE_PREV, MOVE_BACKSPACE}) {
    fake_reset();
    testing::internal::CaptureStdout();
    errno = 0;
    EXPECT_EQ(lcm_move(kind), -1) << kind;
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(fake_sent(), (Bytes{0xFE, 0x0A})) << kind;
  }
}

TEST_F(Driver, WriteFailuresReachTheCaller)
{
  fake_fail_writes(EIO);
  errno = 0;
  EXPECT_EQ(lcm_clear(), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(lcm_set_pos(0, 0), -1);
  EXPECT_EQ(lcm_get_key(), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(fake_read_count(), 0) << "no reply is awaited for a query that was not sent";
  const Bytes text = text_bytes("abc");
  EXPECT_EQ(lcm_write(3, text.data()), -1);
  EXPECT_EQ(errno, EIO);
}

int position_row_1(unsigned char code)
{
  return code == 0x0A ? 0x40 : -1;
}

// A caller's sequence under lcm_hold reaches the line whole, while another
// thread keeps sending commands between the sequences.
TEST_F(Driver, HeldSequenceIsNeverSplitByAnotherThread)
{
  fake_set_responder(position_row_1);
  std::atomic<bool> stop{false};
  std::thread other([&stop] {
    while (!stop.load())
      (void)lcm_set_pos(0, 3);
  });
  const Bytes text = text_bytes("abc");
  constexpr size_t UNIT_WRITES = 3 + 2 + 3 + 3;
  for (int unit = 0; unit < 20; unit++) {
    lcm_hold();
    EXPECT_EQ(lcm_set_pos(1, 0), 0);
    EXPECT_EQ(lcm_write(3, text.data()), 0);
    EXPECT_EQ(lcm_set_pos(1, 0), 0);
    lcm_release();
  }
  stop.store(true);
  other.join();

  const std::vector<FakeWrite> writes = fake_writes();
  const std::thread::id self = std::this_thread::get_id();
  size_t run = 0;
  size_t interleaved = 0;
  for (size_t i = 0; i < writes.size(); i++) {
    if (writes[i].thread == self) {
      run++;
      continue;
    }
    EXPECT_EQ(run % UNIT_WRITES, 0U) << "a held sequence was split at write " << i;
    interleaved += run > 0 ? 1 : 0;
    run = 0;
  }
  EXPECT_GT(interleaved, 0U) << "the other thread never got in between: the test proves nothing";
}

} // namespace
