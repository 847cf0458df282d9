// The walk through a client's menu on the buttons: which menu shows, the
// item pointed at, the item being edited, and the events they cause. One
// item is in view at a time, the menu whose list shows or the item being
// edited; each change of it is told "leave" for the one before and "enter"
// for the new one (the main menu has no id to tell).
#include <cstdio>

#include "client_menus.h"

namespace {

constexpr int NONE = -1;
constexpr int FOLLOW_UNSET = -1;
// A button held on a number or a slider repeats after half a second, ten
// steps a second, and a number's steps grow after two and four seconds.
constexpr long long REPEAT_AFTER_MS = 500;
constexpr long long REPEAT_EVERY_MS = 100;
constexpr int REPEATS_BEFORE_TENS = 20;
constexpr int REPEATS_BEFORE_HUNDREDS = 40;
constexpr int REPEATS_AT_ONCE_MAX = 8;
constexpr std::size_t VALUE_TEXT_SIZE = 72;

// A place in a client's menu, told from a later item in the same slot by
// its generation; slot NONE for no item.
struct Place {
  int slot = MENU_MAIN;
  unsigned long long generation = 0;
};

struct Walk {
  bool open = false;
  int client = -1;
  unsigned long long connection = 0;
  // Left from here leaves the client's menu.
  Place top;
  Place menu;
  Place chosen{NONE, 0};
  Place editing{NONE, 0};
  MenuEdit edit;
  int repeats = 0;
};

// The way into the menus a client set with menu_set_main.
struct Entry {
  int client = -1;
  unsigned long long connection = 0;
  Place menu;
};

Walk walk;
Entry entry;

Place place_of(int client, int slot)
{
  return Place{slot, slot >= 0 ? menu_item(client, slot).generation : 0};
}

bool is_there(int client, const Place &place)
{
  if (place.slot == MENU_MAIN)
    return true;
  return place.slot >= 0 && menu_item(client, place.slot).used &&
         menu_item(client, place.slot).generation == place.generation;
}

ClientMenuItem &item_at(const Place &place)
{
  return menu_item(walk.client, place.slot);
}

bool is_listed(int slot, int menu)
{
  const ClientMenuItem &item = menu_item(walk.client, slot);
  return item.used && item.container == menu && !item.hidden;
}

// The walk's places as the client's changes left them: a menu that went
// gives way to the top, an item that went or was hidden to the first one.
bool settle()
{
  if (!walk.open)
    return false;
  if (clients_connection(walk.client) != walk.connection || !menu_has_items(walk.client)) {
    walk.open = false;
    return false;
  }
  if (!is_there(walk.client, walk.top))
    walk.top = Place{};
  if (!is_there(walk.client, walk.menu)) {
    walk.menu = walk.top;
    walk.editing = Place{NONE, 0};
  }
  if (walk.editing.slot >= 0 && !is_there(walk.client, walk.editing))
    walk.editing = Place{NONE, 0};
  if (walk.chosen.slot < 0 || !is_there(walk.client, walk.chosen) ||
      !is_listed(walk.chosen.slot, walk.menu.slot))
    walk.chosen = place_of(walk.client, menu_neighbour(walk.client, walk.menu.slot, NONE, 1));
  return true;
}

int in_view()
{
  return walk.editing.slot >= 0 ? walk.editing.slot : walk.menu.slot;
}

void tell(const char *event, int slot, const char *value = nullptr)
{
  if (slot != MENU_MAIN)
    menu_event(walk.client, event, slot, value);
}

// The list of a menu with an item pointed at (the first when that one is
// not in it), or an item's edit screen in front of the list.
void show(int menu, int chosen, int editing)
{
  const int before = in_view();
  walk.menu = place_of(walk.client, menu);
  walk.editing = place_of(walk.client, editing);
  if (chosen < 0 || !is_listed(chosen, menu))
    chosen = menu_neighbour(walk.client, menu, NONE, 1);
  walk.chosen = place_of(walk.client, chosen);
  if (editing >= 0) {
    edit_begin(&walk.edit, menu_item(walk.client, editing));
    walk.repeats = 0;
  }
  if (in_view() != before) {
    tell("leave", before);
    tell("enter", in_view());
  }
}

// A menu shows its list; an action shows in its menu's list; any other
// item opens its edit screen.
void go_to(int slot)
{
  if (menu_is_menu(walk.client, slot)) {
    show(slot, NONE, NONE);
    return;
  }
  const ClientMenuItem &item = menu_item(walk.client, slot);
  show(item.parent, slot, item.type == MENU_ACTION ? NONE : slot);
}

// The menu closes and the one above it shows, with it pointed at.
int back_from(int menu)
{
  if (menu == walk.top.slot || menu == MENU_MAIN)
    return CLIENTS_MENU_UP;
  show(menu_item(walk.client, menu).parent, menu, NONE);
  return CLIENTS_MENU_STAYS;
}

// FOLLOW_UNSET where the link says nothing, or names an item that is not there.
int follow(const MenuLink &link)
{
  switch (link.kind) {
  case LINK_NONE:
    if (walk.editing.slot >= 0)
      edit_begin(&walk.edit, item_at(walk.editing));
    return CLIENTS_MENU_STAYS;
  case LINK_CLOSE:
    return back_from(walk.menu.slot);
  case LINK_QUIT:
    return CLIENTS_MENU_QUIT;
  default: {
    const int target = menu_find_link(walk.client, link);
    if (target == MENU_NOT_FOUND)
      return FOLLOW_UNSET;
    go_to(target);
    return CLIENTS_MENU_STAYS;
  }
  }
}

void tell_slider(int slot, bool up)
{
  char value[VALUE_TEXT_SIZE];
  snprintf(value, sizeof value, "%d", menu_item(walk.client, slot).value);
  tell(up ? "plus" : "minus", slot, value);
}

// A slider's moves are undone, and told.
void revert()
{
  ClientMenuItem &item = item_at(walk.editing);
  if (item.type != MENU_SLIDER || item.value == walk.edit.value)
    return;
  const bool up = walk.edit.value > item.value;
  item.value = walk.edit.value;
  tell_slider(walk.editing.slot, up);
}

// After an edit the list shows again, with the item pointed at, unless the
// item's link leads elsewhere.
int end_edit(const MenuLink &link)
{
  const int followed = follow(link);
  if (followed != FOLLOW_UNSET)
    return followed;
  const int slot = walk.editing.slot;
  show(menu_item(walk.client, slot).parent, slot, NONE);
  return CLIENTS_MENU_STAYS;
}

int accept()
{
  ClientMenuItem &item = item_at(walk.editing);
  edit_commit(walk.edit, &item);
  if (item.type != MENU_SLIDER) {
    char value[VALUE_TEXT_SIZE];
    edit_value(walk.edit, item, value, sizeof value);
    tell("update", walk.editing.slot, value);
  }
  return end_edit(item.next);
}

int cancel()
{
  revert();
  return end_edit(item_at(walk.editing).prev);
}

int press_editing(int key)
{
  ClientMenuItem &item = item_at(walk.editing);
  if (key == KEY_UP || key == KEY_DOWN) {
    const bool up = key == KEY_UP;
    if (edit_step(&walk.edit, &item, up ? 1 : -1, 1))
      tell_slider(walk.editing.slot, up);
    return CLIENTS_MENU_STAYS;
  }
  const int moved = edit_move(&walk.edit, item, key);
  if (moved == EDIT_ACCEPT)
    return accept();
  if (moved == EDIT_CANCEL)
    return cancel();
  return CLIENTS_MENU_STAYS;
}

int select_chosen()
{
  const int slot = walk.chosen.slot;
  if (slot < 0)
    return CLIENTS_MENU_STAYS;
  const ClientMenuItem &item = menu_item(walk.client, slot);
  if (item.type != MENU_ACTION) {
    show(item.type == MENU_MENU ? slot : walk.menu.slot, slot, item.type == MENU_MENU ? NONE : slot);
    return CLIENTS_MENU_STAYS;
  }
  tell("select", slot);
  const int followed = follow(item.next);
  return followed == FOLLOW_UNSET ? CLIENTS_MENU_STAYS : followed;
}

// An action has no screen of its own: its -prev counts while it is pointed
// at, before the menu's.
int press_left_on_list()
{
  const int chosen = walk.chosen.slot;
  if (chosen >= 0 && menu_item(walk.client, chosen).type == MENU_ACTION) {
    const int followed = follow(menu_item(walk.client, chosen).prev);
    if (followed != FOLLOW_UNSET)
      return followed;
  }
  if (walk.menu.slot != MENU_MAIN) {
    const int followed = follow(item_at(walk.menu).prev);
    if (followed != FOLLOW_UNSET)
      return followed;
  }
  return back_from(walk.menu.slot);
}

int press_list(int key)
{
  switch (key) {
  case KEY_UP:
  case KEY_DOWN:
    if (walk.chosen.slot >= 0)
      walk.chosen = place_of(walk.client, menu_neighbour(walk.client, walk.menu.slot, walk.chosen.slot,
                                                         key == KEY_DOWN ? 1 : -1));
    return CLIENTS_MENU_STAYS;
  case KEY_RIGHT:
    return select_chosen();
  case KEY_LEFT:
    return press_left_on_list();
  default:
    return CLIENTS_MENU_STAYS;
  }
}

void end_walk()
{
  tell("leave", in_view());
  walk.open = false;
}

int repeat_size(int repeats, int type)
{
  if (type != MENU_NUMERIC || repeats < REPEATS_BEFORE_TENS)
    return 1;
  return repeats < REPEATS_BEFORE_HUNDREDS ? 10 : 100;
}

} // namespace

