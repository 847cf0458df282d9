#include "lcm.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <pthread.h>
#include <unistd.h>

#include "serial.h"

namespace {

// Guards each command's bytes, and a query's reply with them.
pthread_mutex_t mutex;
// Held by every public operation for its whole length, and by a caller
// across several (lcm_hold), so that a composite operation or a caller's
// sequence is never split by another thread. Taken before mutex, never after.
pthread_mutex_t hold = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

constexpr std::uint16_t LCM_PORT = 2;

constexpr unsigned char LCM_PREFIX = 0xFE;
constexpr unsigned char LCM_DISPLAY_ON = 0x01;
constexpr unsigned char LCM_DISPLAY_OFF = 0x02;
constexpr unsigned char LCM_CLEAR = 0x03;
constexpr unsigned char LCM_CURSOR_ON = 0x05;
constexpr unsigned char LCM_CURSOR_OFF = 0x06;
constexpr unsigned char LCM_SET_POS = 0x09;
constexpr unsigned char LCM_GET_POS = 0x0A;
constexpr unsigned char LCM_GET_KEY = 0x0B;

constexpr std::array<unsigned char, 16> LCM_INIT_SEQUENCE = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                                             0xFE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};

constexpr useconds_t QUERY_PAUSE_US = 10000;
// A position is row * 64 + column with row 0 or 1: it never has this bit.
constexpr unsigned char NOT_A_POSITION = 0x80;
constexpr int LAST_COLUMN = LCM_COLUMNS - 1;

// A text byte equal to the lead byte would be taken for a command.
constexpr unsigned char TEXT_STAND_IN = '?';

pthread_once_t lcm_once = PTHREAD_ONCE_INIT;

// Set while a query's reply may still come after its wait ran out; read and
// written under the mutex.
bool reply_owed;

// The cell the last command on the line placed the cursor on, or -1 once
// anything else has followed it; read and written under the mutex. The
// module answers a position query right after such a command with that cell.
int placed_cell = -1;

void lcm_start()
{
  port_open(LCM_PORT);
  (void)port_write(LCM_INIT_SEQUENCE.data(), static_cast<int>(LCM_INIT_SEQUENCE.size()));
  pthread_mutex_init(&mutex, nullptr);
}

// pthread_once lets two threads make their first call together.
void lcm_start_once()
{
  pthread_once(&lcm_once, lcm_start);
}

// Every byte goes out in a write of its own.
int lcm_send(unsigned char byte)
{
  const unsigned char buffer = byte;
  return port_write(&buffer, 1) == 1 ? 0 : -1;
}

int lcm_send_command(unsigned char code)
{
  placed_cell = -1;
  if (lcm_send(LCM_PREFIX) < 0)
    return -1;
  return lcm_send(code);
}

int lcm_plain_command(unsigned char code)
{
  lcm_start_once();
  pthread_mutex_lock(&mutex);
  const int result = lcm_send_command(code);
  pthread_mutex_unlock(&mutex);
  return result;
}

// A query that gave up waiting may still get its reply, and a module that
// answers too late may keep doing so. The next query gives that reply the
// same wait once more and drops it, so that it never answers a later query.
int lcm_drop_owed_reply()
{
  if (!reply_owed)
    return 0;
  reply_owed = false;
  unsigned char stray = 0;
  return port_read(&stray, 1) < 0 ? -1 : 0;
}

// The query and the reading of its reply share one hold of the lock, so no
// other thread's command can come between them. Whatever waits unread before
// the command bytes came too late for an earlier query and is dropped.
// placed_before (may be null) gets the cell the cursor was placed on by the
// command just before the query, or -1.
int lcm_query(unsigned char code, unsigned char *reply, int *placed_before)
{
  lcm_start_once();
  pthread_mutex_lock(&mutex);
  if (placed_before)
    *placed_before = placed_cell;
  int result = lcm_drop_owed_reply();
  if (result == 0)
    result = port_discard_input();
  if (result == 0)
    result = lcm_send_command(code);
  if (result == 0) {
    usleep(QUERY_PAUSE_US);
    unsigned char buffer = 0;
    const int count = port_read(&buffer, 1);
    if (count == 1) {
      *reply = buffer;
    } else {
      if (count == 0)
        errno = ETIMEDOUT;
      reply_owed = count == 0;
      result = -1;
    }
  }
  pthread_mutex_unlock(&mutex);
  return result;
}

