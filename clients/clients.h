// Display clients: the client protocol, the clients' screens and widgets in
// fixed memory, and their rendering into rows of the glass. Pure: no
// sockets, no clock (times come in as arguments), nothing printed; the
// server carries the bytes and the panel decides what shows.
//
//   clients_reset()                       forget every client and the hand-over; all slots free
//   clients_open()                        take a client slot for a new connection; its number, or -1
//   clients_remove(client)                forget a client and everything it made
//   clients_connection(client)            the connection a slot holds now (0 when free)
//   clients_name(client)                  the name a client gave itself, or ""
//   clients_greeted(client)               whether a client has said hello
//   clients_split(line, length, &words)   split a request line into words, in place; the count, or -1
//   clients_execute(client, line, length, now)  run one request line; CLIENTS_GO_ON or CLIENTS_BYE
//   clients_line_too_long(client)         answer a request line past the bound, which is not run
//   clients_outbox(client, &length)       the replies and events not yet sent to a client
//   clients_outbox_sent(client, count)    drop the first count bytes of the outbox
//   clients_outbox_overflowed(client)     whether a client's unsent lines passed the bound
//   clients_screens(handles, capacity)    every client screen in the order it was added; the count
//   clients_urgent(handles, capacity)     alert and input screens and the hand-over, newest first; the count
//   clients_newest_urgent(&handle)        the first of those; false when there is none
//   clients_same_screen(a, b)             whether two handles name one screen
//   clients_valid(handle)                 whether a handle still names the screen it was made for
//   clients_priority(handle)              a screen's priority class; SCREEN_HIDDEN once gone or dismissed
//   clients_screen_id(handle)             the id a client gave a screen ("" for the hand-over)
//   clients_duration_ms(handle)           how long a screen wants to stay in view, or 0 when it did not say
//   clients_timeout_left_ms(handle)       what is left of a screen's timeout, or -1 when it has none
//   clients_count_view(handle, ms)        count time in view; 1 when the timeout ran out and the screen went
//   clients_dismiss(handle)               take an alert out of the front until it becomes an alert anew
//   clients_key_name(key)                 the protocol's name of a KEY_ code ("Up"), or nullptr
//   clients_key_owner(key, client_in_view)  the client a key goes to, or -1 when it pages
//   clients_send_listen(handle)           queue "listen ID" to the screen's client
//   clients_send_ignore(handle)           queue "ignore ID" to the screen's client
//   clients_send_key(client, key)         queue "key NAME" to a client
//   clients_hand_over_waiting()           whether a client waits for the answer to its lcm_show
//   clients_hand_over_answer(reply)       send the waiting client its answer ("success" or "huh? ...")
//   clients_render(handle, now, &rows)    a screen drawn into two rows at a time; 0, or -1 for a stale handle
//   clients_cursor(handle, &row, &column) whether a screen shows the module's cursor, and on which cell (from
//   0) clients_light(handle)                 the light a screen asks for while in view: a SCREEN_LIGHT_ value
//   clients_menu_clients(list, capacity)  the clients with menu items, the first connected first; the count
//   clients_menu_entry(&client)           whether a client made its menu the way in (menu_set_main); which
//   clients_menu_reset_entry()            the panel's main menu is the way in again, whatever a client set
//   clients_menu_open(client, as_entry)   walk into a client's menu: where menu_goto asked, else its top
//   clients_menu_press(key)               a press on the walk: CLIENTS_MENU_STAYS, _UP (left its top), _QUIT
//   clients_menu_held(key, held_ms)       a button held on a number or a slider steps it on
//   clients_menu_close()                  end the walk; an edit is cancelled, the item in view told "leave"
//   clients_menu_walking()                whether the walk is in a client's menu that is still there
//   clients_menu_rows(&rows, &cursor)     the walk's screen; the column of row 1 the cursor is under, or -1
//
// Limits: 16 clients, 32 screens, 64 widgets and 64 menu items a client,
// request lines of 8 KiB, texts of 256 characters (longer ones are cut),
// ids of 32 bytes, menu values of 64 bytes. Every record is set aside at
// start; nothing here allocates. Texts are read as text.h reads them (UTF-8
// where valid, else ISO-8859-1) and kept as their cells; lcm_show's lines
// keep the byte rule. Times are milliseconds on the monotonic clock.
#ifndef LCM_CLIENTS_CLIENTS_H
#define LCM_CLIENTS_CLIENTS_H

#include <array>
#include <cstddef>

#include "text.h"

