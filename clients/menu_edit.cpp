// Editing one item's value on its own screen: Up and Down change it (a
// character or a digit of alpha and ip items, at the cursor), Right accepts
// and Left cancels (alpha and ip: at their last and first places).
#include <cstdio>
#include <cstring>

#include "client_menus.h"

namespace {

constexpr int HEX_BASE = 16;
constexpr int DECIMAL_BASE = 10;
// No character, then the capitals, the small letters, the digits and the extras.
constexpr std::size_t ALPHABET_MAX = 1 + 26 + 26 + 10 + CLIENTS_MENU_VALUE_MAX;
constexpr std::array<const char *, 3> CHECKBOX_WORDS = {"off", "on", "gray"};

using Alphabet = std::array<char, ALPHABET_MAX>;

int wrapped(int value, int count)
{
  return ((value % count) + count) % count;
}

int clamped(long long value, int low, int high)
{
  return static_cast<int>(std::clamp(value, static_cast<long long>(low), static_cast<long long>(high)));
}

void add_letters(Alphabet *letters, int *count, char first, char last)
{
  for (char letter = first; letter <= last; letter++)
    (*letters)[static_cast<std::size_t>((*count)++)] = letter;
}

// The characters an alpha item takes, in the order Up runs through them.
int alphabet_of(const ClientMenuItem &item, Alphabet *letters)
{
  int count = 0;
  (*letters)[static_cast<std::size_t>(count++)] = '\0';
  if (item.caps)
    add_letters(letters, &count, 'A', 'Z');
  if (item.noncaps)
    add_letters(letters, &count, 'a', 'z');
  if (item.numbers)
    add_letters(letters, &count, '0', '9');
  for (std::size_t at = 0; at < item.extra.length; at++) {
    const char extra = item.extra.bytes[at];
    if (std::find(letters->begin(), letters->begin() + count, extra) == letters->begin() + count)
      (*letters)[static_cast<std::size_t>(count++)] = extra;
  }
  return count;
}

// A character the item does not take counts as none.
char next_letter(const ClientMenuItem &item, char letter, int direction)
{
  Alphabet letters{};
  const int count = alphabet_of(item, &letters);
  const auto found = std::find(letters.begin(), letters.begin() + count, letter);
  const int at = found == letters.begin() + count ? 0 : static_cast<int>(found - letters.begin());
  return letters[static_cast<std::size_t>(wrapped(at + direction, count))];
}

// A digit of an IPv4 address changes only to what keeps its number within 255.
void step_digit(MenuAddress *address, bool v6, int digit, int direction)
{
  const int group_digits = v6 ? MENU_IPV6_GROUP_DIGITS : MENU_IPV4_GROUP_DIGITS;
  const int base = v6 ? HEX_BASE : DECIMAL_BASE;
  const int group = digit / group_digits;
  int weight = 1;
  for (int place = digit % group_digits; place < group_digits - 1; place++)
    weight *= base;
  unsigned short &number = (*address)[static_cast<std::size_t>(group)];
  const int old_digit = number / weight % base;
  for (int tried = 1; tried < base; tried++) {
    const int candidate = number - old_digit * weight + wrapped(old_digit + direction * tried, base) * weight;
    if (v6 || candidate <= MENU_IPV4_GROUP_MAX) {
      number = static_cast<unsigned short>(candidate);
      return;
    }
  }
}

} // namespace

std::size_t edit_length(const MenuEdit &edit)
{
  return strnlen(edit.chars.data(), edit.chars.size());
}

void edit_begin(MenuEdit *edit, const ClientMenuItem &item)
{
  *edit = MenuEdit{};
  edit->value = item.value;
  std::copy(item.chars.bytes.begin(), item.chars.bytes.begin() + static_cast<long>(item.chars.length),
            edit->chars.begin());
  edit->address = item.address;
}