// lcm_get_key's results: a KEY_ code, or the reply itself for anything else.
int lcm_decode_key(unsigned char reply)
{
  const int key = lcm_key_of(reply);
  return key != 0 ? key : reply;
}

int lcm_send_text(int count, const unsigned char *text)
{
  pthread_mutex_lock(&mutex);
  if (count > 0)
    placed_cell = -1;
  int result = 0;
  for (int i = 0; i < count && result == 0; i++)
    result = lcm_send(text[i] == LCM_PREFIX ? TEXT_STAND_IN : text[i]);
  pthread_mutex_unlock(&mutex);
  return result;
}

// A reply with the top bit set, or one that names another cell than the one
// the cursor was placed on just before, is line noise or another writer's
// byte, not a place to clamp text to: the query failed, though nothing is owed.
int lcm_position(int *row_out, int *column_out)
{
  unsigned char reply = 0;
  int placed = -1;
  int result = lcm_query(LCM_GET_POS, &reply, &placed);
  if (result == 0 && ((reply & NOT_A_POSITION) != 0 || (placed >= 0 && reply != placed))) {
    reply = 0;
    errno = EBADMSG;
    result = -1;
  }
  if (row_out)
    *row_out = reply >= 0x40 ? 1 : 0;
  if (column_out)
    *column_out = reply & 0x0F;
  return result;
}

int lcm_place(int row, int column)
{
  lcm_start_once();
  if (static_cast<unsigned>(row) > 1) {
    errno = EINVAL;
    return -1;
  }
  const auto where =
      static_cast<unsigned char>((static_cast<unsigned>(row) * 64U + static_cast<unsigned>(column)) & 0xFFU);
  pthread_mutex_lock(&mutex);
  int result = lcm_send_command(LCM_SET_POS);
  if (result == 0)
    result = lcm_send(where);
  // A column past the row's end names no cell: what the module then reports is its own.
  if (result == 0 && column >= 0 && column <= LAST_COLUMN)
    placed_cell = where;
  pthread_mutex_unlock(&mutex);
  return result;
}

int lcm_write_clamped(int length, const unsigned char *text)
{
  int row = 0;
  int column = 0;
  const int known = lcm_position(&row, &column);
  const int query_errno = errno;
  if (!text)
    length = 0;
  // Written as a difference so that no length can overflow the sum.
  const bool reaches_last = length > LAST_COLUMN - column;
  const int count = reaches_last ? LCM_COLUMNS - column : (length > 0 ? length : 0);
  if (lcm_send_text(count, text) < 0)
    return -1;
  if (known < 0) {
    errno = query_errno;
    return -1;
  }
  return reaches_last ? lcm_place(row, LAST_COLUMN) : 0;
}

// Moves that depend on where the cursor is; the position is known here.
int lcm_move_from(int kind, int row, int column)
{
  switch (kind) {
  case MOVE_HOME:
    return lcm_place(0, 0);
  case MOVE_NEXT:
    return lcm_place(row, column < LAST_COLUMN ? column + 1 : column);
  case MOVE_PREV:
    return lcm_place(row, column > 0 ? column - 1 : column);
  case MOVE_BACKSPACE: {
    const int target = column > 0 ? column - 1 : column;
    const unsigned char space = ' ';
    printf("row = %d, column = %d\n", row, target);
    if (lcm_place(row, target) < 0 || lcm_write_clamped(1, &space) < 0)
      return -1;
    return lcm_place(row, target);
  }
  default:
    return 0;
  }
}