void menu_set_entry(int client, int slot)
{
  if (slot != MENU_MAIN_PANEL)
    entry = Entry{client, clients_connection(client), place_of(client, slot)};
  else if (entry.client == client)
    entry = Entry{};
}

bool clients_menu_entry(int *client)
{
  if (entry.client < 0 || clients_connection(entry.client) != entry.connection ||
      !is_there(entry.client, entry.menu) || !menu_has_items(entry.client)) {
    entry = Entry{};
    return false;
  }
  *client = entry.client;
  return true;
}

void clients_menu_reset_entry()
{
  entry = Entry{};
}

// Where menu_goto asked, else the top: the client's main menu, or the menu
// it made the way in.
void clients_menu_open(int client, bool as_entry)
{
  clients_menu_close();
  walk = Walk{};
  if (!client_in_use(client) || !menu_has_items(client))
    return;
  walk.open = true;
  walk.client = client;
  walk.connection = clients_connection(client);
  int entry_client = -1;
  if (as_entry && clients_menu_entry(&entry_client) && entry_client == client)
    walk.top = entry.menu;
  Client &owner = clients[static_cast<std::size_t>(client)];
  const Place asked{owner.menu_goto, owner.menu_goto_generation};
  owner.menu_goto = MENU_MAIN;
  go_to(asked.slot != MENU_MAIN && is_there(client, asked) ? asked.slot : walk.top.slot);
}

