// The records behind clients.h, shared by the files of the client store, its
// commands and its renderer; internal to them.
//
//   client_in_use(client)                 whether a number names a connected client
//   client_find_screen(client, word)      the slot of a client's screen with that id, or -1
//   client_find_widget(client, screen, word)  the slot of a screen's widget with that id, or -1
//   client_screen_named(request)          the slot of the screen named by words[1]; -1 after answering
//   client_remove_screen(client, screen)  delete a screen with its widgets
//   client_remove_widget(client, widget)  delete a widget, and what a frame holds
//   client_set_priority(screen, priority) change a screen's class; becoming urgent makes it the newest
//   client_queue(client, text, length)    add bytes to a client's outbox; marks the overflow
//   client_queue_line(client, text)       add a text and a newline to a client's outbox
//   client_hand_over(client, rows)        show rows as the panel's own alert; the client waits for the answer
//   client_next_generation()              a number no screen, text or alert had before
//   client_keep_text(&text, word)         a word as the cells it shows as, cut at the bound's characters
//   client_success(client)                answer "success"
//   client_huh(client, reason)            answer "huh? " and the reason
//   client_huh_about(client, reason, word)  answer "huh? ", the reason and the word in quotes
//   client_word_is(word, text)            whether a word is exactly that text
//   client_option_is(word, name)          whether a word is that option, with or without its dash
//   client_number(word, low, high, &value)  a word as a whole number within bounds; 0, or -1
//   client_light_named(word, &light)      on, off, blink, flash, open or toggle as kept; 0, or -1
//   client_light_toggled(light)           the other of on and off: on from off, off from anything else
//   client_screen_add(request) ... client_widget_del(request)  the screen and widget commands
//   client_add_key(request), client_del_key(request)  the key reservations
//   client_keep_id(&id, word)             a word as an id; -1 when it is too long to keep whole
//   client_free_slot(slots)               the first client, screen, widget or key record not in use, or -1
//   client_same(text, word)               whether a kept text holds exactly the word's bytes
#ifndef LCM_CLIENTS_CLIENT_RECORDS_H
#define LCM_CLIENTS_CLIENT_RECORDS_H

#include <algorithm>
#include <array>
#include <cstddef>

#include "clients.h"

constexpr int WIDGET_STRING = 0;
constexpr int WIDGET_TITLE = 1;
constexpr int WIDGET_HBAR = 2;
constexpr int WIDGET_VBAR = 3;
constexpr int WIDGET_ICON = 4;
constexpr int WIDGET_SCROLLER = 5;
constexpr int WIDGET_FRAME = 6;
constexpr int WIDGET_NUM = 7;

// A screen's light may follow its client's (open), or be the other of on
// and off from its client's (toggle).
constexpr int LIGHT_OPEN = -1;
constexpr int LIGHT_TOGGLE = -2;

// Up to N bytes, followed by a NUL so that messages may print them.
template <std::size_t N> struct BoundedText {
  std::array<char, N + 1> bytes{};
  std::size_t length = 0;
};

using ClientId = BoundedText<CLIENTS_ID_MAX>;
using ClientText = BoundedText<CLIENTS_TEXT_MAX>;

// Coordinates are 1-based as the clients give them, in the widget's space:
// the screen, or the inside of the frame the widget is in.
struct ClientWidget {
  bool used = false;
  int screen = -1;
  // The widget slot of the frame this widget is in, or -1.
  int frame = -1;
  int type = WIDGET_STRING;
  ClientId id;
  // Draw order: widgets added later are drawn over earlier ones.
  unsigned long long added = 0;
  bool set = false;
  // string, hbar, vbar, icon: where; num: x only. scroller, frame: left and top.
  int x = 1;
  int y = 1;
  // scroller, frame: right and bottom.
  int right = 0;
  int bottom = 0;
  // hbar, vbar: length in pixels; num: the digit; icon: its stand-in byte.
  int value = 0;
  // frame: the size of its inside.
  int inner_width = 0;
  int inner_height = 0;
  // scroller, frame: 'h', 'v' or 'm'; speed as the protocol gives it.
  char direction = 'h';
  int speed = 0;
  // When the text, or what moves it, last changed: a scroller's or a
  // title's position follows from the time since then.
  long long moved_from_ms = 0;
  ClientText text;
};

