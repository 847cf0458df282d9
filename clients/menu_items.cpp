// A client's menu items: finding them, their order in a menu, deleting
// them, a ring's strings, addresses as text, and the events about them.
#include <arpa/inet.h>
#include <climits>
#include <cstdio>
#include <cstring>

#include "client_menus.h"

namespace {

constexpr int HEX_BASE = 16;
constexpr int BITS_PER_BYTE = 8;
constexpr unsigned BYTE_MASK = 0xFF;

bool listed_in(const ClientMenuItem &item, int menu)
{
  return item.used && item.container == menu && !item.hidden;
}

int digit_value(char byte)
{
  if (byte >= '0' && byte <= '9')
    return byte - '0';
  if (byte >= 'a' && byte <= 'f')
    return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F')
    return byte - 'A' + 10;
  return HEX_BASE;
}

// How an address is written: its numbers, their digits and what parts them.
struct AddressForm {
  char separator;
  int base;
  int digits;
  int groups;
  int group_max;
  // IPv6 written out may leave a group empty for 0.
  bool empty_is_zero;
};

constexpr AddressForm IPV4_FORM = {'.',  10, MENU_IPV4_GROUP_DIGITS, MENU_IPV4_GROUPS, MENU_IPV4_GROUP_MAX,
                                   false};
constexpr AddressForm IPV6_FORM = {':', HEX_BASE, MENU_IPV6_GROUP_DIGITS, MENU_ADDRESS_GROUPS, 0xFFFF, true};

// IPv4's four numbers of one to three digits, up to 255 each, between dots;
// or IPv6's eight groups with every colon written out, as in the
// protocol's own example ":::ffff:ffff:ffff:ffff:ffff".
int parse_groups(const ClientWord &word, const AddressForm &form, MenuAddress *address)
{
  MenuAddress parsed{};
  int group = 0;
  int digits = 0;
  int number = 0;
  for (std::size_t at = 0; at <= word.length; at++) {
    const char byte = at < word.length ? word.text[at] : form.separator;
    if (digit_value(byte) < form.base && digits < form.digits) {
      number = number * form.base + digit_value(byte);
      digits++;
      continue;
    }
    if (byte != form.separator || (digits == 0 && !form.empty_is_zero) || number > form.group_max ||
        group == form.groups)
      return -1;
    parsed[static_cast<std::size_t>(group++)] = static_cast<unsigned short>(number);
    number = 0;
    digits = 0;
  }
  if (group != form.groups)
    return -1;
  *address = parsed;
  return 0;
}

// Any form the system's own parser takes ("::1", "::ffff:10.0.0.1"), else
// the groups written out.
int parse_v6(const ClientWord &word, MenuAddress *address)
{
  char text[INET6_ADDRSTRLEN] = {};
  in6_addr bytes{};
  if (word.length >= sizeof text)
    return -1;
  std::memcpy(text, word.text, word.length);
  if (inet_pton(AF_INET6, text, &bytes) != 1)
    return parse_groups(word, IPV6_FORM, address);
  for (std::size_t group = 0; group < address->size(); group++)
    (*address)[group] =
        static_cast<unsigned short>(bytes.s6_addr[2 * group] << BITS_PER_BYTE | bytes.s6_addr[2 * group + 1]);
  return 0;
}

} // namespace

ClientMenuItem &menu_item(int client, int slot)
{
  return clients[static_cast<std::size_t>(client)].menu[static_cast<std::size_t>(slot)];
}

int menu_find(int client, const ClientWord &word)
{
  if (word.length == 0)
    return MENU_MAIN;
  const auto &items = clients[static_cast<std::size_t>(client)].menu;
  for (std::size_t slot = 0; slot < items.size(); slot++) {
    if (items[slot].used && client_same(items[slot].id, word))
      return static_cast<int>(slot);
  }
  return MENU_NOT_FOUND;
}

int menu_find_link(int client, const MenuLink &link)
{
  if (link.kind != LINK_ITEM)
    return MENU_NOT_FOUND;
  return menu_find(client, ClientWord{link.id.bytes.data(), link.id.length});
}

bool menu_is_menu(int client, int slot)
{
  return slot == MENU_MAIN ||
         (slot >= 0 && menu_item(client, slot).used && menu_item(client, slot).type == MENU_MENU);
}

