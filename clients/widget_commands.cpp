#include <array>
#include <cctype>

#include "client_records.h"

namespace {

// Far beyond the glass, near enough to keep the arithmetic small.
constexpr int COORDINATE_LIMIT = 10000;
constexpr int SPEED_LIMIT = 1000;
constexpr int FRAME_SIZE_MAX = 255;
constexpr int COLON_DIGIT = 10;

struct Named {
  const char *name;
  int value;
};

// In the order of the WIDGET_ numbers: the name, how many arguments
// widget_set takes after the ids, and how.
struct WidgetKind {
  const char *name;
  int arguments;
  const char *usage;
};

constexpr std::array<WidgetKind, 8> WIDGET_KINDS = {{
    {"string", 3, "Usage: widget_set SCREEN WIDGET X Y TEXT"},
    {"title", 1, "Usage: widget_set SCREEN WIDGET TEXT"},
    {"hbar", 3, "Usage: widget_set SCREEN WIDGET X Y LENGTH"},
    {"vbar", 3, "Usage: widget_set SCREEN WIDGET X Y LENGTH"},
    {"icon", 3, "Usage: widget_set SCREEN WIDGET X Y ICON"},
    {"scroller", 7, "Usage: widget_set SCREEN WIDGET LEFT TOP RIGHT BOTTOM h|v|m SPEED TEXT"},
    {"frame", 8, "Usage: widget_set SCREEN WIDGET LEFT TOP RIGHT BOTTOM WIDTH HEIGHT h|v SPEED"},
    {"num", 2, "Usage: widget_set SCREEN WIDGET X DIGIT"},
}};

// The module has no characters to define, so each icon has an ASCII stand-in.
constexpr std::array<Named, 22> ICONS = {{
    {"BLOCK_FILLED", '#'},
    {"HEART_OPEN", 'o'},
    {"HEART_FILLED", '*'},
    {"ARROW_UP", '^'},
    {"ARROW_DOWN", 'v'},
    {"ARROW_LEFT", '<'},
    {"ARROW_RIGHT", '>'},
    {"CHECKBOX_OFF", '-'},
    {"CHECKBOX_ON", 'X'},
    {"CHECKBOX_GRAY", '+'},
    {"SELECTOR_AT_LEFT", '>'},
    {"SELECTOR_AT_RIGHT", '<'},
    {"ELLIPSIS", '.'},
    {"STOP", '#'},
    {"PAUSE", '|'},
    {"PLAY", '>'},
    {"PLAYR", '<'},
    {"FF", '}'},
    {"FR", '{'},
    {"NEXT", ']'},
    {"PREV", '['},
    {"REC", 'O'},
}};

// Icon names are taken in either case.
bool same_name(const ClientWord &word, const char *name)
{
  std::size_t at = 0;
  for (; at < word.length && name[at] != '\0'; at++) {
    if (std::toupper(static_cast<unsigned char>(word.text[at])) != name[at])
      return false;
  }
  return at == word.length && name[at] == '\0';
}

int icon_named(const ClientWord &word)
{
  for (const Named &icon : ICONS) {
    if (same_name(word, icon.name))
      return icon.value;
  }
  return -1;
}

int coordinate(const ClientWord &word, int *value)
{
  return client_number(word, -COORDINATE_LIMIT, COORDINATE_LIMIT, value);
}

int direction_of(const ClientWord &word, const char *allowed, char *direction)
{
  if (word.length != 1)
    return -1;
  for (const char *at = allowed; *at != '\0'; at++) {
    if (word.text[0] == *at) {
      *direction = *at;
      return 0;
    }
  }
  return -1;
}

int kind_named(const ClientWord &word)
{
  for (std::size_t kind = 0; kind < WIDGET_KINDS.size(); kind++) {
    if (client_word_is(word, WIDGET_KINDS[kind].name))
      return static_cast<int>(kind);
  }
  return -1;
}

const WidgetKind &kind_of(const ClientWidget &widget)
{
  return WIDGET_KINDS[static_cast<std::size_t>(widget.type)];
}

// The arguments into a copy of the widget; nullptr when they fit, or the
// reason they do not.
const char *read_arguments(ClientWidget *widget, const ClientWord *arguments)
{
  const int type = widget->type;
  if (type == WIDGET_TITLE) {
    client_keep_text(&widget->text, arguments[0]);
    return nullptr;
  }
  if (coordinate(arguments[0], &widget->x) < 0)
    return "Invalid coordinates";
  if (type == WIDGET_NUM)
    return client_number(arguments[1], 0, COLON_DIGIT, &widget->value) < 0 ? "Invalid digit" : nullptr;
  if (coordinate(arguments[1], &widget->y) < 0)
    return "Invalid coordinates";
  if (type == WIDGET_STRING) {
    client_keep_text(&widget->text, arguments[2]);
  } else if (type == WIDGET_HBAR || type == WIDGET_VBAR) {
    if (client_number(arguments[2], -COORDINATE_LIMIT, COORDINATE_LIMIT, &widget->value) < 0)
      return "Invalid length";
  } else if (type == WIDGET_ICON) {
    widget->value = icon_named(arguments[2]);
    if (widget->value < 0)
      return "Invalid icon name";
  } else {
    if (coordinate(arguments[2], &widget->right) < 0 || coordinate(arguments[3], &widget->bottom) < 0)
      return "Invalid coordinates";
    const bool frame = type == WIDGET_FRAME;
    if (frame && (client_number(arguments[4], 1, FRAME_SIZE_MAX, &widget->inner_width) < 0 ||
                  client_number(arguments[5], 1, FRAME_SIZE_MAX, &widget->inner_height) < 0))
      return "Invalid frame size";
    const ClientWord *motion = frame ? arguments + 6 : arguments + 4;
    if (direction_of(motion[0], frame ? "hv" : "hvm", &widget->direction) < 0)
      return "Invalid direction";
    if (client_number(motion[1], -SPEED_LIMIT, SPEED_LIMIT, &widget->speed) < 0)
      return "Invalid speed";
    if (!frame)
      client_keep_text(&widget->text, motion[2]);
  }
  return nullptr;
}

// A scroller or title starts from its beginning only when what it shows,
// or how, has changed: clients send the same text again with every update.
bool moves_anew(const ClientWidget &before, const ClientWidget &after)
{
  return !before.set || before.x != after.x || before.y != after.y || before.right != after.right ||
         before.bottom != after.bottom || before.direction != after.direction ||
         before.speed != after.speed || before.inner_width != after.inner_width ||
         before.inner_height != after.inner_height || before.text.length != after.text.length ||
         !std::equal(before.text.bytes.begin(),
                     before.text.bytes.begin() + static_cast<std::ptrdiff_t>(before.text.length),
                     after.text.bytes.begin());
}

// The frame a new widget goes in: -1 for none; -2 after answering when the
// request names no frame of the screen.
int frame_named(const ClientRequest &request, int screen)
{
  if (request.count == 4)
    return -1;
  if (request.count != 6 || !client_option_is(request.words[4], "in")) {
    client_huh(request.client, "Usage: widget_add SCREEN WIDGET TYPE [-in FRAME]");
    return -2;
  }
  const int frame = client_find_widget(request.client, screen, request.words[5]);
  if (frame < 0 ||
      clients[static_cast<std::size_t>(request.client)].widgets[static_cast<std::size_t>(frame)].type !=
          WIDGET_FRAME) {
    client_huh_about(request.client, "Unknown frame id", request.words[5]);
    return -2;
  }
  return frame;
}

} // namespace

