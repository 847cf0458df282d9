// The menu requests: menu_add_item, menu_del_item, menu_set_item,
// menu_goto and menu_set_main, answered once each.
#include <array>

#include "client_menus.h"

namespace {

// In the order of the MENU_ numbers.
constexpr std::array<const char *, 8> TYPE_NAMES = {"action",  "checkbox", "ring", "slider",
                                                    "numeric", "alpha",    "ip",   "menu"};

int type_named(const ClientWord &word)
{
  for (std::size_t type = 0; type < TYPE_NAMES.size(); type++) {
    if (client_word_is(word, TYPE_NAMES[type]))
      return static_cast<int>(type);
  }
  return -1;
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
    if (menu_apply_options(request, first, slot, &added) < 0)
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
  if (slot == MENU_NOT_FOUND || menu_apply_options(request, 3, slot, &menu_item(request.client, slot)) < 0)
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
