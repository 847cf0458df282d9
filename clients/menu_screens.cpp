// The screens of a client's menu on the 16 x 2 glass: a menu's list, with
// the item pointed at on row 0 and the next one below, and each kind of
// item's edit screen, its text on row 0 and its value on row 1.
#include <cstdio>
#include <cstring>

#include "client_menus.h"

namespace {

constexpr std::size_t LINE_SIZE = LCM_COLUMNS + 1;
// What a ring's string may take of a list row; its text keeps the rest.
constexpr int RING_STATUS_MAX = 8;
constexpr char BAR_FILLED = '#';
constexpr char BAR_EMPTY = '_';
constexpr std::array<char, 3> CHECKBOX_MARKS = {'N', 'Y', 'o'};

// width cells: the text, cut to leave a blank and the status at the end.
void status_line(char *line, int width, const char *text, const char *status)
{
  const int status_width = static_cast<int>(strnlen(status, static_cast<std::size_t>(width)));
  const int text_width = status_width > 0 ? width - 1 - status_width : width;
  snprintf(line, static_cast<std::size_t>(width) + 1, "%-*.*s%s%.*s", text_width, text_width, text,
           status_width > 0 ? " " : "", status_width, status);
}

// min text, a bar of # over the value's share of the range and _ over the
// rest, max text.
void slider_row(const ClientMenuItem &item, PanelRow *row)
{
  char line[LINE_SIZE] = {};
  const int ends = static_cast<int>(item.min_text.length + item.max_text.length);
  const int width = std::max(0, LCM_COLUMNS - ends);
  const long long range = static_cast<long long>(item.maximum) - item.minimum;
  const long long share = static_cast<long long>(item.value) - item.minimum;
  const int filled = range > 0 ? static_cast<int>((share * width + range / 2) / range) : width;
  int at = snprintf(line, sizeof line, "%s", item.min_text.bytes.data());
  for (int cell = 0; cell < width && at < LCM_COLUMNS; cell++)
    line[at++] = cell < filled ? BAR_FILLED : BAR_EMPTY;
  snprintf(line + at, sizeof line - static_cast<std::size_t>(at), "%s", item.max_text.bytes.data());
  panel_row_from_text(row, line);
}

// The part of a long value around the cursor; the cursor's column.
int window_row(PanelRow *row, const char *text, int length, int cursor)
{
  const int start = std::max(0, std::min(cursor - (LCM_COLUMNS - 1), length - LCM_COLUMNS));
  panel_row_from_bytes(row, text + start, static_cast<std::size_t>(length - start));
  return cursor - start;
}

// A password's characters show as its character, all but the one at the
// cursor, which the user is choosing; no character shows as a blank, and
// the characters after it stay in view while the user chooses.
int alpha_row(const MenuEdit &edit, const ClientMenuItem &item, PanelRow *row)
{
  char shown[CLIENTS_MENU_VALUE_MAX] = {};
  const auto last =
      std::find_if(edit.chars.rbegin(), edit.chars.rend(), [](char byte) { return byte != '\0'; });
  const int length = std::max(static_cast<int>(edit.chars.rend() - last), edit.position + 1);
  for (int at = 0; at < length; at++) {
    const char byte = edit.chars[static_cast<std::size_t>(at)];
    shown[at] = byte == '\0' ? ' ' : byte;
    if (item.password != '\0' && byte != '\0' && at != edit.position)
      shown[at] = item.password;
  }
  return window_row(row, shown, length, edit.position);
}

// Every digit written, so that each has its cell: 192.168.001.002.
int ip_row(const MenuEdit &edit, const ClientMenuItem &item, PanelRow *row)
{
  char text[CLIENTS_MENU_VALUE_MAX] = {};
  const int groups = item.v6 ? MENU_ADDRESS_GROUPS : MENU_IPV4_GROUPS;
  const int group_digits = item.v6 ? MENU_IPV6_GROUP_DIGITS : MENU_IPV4_GROUP_DIGITS;
  int length = 0;
  for (int group = 0; group < groups; group++) {
    const unsigned number = edit.address[static_cast<std::size_t>(group)];
    const char *separator = group == 0 ? "" : (item.v6 ? ":" : ".");
    length += snprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                       item.v6 ? "%s%04x" : "%s%03u", separator, number);
  }
  const int cell = edit.position / group_digits * (group_digits + 1) + edit.position % group_digits;
  return window_row(row, text, length, cell);
}

void item_line(const ClientMenuItem &item, char *line)
{
  char status[LINE_SIZE] = "";
  if (item.type == MENU_CHECKBOX) {
    status[0] = CHECKBOX_MARKS[static_cast<std::size_t>(std::min(item.value, MENU_CHECKBOX_GRAY))];
  } else if (item.type == MENU_MENU) {
    status[0] = '>';
  } else if (item.type == MENU_RING) {
    std::size_t length = 0;
    const char *text = menu_ring_string(item, item.value, &length);
    snprintf(status, sizeof status, "%.*s", static_cast<int>(std::min<std::size_t>(length, RING_STATUS_MAX)),
             text);
  }
  status_line(line, LCM_COLUMNS - 1, item.text.bytes.data(), status);
}

} // namespace

int edit_rows(const MenuEdit &edit, const ClientMenuItem &item, PanelRows *rows)
{
  char value[CLIENTS_TEXT_MAX + 1];
  edit_value(edit, item, value, sizeof value);
  panel_row_from_text(&rows->front(), item.text.bytes.data());
  PanelRow *row = &rows->back();
  switch (item.type) {
  case MENU_SLIDER: {
    char line[LINE_SIZE];
    status_line(line, LCM_COLUMNS, item.text.bytes.data(), value);
    panel_row_from_text(&rows->front(), line);
    slider_row(item, row);
    return -1;
  }
  case MENU_RING: {
    std::size_t length = 0;
    const char *text = menu_ring_string(item, edit.value, &length);
    panel_row_from_bytes(row, text, length);
    return -1;
  }
  case MENU_ALPHA:
    return alpha_row(edit, item, row);
  case MENU_IP:
    return ip_row(edit, item, row);
  default:
    panel_row_from_text(row, value);
    return -1;
  }
}

// A checkbox shows Y, N or o at the row's end, a ring its string, a submenu
// a '>'; any other item its text alone. A menu with nothing to list shows
// its name over "(empty)".
void menu_list_rows(int client, int menu, int chosen, PanelRows *rows)
{
  if (chosen < 0) {
    panel_row_from_text(&rows->front(),
                        menu == MENU_MAIN ? clients_name(client) : menu_item(client, menu).text.bytes.data());
    panel_row_from_text(&rows->back(), "(empty)");
    return;
  }
  const int next = menu_neighbour(client, menu, chosen, 1);
  const bool below = menu_item(client, next).generation > menu_item(client, chosen).generation;
  char line[LINE_SIZE];
  line[0] = '>';
  item_line(menu_item(client, chosen), line + 1);
  panel_row_from_text(&rows->front(), line);
  line[0] = ' ';
  if (below)
    item_line(menu_item(client, next), line + 1);
  panel_row_from_text(&rows->back(), below ? line : "");
}
