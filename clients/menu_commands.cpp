#include <array>

#include "client_menus.h"

namespace {

constexpr int NUMBER_MIN = -2147483647;
constexpr int NUMBER_MAX = 2147483647;

// In the order of the MENU_ numbers.
constexpr std::array<const char *, 8> TYPE_NAMES = {"action",  "checkbox", "ring", "slider",
                                                    "numeric", "alpha",    "ip",   "menu"};

constexpr int OPTION_TAKEN = 0;
constexpr int OPTION_BAD_VALUE = -1;
constexpr int OPTION_UNKNOWN = -2;

// An option of a request and its value, and what the options said of the
// address, which is read only once the item's IP version is known.
struct ItemOption {
  const ClientWord &name;
  const ClientWord &value;
};

struct ItemChange {
  ClientMenuItem item;
  const ClientWord *address = nullptr;
};

int type_named(const ClientWord &word)
{
  for (std::size_t type = 0; type < TYPE_NAMES.size(); type++) {
    if (client_word_is(word, TYPE_NAMES[type]))
      return static_cast<int>(type);
  }
  return -1;
}

int boolean_of(const ClientWord &word, bool *kept)
{
  if (!client_word_is(word, "true") && !client_word_is(word, "false"))
    return OPTION_BAD_VALUE;
  *kept = client_word_is(word, "true");
  return OPTION_TAKEN;
}

int choice_of(const ClientWord &word, const std::array<const char *, 3> &choices, int *kept)
{
  for (std::size_t place = 0; place < choices.size(); place++) {
    if (client_word_is(word, choices[place])) {
      *kept = static_cast<int>(place);
      return OPTION_TAKEN;
    }
  }
  return OPTION_BAD_VALUE;
}

int number_of(const ClientWord &word, int low, int high, int *kept)
{
  return client_number(word, low, high, kept) < 0 ? OPTION_BAD_VALUE : OPTION_TAKEN;
}

int link_of(const ClientWord &word, MenuLink *link)
{
  constexpr std::array<const char *, 3> PLACES = {"_none_", "_close_", "_quit_"};
  int place = 0;
  if (choice_of(word, PLACES, &place) == OPTION_TAKEN) {
    link->kind = LINK_NONE + place;
    return OPTION_TAKEN;
  }
  if (client_keep_id(&link->id, word) < 0)
    return OPTION_BAD_VALUE;
  link->kind = LINK_ITEM;
  return OPTION_TAKEN;
}

// Ring strings keep their tabs, which part them.
void keep_strings(ClientText *strings, const ClientWord &word)
{
  client_keep_text(strings, word);
  for (std::size_t at = 0; at < strings->length; at++) {
    if (word.text[at] == '\t')
      strings->bytes[at] = '\t';
  }
}

int common_option(ClientMenuItem *item, const ItemOption &option)
{
  if (client_option_is(option.name, "text")) {
    client_keep_text(&item->text, option.value);
    return OPTION_TAKEN;
  }
  if (client_option_is(option.name, "is_hidden"))
    return boolean_of(option.value, &item->hidden);
  if (client_option_is(option.name, "next"))
    return link_of(option.value, &item->next);
  if (client_option_is(option.name, "prev"))
    return link_of(option.value, &item->prev);
  return OPTION_UNKNOWN;
}

// slider and numeric share their bounds.
int number_option(ClientMenuItem *item, const ItemOption &option)
{
  if (client_option_is(option.name, "value"))
    return number_of(option.value, NUMBER_MIN, NUMBER_MAX, &item->value);
  if (client_option_is(option.name, "minvalue"))
    return number_of(option.value, NUMBER_MIN, NUMBER_MAX, &item->minimum);
  if (client_option_is(option.name, "maxvalue"))
    return number_of(option.value, NUMBER_MIN, NUMBER_MAX, &item->maximum);
  if (item->type != MENU_SLIDER)
    return OPTION_UNKNOWN;
  if (client_option_is(option.name, "stepsize"))
    return number_of(option.value, 0, NUMBER_MAX, &item->step);
  if (client_option_is(option.name, "mintext"))
    client_keep_text(&item->min_text, option.value);
  else if (client_option_is(option.name, "maxtext"))
    client_keep_text(&item->max_text, option.value);
  else
    return OPTION_UNKNOWN;
  return OPTION_TAKEN;
}

int alpha_option(ClientMenuItem *item, const ItemOption &option)
{
  const int length_max = static_cast<int>(CLIENTS_MENU_VALUE_MAX);
  if (client_option_is(option.name, "minlength"))
    return number_of(option.value, 0, length_max, &item->min_length);
  if (client_option_is(option.name, "maxlength"))
    return number_of(option.value, 1, length_max, &item->max_length);
  if (client_option_is(option.name, "allow_caps"))
    return boolean_of(option.value, &item->caps);
  if (client_option_is(option.name, "allow_noncaps"))
    return boolean_of(option.value, &item->noncaps);
  if (client_option_is(option.name, "allow_numbers"))
    return boolean_of(option.value, &item->numbers);
  if (client_option_is(option.name, "value")) {
    client_keep_text(&item->chars, option.value);
  } else if (client_option_is(option.name, "allowed_extra")) {
    client_keep_text(&item->extra, option.value);
  } else if (client_option_is(option.name, "password_char")) {
    BoundedText<1> first;
    client_keep_text(&first, option.value);
    item->password = first.bytes[0];
  } else {
    return OPTION_UNKNOWN;
  }
  return OPTION_TAKEN;
}

int typed_option(ItemChange *change, int client, int slot, const ItemOption &option)
{
  ClientMenuItem *item = &change->item;
  int place = 0;
  switch (item->type) {
  case MENU_ACTION:
    if (!client_option_is(option.name, "menu_result"))
      return OPTION_UNKNOWN;
    if (choice_of(option.value, {"none", "close", "quit"}, &place) < 0)
      return OPTION_BAD_VALUE;
    item->next.kind = LINK_NONE + place;
    return OPTION_TAKEN;
  case MENU_CHECKBOX:
    if (client_option_is(option.name, "value"))
      return choice_of(option.value, {"off", "on", "gray"}, &item->value);
    if (client_option_is(option.name, "allow_gray"))
      return boolean_of(option.value, &item->allow_gray);
    return OPTION_UNKNOWN;
  case MENU_RING:
    if (client_option_is(option.name, "value"))
      return number_of(option.value, 0, NUMBER_MAX, &item->value);
    if (!client_option_is(option.name, "strings"))
      return OPTION_UNKNOWN;
    keep_strings(&item->strings, option.value);
    return OPTION_TAKEN;
  case MENU_SLIDER:
  case MENU_NUMERIC:
    return number_option(item, option);
  case MENU_ALPHA:
    return alpha_option(item, option);
  case MENU_IP:
    if (client_option_is(option.name, "value")) {
      change->address = &option.value;
      return OPTION_TAKEN;
    }
    return client_option_is(option.name, "v6") ? boolean_of(option.value, &item->v6) : OPTION_UNKNOWN;
  default:
    if (!client_option_is(option.name, "parent"))
      return OPTION_UNKNOWN;
    item->parent = menu_find(client, option.value);
    return menu_parent_allowed(client, slot, item->parent) ? OPTION_TAKEN : OPTION_BAD_VALUE;
  }
}

// What the options leave must hold together, whatever their order: a value
// within its bounds, an address of the item's IP version. NULL, or the reason.
const char *settle(ItemChange *change, bool was_v6)
{
  ClientMenuItem &item = change->item;
  switch (item.type) {
  case MENU_SLIDER:
  case MENU_NUMERIC:
    if (item.minimum > item.maximum)
      return "Minimum above maximum";
    item.value = std::clamp(item.value, item.minimum, item.maximum);
    return nullptr;
  case MENU_RING:
    item.value = std::min(item.value, std::max(0, menu_ring_count(item) - 1));
    return nullptr;
  case MENU_ALPHA:
    if (item.min_length > item.max_length)
      return "Minimum length above maximum length";
    item.chars.length = std::min(item.chars.length, static_cast<std::size_t>(item.max_length));
    item.chars.bytes[item.chars.length] = '\0';
    return nullptr;
  case MENU_IP:
    if (change->address != nullptr && menu_parse_address(*change->address, item.v6, &item.address) < 0)
      return item.v6 ? "Invalid IPv6 address" : "Invalid IPv4 address";
    if (change->address == nullptr && item.v6 != was_v6)
      item.address = MenuAddress{};
    return nullptr;
  default:
    return nullptr;
  }
}

// The options from words[first] on, applied to a copy: the item changes
// only when every one of them is taken. 0, or -1 after answering.
int apply_options(const ClientRequest &request, int first, int slot, ClientMenuItem *item)
{
  const int client = request.client;
  ItemChange change{*item};
  for (int at = first; at < request.count; at += 2) {
    const ClientWord &name = request.words[at];
    if (at + 1 == request.count) {
      client_huh_about(client, "Missing value for option", name);
      return -1;
    }
    const ItemOption option{name, request.words[at + 1]};
    int result = common_option(&change.item, option);
    if (result == OPTION_UNKNOWN)
      result = typed_option(&change, client, slot, option);
    if (result != OPTION_TAKEN) {
      client_huh_about(client, result == OPTION_UNKNOWN ? "Unknown option" : "Invalid value",
                       result == OPTION_UNKNOWN ? name : option.value);
      return -1;
    }
  }
  const char *reason = settle(&change, item->v6);
  if (reason != nullptr) {
    client_huh(client, reason);
    return -1;
  }
  *item = change.item;
  return 0;
}

// The menu a request names: the main menu for "", else an item of type menu.
int menu_named(int client, const ClientWord &word)
{
  const int menu = menu_find(client, word);
  if (menu == MENU_NOT_FOUND)
    client_huh_about(client, "Unknown menu id", word);
  else if (!menu_is_menu(client, menu))
    client_huh_about(client, "Not a menu", word);
  else
    return menu;
  return MENU_NOT_FOUND;
}

// An item a request names, never the main menu.
int item_named(int client, const ClientWord &word)
{
  const int slot = menu_find(client, word);
  if (slot < 0)
    client_huh_about(client, "Unknown menu item", word);
  return slot < 0 ? MENU_NOT_FOUND : slot;
}

bool is_option(const ClientWord &word)
{
  return word.length > 0 && word.text[0] == '-';
}

// Each kind starts from the values the protocol gives when nothing is said.
ClientMenuItem new_item(int type, const ClientWord &id, int menu)
{
  ClientMenuItem item;
  item.type = type;
  (void)client_keep_id(&item.id, id);
  client_keep_text(&item.text, id);
  item.container = menu;
  item.parent = menu;
  return item;
}

} // namespace

