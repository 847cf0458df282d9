// Display module driver: 2 rows of 16 characters, a cursor and four buttons.
//
//   lcm_clear()                   clear the display
//   lcm_display(on)               display on (nonzero) or off
//   lcm_cursor(on)                show (nonzero) or hide the cursor
//   lcm_set_pos(row, column)      place the cursor; -1 unless row is 0 or 1
//   lcm_get_pos(&row, &column)    ask the module where the cursor is
//   lcm_write(length, text)       write text at the cursor, clamped to its row
//   lcm_move(kind)                MOVE_HOME, MOVE_NEXT, MOVE_PREV or MOVE_BACKSPACE
//   lcm_get_key()                 ask for the buttons: a KEY_ code or the raw reply
//   lcm_get_buttons()             ask for the buttons: the raw reply (0x0F: none held)
//   lcm_key_of(reply)             the KEY_ code of a reply that holds exactly one button, else 0
//   lcm_write_at(row, column, n, text)  place the cursor and write there, cut at the row's end, no query
//   lcm_drain()                   wait until every byte sent has left the host
//   lcm_hold()                    keep other threads out of the driver until lcm_release
//   lcm_release()                 end one lcm_hold (holds nest)
//   lcm_port_name()               the serial device driven: the one opened, else the one to open
//   lcm_share_path(path, size)    the socket where the program holding the port serves the display
//
// The first call of any operation opens the port and starts the module. Every
// command goes out whole under one process-wide lock, and every operation
// runs whole under a second one, which a caller may also hold across several
// operations (lcm_hold), so threads may share the driver. A query first drops
// whatever waits unread, and after a query that went unanswered the next one
// first waits up to a second more for that late reply and drops it, so a
// reply that came too late never answers a later query. Results: 0 (or a key
// code) on success; -1 with errno set on failure, ETIMEDOUT when the module
// did not answer a query or the output did not leave the host within a
// second, EBADMSG when a position reply was no position (its top bit set, or,
// right after the cursor was placed on a cell, any other cell than that one;
// nothing is clamped to it), EBADF when the port could not be opened, EINVAL
// for a row other than 0 or 1.
//
// The socket is $LCM_PANEL_SOCKET when set, else one in LCM_SHARE_FOLDER named
// after the device itself, whatever path leads to it: /dev/lcd, a link to
// /dev/ttyS1, gives ttyS1.sock; a device with no node of its own name in /dev
// gives char-MAJOR-MINOR.sock. A device path the port's open refuses before
// opening (80 bytes or more, missing, not a character device) has no socket:
// -1 with errno, as for a path that does not fit size.
#ifndef LCM_LCM_LCM_H
#define LCM_LCM_LCM_H

#include <cstddef>

// The folder of the sockets where a program holding a port serves the display.
constexpr const char *LCM_SHARE_FOLDER = "/run/lcm-panel";

constexpr int LCM_ROWS = 2;
constexpr int LCM_COLUMNS = 16;

constexpr int KEY_UP = 1;
constexpr int KEY_DOWN = 2;
constexpr int KEY_RIGHT = 3;
constexpr int KEY_LEFT = 4;

constexpr int MOVE_HOME = 1;
constexpr int MOVE_NEXT = 2;
constexpr int MOVE_PREV = 3;
constexpr int MOVE_BACKSPACE = 4;

int lcm_clear();
int lcm_display(unsigned char on);
int lcm_cursor(unsigned char on);
int lcm_set_pos(int row, int column);
int lcm_get_pos(int *row_out, int *column_out);
int lcm_write(int length, const unsigned char *text);
int lcm_move(int kind);
int lcm_get_key();
int lcm_get_buttons();
[[nodiscard]] int lcm_key_of(int reply);
int lcm_write_at(int row, int column, int length, const unsigned char *text);
int lcm_drain();
void lcm_hold();
void lcm_release();
[[nodiscard]] const char *lcm_port_name();
[[nodiscard]] int lcm_share_path(char *path, std::size_t size);

#endif