struct ClientScreen {
  bool used = false;
  unsigned long long generation = 0;
  ClientId id;
  BoundedText<CLIENTS_NAME_MAX> name;
  int priority = SCREEN_INFO;
  // When it last became an alert or input screen.
  unsigned long long urgent_since = 0;
  bool dismissed = false;
  // In eighths of a second; 0 when not given.
  int duration = 0;
  // In eighths of a second; 0 for none. Counted while in view.
  int timeout = 0;
  long long viewed_ms = 0;
  // Accepted and kept; the module cannot show them.
  int width = LCM_COLUMNS;
  int height = LCM_ROWS;
  // Its place in the list of values screen_set takes; never drawn.
  int heartbeat = 2;
  // A SCREEN_LIGHT_ value, LIGHT_OPEN or LIGHT_TOGGLE.
  int backlight = LIGHT_OPEN;
  // The module has one kind of cursor: shown or not.
  bool cursor = false;
  int cursor_x = 1;
  int cursor_y = 1;
};

// Menu items: the kinds, and the menu every client has without adding it.
constexpr int MENU_ACTION = 0;
constexpr int MENU_CHECKBOX = 1;
constexpr int MENU_RING = 2;
constexpr int MENU_SLIDER = 3;
constexpr int MENU_NUMERIC = 4;
constexpr int MENU_ALPHA = 5;
constexpr int MENU_IP = 6;
constexpr int MENU_MENU = 7;
// The slot that stands for a client's main menu, whose id is "".
constexpr int MENU_MAIN = -1;
// What a look-up finds when no item has the id.
constexpr int MENU_NOT_FOUND = -2;
constexpr std::size_t MENU_END_TEXT_MAX = LCM_COLUMNS;
// An IPv6 address in groups of 16 bits; IPv4 uses the first four for its bytes.
constexpr int MENU_ADDRESS_GROUPS = 8;
using MenuAddress = std::array<unsigned short, MENU_ADDRESS_GROUPS>;

// Where -next or -prev lead: not said, one of the protocol's places, or an
// item by its id, looked up when the key is pressed.
constexpr int LINK_UNSET = 0;
constexpr int LINK_NONE = 1;
constexpr int LINK_CLOSE = 2;
constexpr int LINK_QUIT = 3;
constexpr int LINK_ITEM = 4;

struct MenuLink {
  int kind = LINK_UNSET;
  ClientId id;
};

// One record for every kind; each kind uses the fields its options set.
// Ordered by the fields' sizes, which keeps the record small.
struct ClientMenuItem {
  // Also the item's place in its menu: added later, listed later.
  unsigned long long generation = 0;
  ClientId id;
  BoundedText<CLIENTS_NAME_MAX> text;
  // An action's -menu_result is its -next.
  MenuLink next;
  MenuLink prev;
  // slider
  BoundedText<MENU_END_TEXT_MAX> min_text;
  BoundedText<MENU_END_TEXT_MAX> max_text;
  // ring: the strings, each ended by a tab but the last.
  ClientText strings;
  // alpha: the value, and the characters allowed besides the groups.
  BoundedText<CLIENTS_MENU_VALUE_MAX> chars;
  BoundedText<CLIENTS_MENU_VALUE_MAX> extra;
  int type = MENU_ACTION;
  // The menu that lists the item, and the one Left goes back to.
  int container = MENU_MAIN;
  int parent = MENU_MAIN;
  // checkbox: 0 off, 1 on, 2 gray; ring: the string's index; slider, numeric: the number.
  int value = 0;
  int minimum = 0;
  int maximum = 100;
  int step = 1;
  int min_length = 0;
  int max_length = 10;
  MenuAddress address{192, 168, 1, 245};
  bool used = false;
  bool hidden = false;
  bool allow_gray = false;
  bool caps = true;
  bool noncaps = false;
  bool numbers = false;
  bool v6 = false;
  char password = '\0';
};

struct KeyReservation {
  bool used = false;
  bool exclusive = false;
  BoundedText<CLIENTS_KEY_NAME_MAX> name;
};