void client_widget_add(const ClientRequest &request)
{
  const int client = request.client;
  if (request.count != 4 && request.count != 6) {
    client_huh(client, "Usage: widget_add SCREEN WIDGET TYPE [-in FRAME]");
    return;
  }
  const int screen = client_screen_named(request);
  if (screen < 0)
    return;
  ClientWidget added;
  added.type = kind_named(request.words[3]);
  if (client_keep_id(&added.id, request.words[2]) < 0) {
    client_huh(client, "Widget id too long");
    return;
  }
  if (client_find_widget(client, screen, request.words[2]) >= 0) {
    client_huh_about(client, "Widget already exists", request.words[2]);
    return;
  }
  if (added.type < 0) {
    client_huh_about(client, "Invalid widget type", request.words[3]);
    return;
  }
  added.frame = frame_named(request, screen);
  if (added.frame == -2)
    return;
  Client &owner = clients[static_cast<std::size_t>(client)];
  const int slot = client_free_slot(owner.widgets);
  if (slot < 0) {
    client_huh(client, "Too many widgets");
    return;
  }
  added.used = true;
  added.screen = screen;
  added.added = client_next_generation();
  owner.widgets[static_cast<std::size_t>(slot)] = added;
  client_success(client);
}

void client_widget_set(const ClientRequest &request)
{
  const int client = request.client;
  if (request.count < 3) {
    client_huh(client, "Usage: widget_set SCREEN WIDGET ARGUMENTS...");
    return;
  }
  const int screen = client_screen_named(request);
  if (screen < 0)
    return;
  const int slot = client_find_widget(client, screen, request.words[2]);
  if (slot < 0) {
    client_huh_about(client, "Unknown widget id", request.words[2]);
    return;
  }
  ClientWidget &widget = clients[static_cast<std::size_t>(client)].widgets[static_cast<std::size_t>(slot)];
  if (request.count - 3 != kind_of(widget).arguments) {
    client_huh(client, kind_of(widget).usage);
    return;
  }
  ClientWidget changed = widget;
  const char *reason = read_arguments(&changed, request.words + 3);
  if (reason != nullptr) {
    client_huh(client, reason);
    return;
  }
  if (moves_anew(widget, changed))
    changed.moved_from_ms = request.now_ms;
  changed.set = true;
  widget = changed;
  client_success(client);
}

void client_widget_del(const ClientRequest &request)
{
  if (request.count != 3) {
    client_huh(request.client, "Usage: widget_del SCREEN WIDGET");
    return;
  }
  const int screen = client_screen_named(request);
  if (screen < 0)
    return;
  const int slot = client_find_widget(request.client, screen, request.words[2]);
  if (slot < 0) {
    client_huh_about(request.client, "Unknown widget id", request.words[2]);
    return;
  }
  client_remove_widget(request.client, slot);
  client_success(request.client);
}