// A text that begins with a dash can only be given with -text.
void client_menu_add_item(const ClientRequest &request)
{
  const int client = request.client;
  if (request.count < 4) {
    client_huh(client, "Usage: menu_add_item MENU ITEM TYPE [TEXT] [-OPTION VALUE]...");
    return;
  }
  const ClientWord &id = request.words[2];
  const int menu = menu_named(client, request.words[1]);
  const int type = type_named(request.words[3]);
  const int slot = client_free_slot(clients[static_cast<std::size_t>(client)].menu);
  ClientId kept;
  if (menu == MENU_NOT_FOUND)
    return;
  if (type < 0) {
    client_huh_about(client, "Invalid item type", request.words[3]);
  } else if (id.length == 0 || client_keep_id(&kept, id) < 0) {
    client_huh(client, id.length == 0 ? "The main menu's id \"\" is taken" : "Item id too long");
  } else if (menu_find(client, id) != MENU_NOT_FOUND) {
    client_huh_about(client, "Item already exists", id);
  } else if (slot < 0) {
    client_huh(client, "Too many menu items");
  } else {
    ClientMenuItem added = new_item(type, id, menu);
    int first = 4;
    if (request.count > first && !is_option(request.words[first]))
      client_keep_text(&added.text, request.words[first++]);
    if (apply_options(request, first, slot, &added) < 0)
      return;
    added.used = true;
    added.generation = client_next_generation();
    menu_item(client, slot) = added;
    client_success(client);
  }
}