struct Client {
  bool used = false;
  bool greeted = false;
  unsigned long long connection = 0;
  BoundedText<CLIENTS_NAME_MAX> name;
  // What the backlight command last set, for the screens that leave it open.
  int backlight = SCREEN_LIGHT_ON;
  std::array<ClientScreen, CLIENTS_SCREENS> screens;
  std::array<ClientWidget, CLIENTS_WIDGETS> widgets;
  std::array<KeyReservation, CLIENTS_KEYS> keys;
  std::array<ClientMenuItem, CLIENTS_MENU_ITEMS> menu;
  // Where menu_goto asked the client's menu to open next, while the walk is elsewhere.
  int menu_goto = MENU_MAIN;
  unsigned long long menu_goto_generation = 0;
  std::array<char, CLIENTS_OUTBOX> outbox{};
  std::size_t outbox_length = 0;
  bool overflowed = false;
};

// lcm-show's two rows, shown as the panel's own alert until dismissed or
// replaced; the client that sent them waits for the answer.
struct HandOver {
  bool shown = false;
  unsigned long long generation = 0;
  PanelRows rows{};
  bool waiting = false;
  int client = -1;
  unsigned long long connection = 0;
};

// One request line, split: words[0] is the command.
struct ClientRequest {
  int client = -1;
  const ClientWord *words = nullptr;
  int count = 0;
  long long now_ms = 0;
};

extern std::array<Client, CLIENTS_MAX> clients;
extern HandOver hand_over;

[[nodiscard]] bool client_in_use(int client);
[[nodiscard]] int client_find_screen(int client, const ClientWord &word);
[[nodiscard]] int client_find_widget(int client, int screen, const ClientWord &word);
void client_remove_screen(int client, int screen);
void client_remove_widget(int client, int widget);
void client_set_priority(ClientScreen *screen, int priority);
int client_queue(int client, const char *text, std::size_t length);
int client_queue_line(int client, const char *text);
void client_hand_over(int client, const PanelRows &rows);
[[nodiscard]] unsigned long long client_next_generation();

void client_success(int client);
void client_huh(int client, const char *reason);
void client_huh_about(int client, const char *reason, const ClientWord &word);
[[nodiscard]] bool client_word_is(const ClientWord &word, const char *text);
[[nodiscard]] bool client_option_is(const ClientWord &word, const char *name);
[[nodiscard]] int client_number(const ClientWord &word, int low, int high, int *value);
[[nodiscard]] int client_light_named(const ClientWord &word, int *light);

[[nodiscard]] constexpr int client_light_toggled(int light)
{
  return light == SCREEN_LIGHT_OFF ? SCREEN_LIGHT_ON : SCREEN_LIGHT_OFF;
}

[[nodiscard]] int client_screen_named(const ClientRequest &request);
void client_screen_add(const ClientRequest &request);
void client_screen_del(const ClientRequest &request);
void client_screen_set(const ClientRequest &request);
void client_widget_add(const ClientRequest &request);
void client_widget_set(const ClientRequest &request);
void client_widget_del(const ClientRequest &request);
void client_add_key(const ClientRequest &request);
void client_del_key(const ClientRequest &request);

// A text is kept as the cells it shows as, one a character, so that widths,
// scrollers and titles count characters.
template <std::size_t N> void client_keep_text(BoundedText<N> *text, const ClientWord &word)
{
  text->length = text_cells(word.text, word.length, text->bytes.data(), N);
  text->bytes[text->length] = '\0';
}

// Ids are kept as given, so that events name them exactly.
[[nodiscard]] int client_keep_id(ClientId *id, const ClientWord &word);

template <typename Slots> int client_free_slot(const Slots &slots)
{
  const auto free = std::find_if(slots.begin(), slots.end(), [](const auto &slot) { return !slot.used; });
  return free == slots.end() ? -1 : static_cast<int>(free - slots.begin());
}

template <std::size_t N> bool client_same(const BoundedText<N> &text, const ClientWord &word)
{
  return text.length == word.length && std::equal(word.text, word.text + word.length, text.bytes.begin());
}

#endif