int clients_menu_press(int key)
{
  if (!settle())
    return CLIENTS_MENU_UP;
  const int result = walk.editing.slot >= 0 ? press_editing(key) : press_list(key);
  if (result != CLIENTS_MENU_STAYS)
    end_walk();
  return result;
}

// The steps due since the button went down are made at once, a few at most,
// so that a pass that came late does not make up for the time lost.
void clients_menu_held(int key, long long held_ms)
{
  const bool stepping =
      settle() && walk.editing.slot >= 0 && (key == KEY_UP || key == KEY_DOWN) &&
      held_ms >= REPEAT_AFTER_MS &&
      (item_at(walk.editing).type == MENU_NUMERIC || item_at(walk.editing).type == MENU_SLIDER);
  if (!stepping) {
    walk.repeats = 0;
    return;
  }
  const int due = static_cast<int>((held_ms - REPEAT_AFTER_MS) / REPEAT_EVERY_MS) + 1;
  ClientMenuItem &item = item_at(walk.editing);
  for (int made = 0; walk.repeats < due && made < REPEATS_AT_ONCE_MAX; made++) {
    if (edit_step(&walk.edit, &item, key == KEY_UP ? 1 : -1, repeat_size(walk.repeats, item.type)))
      tell_slider(walk.editing.slot, key == KEY_UP);
    walk.repeats++;
  }
  walk.repeats = due;
}

void clients_menu_close()
{
  if (!settle())
    return;
  if (walk.editing.slot >= 0)
    revert();
  end_walk();
}

bool clients_menu_walking()
{
  return settle();
}

bool clients_menu_rows(PanelRows *rows, int *cursor_column)
{
  if (!settle())
    return false;
  *cursor_column = -1;
  if (walk.editing.slot >= 0)
    *cursor_column = edit_rows(walk.edit, item_at(walk.editing), rows);
  else
    menu_list_rows(walk.client, walk.menu.slot, walk.chosen.slot, rows);
  return true;
}

void menu_walk_changed(int client, int slot)
{
  if (walk.open && walk.client == client && walk.editing.slot == slot && is_there(client, walk.editing))
    edit_follow(&walk.edit, menu_item(client, slot));
}

// While the user is in the client's menu the walk goes there at once, an
// edit in progress cancelled; else the client's menu opens there next time.
void menu_walk_goto(int client, int slot)
{
  if (walk.open && walk.client == client && settle()) {
    if (walk.editing.slot >= 0)
      revert();
    go_to(slot);
    return;
  }
  Client &owner = clients[static_cast<std::size_t>(client)];
  owner.menu_goto = slot;
  owner.menu_goto_generation = place_of(client, slot).generation;
}