// A slider changes the item itself, so it always shows what the client set.
void edit_follow(MenuEdit *edit, const ClientMenuItem &item)
{
  if (edit->changed || item.type == MENU_SLIDER)
    return;
  const int position = edit->position;
  edit_begin(edit, item);
  edit->position = position;
}

// A slider's step of 0 leaves its moves to the client: each press is told
// all the same.
bool edit_step(MenuEdit *edit, ClientMenuItem *item, int direction, int count)
{
  edit->changed = true;
  switch (item->type) {
  case MENU_CHECKBOX:
    edit->value =
        wrapped(edit->value + direction, item->allow_gray ? MENU_CHECKBOX_GRAY + 1 : MENU_CHECKBOX_GRAY);
    return false;
  case MENU_RING:
    if (menu_ring_count(*item) > 0)
      edit->value = wrapped(edit->value + direction, menu_ring_count(*item));
    return false;
  case MENU_NUMERIC:
    edit->value = clamped(static_cast<long long>(edit->value) + static_cast<long long>(direction) * count,
                          item->minimum, item->maximum);
    return false;
  case MENU_SLIDER: {
    const int before = item->value;
    item->value =
        clamped(static_cast<long long>(before) + static_cast<long long>(direction) * item->step * count,
                item->minimum, item->maximum);
    return item->step == 0 || item->value != before;
  }
  case MENU_ALPHA: {
    char &letter = edit->chars[static_cast<std::size_t>(edit->position)];
    letter = next_letter(*item, letter, direction);
    return false;
  }
  case MENU_IP:
    step_digit(&edit->address, item->v6, edit->position, direction);
    return false;
  default:
    return false;
  }
}

// An alpha value ends at the first place with no character, and may not
// end before its minimum length.
int edit_move(MenuEdit *edit, const ClientMenuItem &item, int key)
{
  int last = 0;
  if (item.type == MENU_ALPHA)
    last = item.max_length - 1;
  else if (item.type == MENU_IP)
    last =
        (item.v6 ? MENU_ADDRESS_GROUPS * MENU_IPV6_GROUP_DIGITS : MENU_IPV4_GROUPS * MENU_IPV4_GROUP_DIGITS) -
        1;
  if (key == KEY_LEFT) {
    if (edit->position == 0)
      return EDIT_CANCEL;
    edit->position--;
    return EDIT_STAYS;
  }
  if (key != KEY_RIGHT)
    return EDIT_STAYS;
  if (item.type == MENU_ALPHA && edit->chars[static_cast<std::size_t>(edit->position)] == '\0')
    return edit->position >= item.min_length ? EDIT_ACCEPT : EDIT_STAYS;
  if (edit->position >= last)
    return EDIT_ACCEPT;
  edit->position++;
  return EDIT_STAYS;
}

void edit_commit(const MenuEdit &edit, ClientMenuItem *item)
{
  switch (item->type) {
  case MENU_ALPHA:
    item->chars.length = edit_length(edit);
    std::copy(edit.chars.begin(), edit.chars.begin() + static_cast<long>(item->chars.length),
              item->chars.bytes.begin());
    item->chars.bytes[item->chars.length] = '\0';
    break;
  case MENU_IP:
    item->address = edit.address;
    break;
  case MENU_SLIDER:
    break;
  default:
    item->value = edit.value;
    break;
  }
}

void edit_value(const MenuEdit &edit, const ClientMenuItem &item, char *text, std::size_t size)
{
  switch (item.type) {
  case MENU_CHECKBOX:
    snprintf(text, size, "%s",
             CHECKBOX_WORDS[static_cast<std::size_t>(std::min(edit.value, MENU_CHECKBOX_GRAY))]);
    break;
  case MENU_ALPHA:
    snprintf(text, size, "%.*s", static_cast<int>(edit_length(edit)), edit.chars.data());
    break;
  case MENU_IP:
    menu_address_text(edit.address, item.v6, text, size);
    break;
  case MENU_SLIDER:
    snprintf(text, size, "%d", item.value);
    break;
  default:
    snprintf(text, size, "%d", edit.value);
    break;
  }
}