// Going back from the parent and on must reach the main menu, not the item.
bool menu_parent_allowed(int client, int slot, int parent)
{
  for (int steps = 0; steps <= CLIENTS_MENU_ITEMS; steps++) {
    if (parent == MENU_MAIN)
      return true;
    if (parent == slot || !menu_is_menu(client, parent))
      return false;
    parent = menu_item(client, parent).parent;
  }
  return false;
}

// From -1: the first item (step 1) or the last (step -1).
int menu_neighbour(int client, int menu, int from, int step)
{
  const auto &items = clients[static_cast<std::size_t>(client)].menu;
  unsigned long long after = step > 0 ? 0 : ULLONG_MAX;
  if (from >= 0)
    after = items[static_cast<std::size_t>(from)].generation;
  int found = -1;
  for (std::size_t slot = 0; slot < items.size(); slot++) {
    const unsigned long long generation = items[slot].generation;
    const bool beyond = step > 0 ? generation > after : generation < after;
    const bool nearer =
        found < 0 || (step > 0 ? generation < items[static_cast<std::size_t>(found)].generation
                               : generation > items[static_cast<std::size_t>(found)].generation);
    if (listed_in(items[slot], menu) && beyond && nearer)
      found = static_cast<int>(slot);
  }
  if (found < 0 && from >= 0)
    return menu_neighbour(client, menu, -1, step);
  return found;
}

// Items whose parent was reset to the one removed go back to their own menu.
void menu_remove(int client, int slot)
{
  Client &owner = clients[static_cast<std::size_t>(client)];
  owner.menu[static_cast<std::size_t>(slot)].used = false;
  for (std::size_t other = 0; other < owner.menu.size(); other++) {
    ClientMenuItem &item = owner.menu[other];
    if (item.used && item.container == slot)
      menu_remove(client, static_cast<int>(other));
    else if (item.used && item.parent == slot)
      item.parent = item.container;
  }
  if (owner.menu_goto == slot)
    owner.menu_goto = MENU_MAIN;
}

int menu_ring_count(const ClientMenuItem &item)
{
  if (item.strings.length == 0)
    return 0;
  const char *bytes = item.strings.bytes.data();
  return 1 + static_cast<int>(std::count(bytes, bytes + item.strings.length, '\t'));
}

const char *menu_ring_string(const ClientMenuItem &item, int index, std::size_t *length)
{
  const char *text = item.strings.bytes.data();
  const char *end = text + item.strings.length;
  for (; index > 0 && text < end; index--)
    text = std::find(text, end, '\t') + 1;
  text = std::min(text, end);
  *length = static_cast<std::size_t>(std::find(text, end, '\t') - text);
  return text;
}

int menu_parse_address(const ClientWord &word, bool v6, MenuAddress *address)
{
  return v6 ? parse_v6(word, address) : parse_groups(word, IPV4_FORM, address);
}

void menu_address_text(const MenuAddress &address, bool v6, char *text, std::size_t size)
{
  if (!v6) {
    snprintf(text, size, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    return;
  }
  in6_addr bytes{};
  for (std::size_t group = 0; group < address.size(); group++) {
    bytes.s6_addr[2 * group] = static_cast<unsigned char>(address[group] >> BITS_PER_BYTE);
    bytes.s6_addr[2 * group + 1] = static_cast<unsigned char>(address[group] & BYTE_MASK);
  }
  if (inet_ntop(AF_INET6, &bytes, text, static_cast<socklen_t>(size)) == nullptr && size > 0)
    text[0] = '\0';
}

void menu_event(int client, const char *name, int slot, const char *value)
{
  const ClientMenuItem &item = menu_item(client, slot);
  (void)client_queue(client, "menuevent ", 10);
  (void)client_queue(client, name, strlen(name));
  (void)client_queue(client, " ", 1);
  (void)client_queue(client, item.id.bytes.data(), item.id.length);
  if (value != nullptr) {
    (void)client_queue(client, " ", 1);
    (void)client_queue(client, value, strlen(value));
  }
  (void)client_queue(client, "\n", 1);
}

bool menu_has_items(int client)
{
  const auto &items = clients[static_cast<std::size_t>(client)].menu;
  return std::any_of(items.begin(), items.end(), [](const ClientMenuItem &item) { return item.used; });
}

int clients_menu_clients(int *list, int capacity)
{
  int count = 0;
  for (int client = 0; client < CLIENTS_MAX && count < capacity; client++) {
    if (client_in_use(client) && menu_has_items(client))
      list[count++] = client;
  }
  std::sort(list, list + count, [](int a, int b) { return clients_connection(a) < clients_connection(b); });
  return count;
}