// The menu's id, which the protocol's first version gave, is not needed.
void client_menu_del_item(const ClientRequest &request)
{
  if (request.count != 2 && request.count != 3) {
    client_huh(request.client, "Usage: menu_del_item [MENU] ITEM");
    return;
  }
  const int slot = item_named(request.client, request.words[request.count - 1]);
  if (slot == MENU_NOT_FOUND)
    return;
  menu_remove(request.client, slot);
  client_success(request.client);
}

void client_menu_set_item(const ClientRequest &request)
{
  if (request.count < 3) {
    client_huh(request.client, "Usage: menu_set_item MENU ITEM [-OPTION VALUE]...");
    return;
  }
  const int slot = item_named(request.client, request.words[2]);
  if (slot == MENU_NOT_FOUND || apply_options(request, 3, slot, &menu_item(request.client, slot)) < 0)
    return;
  menu_walk_changed(request.client, slot);
  client_success(request.client);
}

void client_menu_goto(const ClientRequest &request)
{
  const int client = request.client;
  if (request.count != 2 && request.count != 3) {
    client_huh(client, "Usage: menu_goto ITEM [PARENT]");
    return;
  }
  const int slot = menu_find(client, request.words[1]);
  if (slot == MENU_NOT_FOUND) {
    client_huh_about(client, "Unknown menu item", request.words[1]);
    return;
  }
  if (request.count == 3) {
    const int parent = menu_named(client, request.words[2]);
    if (parent == MENU_NOT_FOUND)
      return;
    if (slot == MENU_MAIN || !menu_parent_allowed(client, slot, parent)) {
      client_huh_about(client, "Invalid parent", request.words[2]);
      return;
    }
    menu_item(client, slot).parent = parent;
  }
  // The reply comes before the events the move causes.
  client_success(client);
  menu_walk_goto(client, slot);
}

// _main_ gives the way in back to the panel's own main menu.
void client_menu_set_main(const ClientRequest &request)
{
  const int client = request.client;
  if (request.count != 2) {
    client_huh(client, "Usage: menu_set_main MENU");
    return;
  }
  if (client_word_is(request.words[1], "_main_")) {
    menu_set_entry(client, MENU_MAIN_PANEL);
  } else {
    const int menu = menu_named(client, request.words[1]);
    if (menu == MENU_NOT_FOUND)
      return;
    menu_set_entry(client, menu);
  }
  client_success(client);
}