int lcm_move_cursor(int kind)
{
  int row = 0;
  int column = 0;
  if (lcm_position(&row, &column) == 0)
    return lcm_move_from(kind, row, column);
  // Home needs no position; the others cannot be made without it.
  const int query_errno = errno;
  if (kind == MOVE_HOME && lcm_place(0, 0) < 0)
    return -1;
  errno = query_errno;
  return -1;
}

int lcm_key()
{
  unsigned char reply = 0;
  if (lcm_query(LCM_GET_KEY, &reply, nullptr) < 0)
    return -1;
  return lcm_decode_key(reply);
}

int lcm_buttons()
{
  unsigned char reply = 0;
  if (lcm_query(LCM_GET_KEY, &reply, nullptr) < 0)
    return -1;
  return reply;
}

// For a caller that keeps its own picture of the glass: the module puts each
// byte at the cursor and moves on, so the position just set is where the
// text lands.
int lcm_place_and_send(int row, int column, int length, const unsigned char *text)
{
  lcm_start_once();
  if (column < 0 || column > LAST_COLUMN) {
    errno = EINVAL;
    return -1;
  }
  if (lcm_place(row, column) < 0)
    return -1;
  const int room = LCM_COLUMNS - column;
  return lcm_send_text(text == nullptr || length < 0 ? 0 : (length < room ? length : room), text);
}

int lcm_drain_output()
{
  lcm_start_once();
  pthread_mutex_lock(&mutex);
  const int result = port_drain();
  pthread_mutex_unlock(&mutex);
  return result;
}

// Runs one public operation under the hold; errno is the operation's.
template <typename Operation> int lcm_whole(Operation operation)
{
  lcm_hold();
  const int result = operation();
  lcm_release();
  return result;
}

} // namespace

void lcm_hold()
{
  pthread_mutex_lock(&hold);
}

void lcm_release()
{
  pthread_mutex_unlock(&hold);
}

int lcm_clear()
{
  return lcm_whole([] { return lcm_plain_command(LCM_CLEAR); });
}

int lcm_display(unsigned char on)
{
  return lcm_whole([on] { return lcm_plain_command(on ? LCM_DISPLAY_ON : LCM_DISPLAY_OFF); });
}

int lcm_cursor(unsigned char on)
{
  return lcm_whole([on] { return lcm_plain_command(on ? LCM_CURSOR_ON : LCM_CURSOR_OFF); });
}

int lcm_set_pos(int row, int column)
{
  return lcm_whole([row, column] { return lcm_place(row, column); });
}

int lcm_get_pos(int *row_out, int *column_out)
{
  return lcm_whole([row_out, column_out] { return lcm_position(row_out, column_out); });
}

int lcm_write(int length, const unsigned char *text)
{
  return lcm_whole([length, text] { return lcm_write_clamped(length, text); });
}

int lcm_move(int kind)
{
  return lcm_whole([kind] { return lcm_move_cursor(kind); });
}

int lcm_get_key()
{
  return lcm_whole(lcm_key);
}

int lcm_get_buttons()
{
  return lcm_whole(lcm_buttons);
}

// Each button clears its own bit: exactly one bit clear is one button.
int lcm_key_of(int reply)
{
  switch (reply) {
  case 0x0E:
    return KEY_UP;
  case 0x07:
    return KEY_DOWN;
  case 0x0D:
    return KEY_RIGHT;
  case 0x0B:
    return KEY_LEFT;
  default:
    return 0;
  }
}

int lcm_write_at(int row, int column, int length, const unsigned char *text)
{
  return lcm_whole([=] { return lcm_place_and_send(row, column, length, text); });
}

int lcm_drain()
{
  return lcm_whole(lcm_drain_output);
}

const char *lcm_port_name()
{
  return port_is_open() ? devicename : port_name(LCM_PORT);
}
