#include <array>
#include <initializer_list>

#include "client_records.h"

namespace {

constexpr int SIZE_MAX_CELLS = 255;
constexpr int EIGHTHS_MAX = 8 * 86400;

// Numbers from clients of the first protocol version: the lower, the more
// important.
constexpr int NUMBER_FOREGROUND_MAX = 64;
constexpr int NUMBER_INFO_MAX = 192;

struct PriorityName {
  const char *name;
  int priority;
};

constexpr std::array<PriorityName, 6> PRIORITY_NAMES = {{
    {"hidden", SCREEN_HIDDEN},
    {"background", SCREEN_BACKGROUND},
    {"info", SCREEN_INFO},
    {"foreground", SCREEN_FOREGROUND},
    {"alert", SCREEN_ALERT},
    {"input", SCREEN_INPUT},
}};

int priority_of(const ClientWord &word, int *priority)
{
  for (const PriorityName &known : PRIORITY_NAMES) {
    if (client_word_is(word, known.name)) {
      *priority = known.priority;
      return 0;
    }
  }
  int number = 0;
  if (client_number(word, 1, 2147483647, &number) < 0)
    return -1;
  if (number <= NUMBER_FOREGROUND_MAX)
    *priority = SCREEN_FOREGROUND;
  else if (number <= NUMBER_INFO_MAX)
    *priority = SCREEN_INFO;
  else
    *priority = SCREEN_BACKGROUND;
  return 0;
}

// A choice is kept as its place in the list.
int choice_of(const ClientWord &word, std::initializer_list<const char *> choices, int *kept)
{
  int place = 0;
  for (const char *choice : choices) {
    if (client_word_is(word, choice)) {
      *kept = place;
      return 0;
    }
    place++;
  }
  return -1;
}

// 0 when the option was taken; -1 when its value was not; -2 when no such option.
int set_option(ClientScreen *screen, const ClientWord &option, const ClientWord &value)
{
  if (client_option_is(option, "name")) {
    client_keep_text(&screen->name, value);
    return 0;
  }
  if (client_option_is(option, "wid"))
    return client_number(value, 1, SIZE_MAX_CELLS, &screen->width);
  if (client_option_is(option, "hgt"))
    return client_number(value, 1, SIZE_MAX_CELLS, &screen->height);
  if (client_option_is(option, "priority")) {
    int priority = 0;
    if (priority_of(value, &priority) < 0)
      return -1;
    client_set_priority(screen, priority);
    return 0;
  }
  if (client_option_is(option, "duration"))
    return client_number(value, 0, EIGHTHS_MAX, &screen->duration);
  if (client_option_is(option, "timeout")) {
    if (client_number(value, -1, EIGHTHS_MAX, &screen->timeout) < 0)
      return -1;
    // Setting the timeout again starts its count again.
    screen->viewed_ms = 0;
    return 0;
  }
  if (client_option_is(option, "heartbeat"))
    return choice_of(value, {"on", "off", "open"}, &screen->heartbeat);
  if (client_option_is(option, "backlight"))
    return client_light_named(value, &screen->backlight);
  if (client_option_is(option, "cursor")) {
    int shape = 0;
    if (choice_of(value, {"on", "off", "under", "block"}, &shape) < 0)
      return -1;
    // The module has one kind of cursor: under and block show it as on does.
    screen->cursor = shape != 1;
    return 0;
  }
  if (client_option_is(option, "cursor_x"))
    return client_number(value, 1, SIZE_MAX_CELLS, &screen->cursor_x);
  if (client_option_is(option, "cursor_y"))
    return client_number(value, 1, SIZE_MAX_CELLS, &screen->cursor_y);
  return -2;
}

} // namespace

int client_screen_named(const ClientRequest &request)
{
  const int screen = client_find_screen(request.client, request.words[1]);
  if (screen < 0)
    client_huh_about(request.client, "Unknown screen id", request.words[1]);
  return screen;
}

void client_screen_add(const ClientRequest &request)
{
  const int client = request.client;
  if (request.count != 2) {
    client_huh(client, "Usage: screen_add SCREEN");
    return;
  }
  Client &owner = clients[static_cast<std::size_t>(client)];
  const int slot = client_free_slot(owner.screens);
  ClientScreen added;
  if (client_keep_id(&added.id, request.words[1]) < 0) {
    client_huh(client, "Screen id too long");
  } else if (client_find_screen(client, request.words[1]) >= 0) {
    client_huh_about(client, "Screen already exists", request.words[1]);
  } else if (slot < 0) {
    client_huh(client, "Too many screens");
  } else {
    added.used = true;
    added.generation = client_next_generation();
    owner.screens[static_cast<std::size_t>(slot)] = added;
    client_success(client);
  }
}

void client_screen_del(const ClientRequest &request)
{
  if (request.count != 2) {
    client_huh(request.client, "Usage: screen_del SCREEN");
    return;
  }
  const int screen = client_screen_named(request);
  if (screen < 0)
    return;
  client_remove_screen(request.client, screen);
  client_success(request.client);
}

// Every option is answered on its own line, as clients expect. An option
// the panel does not know ends the line, since its value cannot be told
// from the next option.
void client_screen_set(const ClientRequest &request)
{
  const int client = request.client;
  if (request.count < 2) {
    client_huh(client, "Usage: screen_set SCREEN [-OPTION VALUE]...");
    return;
  }
  const int slot = client_screen_named(request);
  if (slot < 0)
    return;
  ClientScreen &screen = clients[static_cast<std::size_t>(client)].screens[static_cast<std::size_t>(slot)];
  if (request.count == 2)
    client_success(client);
  for (int at = 2; at < request.count; at += 2) {
    const ClientWord &option = request.words[at];
    if (at + 1 == request.count) {
      client_huh_about(client, "Missing value for option", option);
      return;
    }
    const int result = set_option(&screen, option, request.words[at + 1]);
    if (result == -2) {
      client_huh_about(client, "Unknown option", option);
      return;
    }
    if (result < 0)
      client_huh_about(client, "Invalid value", request.words[at + 1]);
    else
      client_success(client);
  }
}