constexpr int CLIENTS_MAX = 16;
constexpr int CLIENTS_SCREENS = 32;
constexpr int CLIENTS_WIDGETS = 64;
constexpr int CLIENTS_KEYS = 8;
constexpr int CLIENTS_MENU_ITEMS = 64;
constexpr std::size_t CLIENTS_MENU_VALUE_MAX = 64;
constexpr std::size_t CLIENTS_LINE_MAX = 8192;
constexpr std::size_t CLIENTS_TEXT_MAX = 256;
constexpr std::size_t CLIENTS_ID_MAX = 32;
constexpr std::size_t CLIENTS_NAME_MAX = 64;
constexpr std::size_t CLIENTS_KEY_NAME_MAX = 16;
// Unsent replies and events a client may leave in the panel before it is dropped.
constexpr std::size_t CLIENTS_OUTBOX = 16384;
// Every screen there can be: the clients' and the hand-over.
constexpr int CLIENTS_ALL_SCREENS = CLIENTS_MAX * CLIENTS_SCREENS + 1;
// The client number of the hand-over alert in a ScreenHandle.
constexpr int CLIENTS_PANEL = CLIENTS_MAX;

// Priority classes, lowest first.
constexpr int SCREEN_HIDDEN = 0;
constexpr int SCREEN_BACKGROUND = 1;
constexpr int SCREEN_INFO = 2;
constexpr int SCREEN_FOREGROUND = 3;
constexpr int SCREEN_ALERT = 4;
constexpr int SCREEN_INPUT = 5;

// The module's light as a screen asks for it: on, off, or switched off and
// on about once a second (blink) or four times a second (flash).
constexpr int SCREEN_LIGHT_ON = 0;
constexpr int SCREEN_LIGHT_OFF = 1;
constexpr int SCREEN_LIGHT_BLINK = 2;
constexpr int SCREEN_LIGHT_FLASH = 3;

constexpr int CLIENTS_GO_ON = 0;
constexpr int CLIENTS_BYE = 1;

// What a press did to the walk through a client's menu.
constexpr int CLIENTS_MENU_STAYS = 0;
constexpr int CLIENTS_MENU_UP = 1;
constexpr int CLIENTS_MENU_QUIT = 2;

// A screen as the view code holds on to it: the generation tells a screen
// from a later one in the same slot.
struct ScreenHandle {
  int client = -1;
  int screen = -1;
  unsigned long long generation = 0;
};

[[nodiscard]] constexpr bool clients_same_screen(const ScreenHandle &a, const ScreenHandle &b)
{
  return a.client == b.client && a.screen == b.screen && a.generation == b.generation;
}

// A word of a request line: its bytes, not terminated.
struct ClientWord {
  const char *text = nullptr;
  std::size_t length = 0;
};

constexpr int CLIENTS_WORDS_MAX = 48;
using ClientWords = std::array<ClientWord, CLIENTS_WORDS_MAX>;

void clients_reset();
[[nodiscard]] int clients_open();
void clients_remove(int client);
[[nodiscard]] unsigned long long clients_connection(int client);
[[nodiscard]] const char *clients_name(int client);
[[nodiscard]] bool clients_greeted(int client);

[[nodiscard]] int clients_split(char *line, std::size_t length, ClientWords *words);
int clients_execute(int client, char *line, std::size_t length, long long now_ms);
void clients_line_too_long(int client);

[[nodiscard]] const char *clients_outbox(int client, std::size_t *length);
void clients_outbox_sent(int client, std::size_t count);
[[nodiscard]] bool clients_outbox_overflowed(int client);

int clients_screens(ScreenHandle *handles, int capacity);
int clients_urgent(ScreenHandle *handles, int capacity);
[[nodiscard]] bool clients_newest_urgent(ScreenHandle *handle);
[[nodiscard]] bool clients_valid(const ScreenHandle &handle);
[[nodiscard]] int clients_priority(const ScreenHandle &handle);
[[nodiscard]] const char *clients_screen_id(const ScreenHandle &handle);
[[nodiscard]] long long clients_duration_ms(const ScreenHandle &handle);
[[nodiscard]] long long clients_timeout_left_ms(const ScreenHandle &handle);
int clients_count_view(const ScreenHandle &handle, long long elapsed_ms);
void clients_dismiss(const ScreenHandle &handle);

[[nodiscard]] const char *clients_key_name(int key);
[[nodiscard]] int clients_key_owner(const char *key, int client_in_view);
void clients_send_listen(const ScreenHandle &handle);
void clients_send_ignore(const ScreenHandle &handle);
void clients_send_key(int client, const char *key);

[[nodiscard]] bool clients_hand_over_waiting();
void clients_hand_over_answer(const char *reply);

[[nodiscard]] int clients_render(const ScreenHandle &handle, long long now_ms, PanelRows *rows);
[[nodiscard]] bool clients_cursor(const ScreenHandle &handle, int *row, int *column);
[[nodiscard]] int clients_light(const ScreenHandle &handle);

int clients_menu_clients(int *list, int capacity);
[[nodiscard]] bool clients_menu_entry(int *client);
void clients_menu_reset_entry();
void clients_menu_open(int client, bool as_entry);
[[nodiscard]] int clients_menu_press(int key);
void clients_menu_held(int key, long long held_ms);
void clients_menu_close();
[[nodiscard]] bool clients_menu_walking();
[[nodiscard]] bool clients_menu_rows(PanelRows *rows, int *cursor_column);

#endif
