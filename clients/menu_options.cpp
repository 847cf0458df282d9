// The options of menu_add_item and menu_set_item: each kind of item's own,
// their values, and what they must hold together once all are applied.
#include <array>

#include "client_menus.h"

namespace {

constexpr int NUMBER_MIN = -2147483647;
constexpr int NUMBER_MAX = 2147483647;

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

} // namespace

// The options from words[first] on, applied to a copy: the item changes
// only when every one of them is taken. 0, or -1 after answering.
int menu_apply_options(const ClientRequest &request, int first, int slot, ClientMenuItem *item)
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
