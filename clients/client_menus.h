// The clients' menus behind clients.h: their items, the requests that make
// them, the walk through them on the buttons, the editing of a value and the
// screens; internal to the files of the client store.
//
//   menu_item(client, slot)               a client's menu item by its slot
//   menu_find(client, word)               the item of that id: MENU_MAIN for "", or MENU_NOT_FOUND
//   menu_find_link(client, link)          the item a link names: MENU_MAIN for "", or MENU_NOT_FOUND
//   menu_parent_allowed(client, slot, parent)  whether Left may lead from an item to that menu, no loop
//   menu_has_items(client)                whether a client has any menu item
//   menu_is_menu(client, slot)            whether a slot is the main menu or an item of type menu
//   menu_neighbour(client, menu, from, step)  the listed item after (1) or before (-1) another, or -1
//   menu_remove(client, slot)             delete an item, and a menu with everything in it
//   menu_ring_count(item)                 how many strings a ring has
//   menu_ring_string(item, index, &length)  one of a ring's strings, not terminated
//   menu_parse_address(word, v6, &address)  an IPv4 or IPv6 address from its text; 0, or -1
//   menu_address_text(address, v6, text, size)  an address as text, for the client
//   menu_event(client, name, slot, value)  queue "menuevent NAME ID[ VALUE]"
//   menu_apply_options(request, first, slot, &item)  words[first] on, all or none; 0, or -1 answered
//   menu_walk_changed(client, slot)       the client changed an item; an edit not yet touched follows it
//   menu_walk_goto(client, slot)          menu_goto: the walk goes there, or the menu opens there next
//   menu_set_entry(client, slot)          menu_set_main: the way in; MENU_MAIN_PANEL for the panel's
//   edit_begin(&edit, item)               start editing: the working value from the item
//   edit_follow(&edit, item)              take the item's value again while the user has changed nothing
//   edit_step(&edit, &item, direction, count)  Up (1) or Down (-1), count times; whether a slider tells it
//   edit_move(&edit, item, key)           Right or Left on the edit screen: EDIT_STAYS, _ACCEPT or _CANCEL
//   edit_commit(edit, &item)              the working value becomes the item's
//   edit_value(edit, item, text, size)    the working value as the client is told it
//   edit_length(edit)                     how many characters an alpha value being edited has
//   edit_rows(edit, item, &rows)          the edit screen; the column of row 1 under the cursor, or -1
//   menu_list_rows(client, menu, chosen, &rows)  the list of a menu with the chosen item on row 0
#ifndef LCM_CLIENTS_CLIENT_MENUS_H
#define LCM_CLIENTS_CLIENT_MENUS_H

#include "client_records.h"

// menu_set_main _main_: no client's menu is the way in.
constexpr int MENU_MAIN_PANEL = -3;

// An address is edited digit by digit: three decimal digits to each of
// IPv4's four groups, four hexadecimal ones to each of IPv6's eight.
constexpr int MENU_IPV4_GROUPS = 4;
constexpr int MENU_IPV4_GROUP_DIGITS = 3;
constexpr int MENU_IPV6_GROUP_DIGITS = 4;
constexpr int MENU_IPV4_GROUP_MAX = 255;
// A checkbox's value: 0 off, 1 on, 2 gray.
constexpr int MENU_CHECKBOX_GRAY = 2;

constexpr int EDIT_STAYS = 0;
constexpr int EDIT_ACCEPT = 1;
constexpr int EDIT_CANCEL = 2;

// A value being edited. Until the user changes it, it follows the item, so
// that a client that answers "enter" with a fresh value has it shown.
struct MenuEdit {
  bool changed = false;
  // checkbox, ring, numeric: the value shown; slider: its value before the edit.
  int value = 0;
  // alpha: one byte a place, '\0' where nothing is.
  std::array<char, CLIENTS_MENU_VALUE_MAX> chars{};
  MenuAddress address{};
  // alpha: the place; ip: the digit.
  int position = 0;
};

[[nodiscard]] ClientMenuItem &menu_item(int client, int slot);
[[nodiscard]] int menu_find(int client, const ClientWord &word);
[[nodiscard]] int menu_find_link(int client, const MenuLink &link);
[[nodiscard]] bool menu_has_items(int client);
[[nodiscard]] bool menu_is_menu(int client, int slot);
[[nodiscard]] bool menu_parent_allowed(int client, int slot, int parent);
[[nodiscard]] int menu_neighbour(int client, int menu, int from, int step);
void menu_remove(int client, int slot);
[[nodiscard]] int menu_ring_count(const ClientMenuItem &item);
[[nodiscard]] const char *menu_ring_string(const ClientMenuItem &item, int index, std::size_t *length);
[[nodiscard]] int menu_parse_address(const ClientWord &word, bool v6, MenuAddress *address);
void menu_address_text(const MenuAddress &address, bool v6, char *text, std::size_t size);
void menu_event(int client, const char *name, int slot, const char *value);

void menu_walk_changed(int client, int slot);
void menu_walk_goto(int client, int slot);
void menu_set_entry(int client, int slot);

void edit_begin(MenuEdit *edit, const ClientMenuItem &item);
void edit_follow(MenuEdit *edit, const ClientMenuItem &item);
[[nodiscard]] bool edit_step(MenuEdit *edit, ClientMenuItem *item, int direction, int count);
[[nodiscard]] int edit_move(MenuEdit *edit, const ClientMenuItem &item, int key);
void edit_commit(const MenuEdit &edit, ClientMenuItem *item);
void edit_value(const MenuEdit &edit, const ClientMenuItem &item, char *text, std::size_t size);
[[nodiscard]] std::size_t edit_length(const MenuEdit &edit);
[[nodiscard]] int edit_rows(const MenuEdit &edit, const ClientMenuItem &item, PanelRows *rows);
void menu_list_rows(int client, int menu, int chosen, PanelRows *rows);

[[nodiscard]] int menu_apply_options(const ClientRequest &request, int first, int slot, ClientMenuItem *item);

// The request handlers, run by clients_execute.
void client_menu_add_item(const ClientRequest &request);
void client_menu_del_item(const ClientRequest &request);
void client_menu_set_item(const ClientRequest &request);
void client_menu_goto(const ClientRequest &request);
void client_menu_set_main(const ClientRequest &request);

#endif
