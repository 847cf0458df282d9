#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "client_menus.h"

namespace {

constexpr const char *CONNECT_LINE =
    "connect LCDproc 0.5.9 protocol 0.3 lcd wid 16 hgt 2 cellwid 5 cellhgt 8";
constexpr const char *INFO_LINE = "lcm-panel: 16x2 character module, no custom characters";
// What a reply quotes of a client's word, at most.
constexpr std::size_t QUOTED_MAX = 32;

bool is_one_of(const ClientWord &word, std::initializer_list<const char *> texts)
{
  return std::any_of(texts.begin(), texts.end(),
                     [&word](const char *text) { return client_word_is(word, text); });
}

void client_set(const ClientRequest &request)
{
  if (request.count != 3 || !client_option_is(request.words[1], "name")) {
    client_huh(request.client, "Usage: client_set -name NAME");
    return;
  }
  client_keep_text(&clients[static_cast<std::size_t>(request.client)].name, request.words[2]);
  client_success(request.client);
}

// The client's light, for its screens that leave theirs open. Open is the
// panel's own, on; toggle switches between on and off, from what it is.
void backlight(const ClientRequest &request)
{
  int light = 0;
  if (request.count != 2 || client_light_named(request.words[1], &light) < 0) {
    client_huh(request.client, "Usage: backlight on|off|toggle|blink|flash");
    return;
  }
  int &kept = clients[static_cast<std::size_t>(request.client)].backlight;
  if (light == LIGHT_OPEN)
    kept = SCREEN_LIGHT_ON;
  else if (light == LIGHT_TOGGLE)
    kept = client_light_toggled(kept);
  else
    kept = light;
  client_success(request.client);
}

// The module has no outputs to switch: taken as said, changing nothing.
void output(const ClientRequest &request)
{
  int value = 0;
  if (request.count != 2 || (!is_one_of(request.words[1], {"on", "off"}) &&
                             client_number(request.words[1], -2147483647, 2147483647, &value) < 0)) {
    client_huh(request.client, "Usage: output on|off|NUMBER");
    return;
  }
  client_success(request.client);
}

// The panel never waits for a client; the pause a client asks for is its own.
void sleep_command(const ClientRequest &request)
{
  int seconds = 0;
  if (request.count != 2 || client_number(request.words[1], 0, 3600, &seconds) < 0) {
    client_huh(request.client, "Usage: sleep SECONDS");
    return;
  }
  client_success(request.client);
}

PanelRow row_from_word(const ClientWord &word)
{
  PanelRow row{};
  panel_row_from_bytes(&row, word.text, word.length);
  return row;
}

// The answer waits until the panel has the rows on the glass.
void lcm_show(const ClientRequest &request)
{
  if (request.count != 3) {
    client_huh(request.client, "Usage: lcm_show LINE1 LINE2");
    return;
  }
  client_hand_over(request.client,
                   PanelRows{row_from_word(request.words[1]), row_from_word(request.words[2])});
}

void run(const ClientRequest &request)
{
  const ClientWord &name = request.words[0];
  const int client = request.client;
  if (client_word_is(name, "client_set"))
    client_set(request);
  else if (client_word_is(name, "screen_add"))
    client_screen_add(request);
  else if (client_word_is(name, "screen_del"))
    client_screen_del(request);
  else if (client_word_is(name, "screen_set"))
    client_screen_set(request);
  else if (client_word_is(name, "widget_add"))
    client_widget_add(request);
  else if (client_word_is(name, "widget_set"))
    client_widget_set(request);
  else if (client_word_is(name, "widget_del"))
    client_widget_del(request);
  else if (client_word_is(name, "client_add_key"))
    client_add_key(request);
  else if (client_word_is(name, "client_del_key"))
    client_del_key(request);
  else if (client_word_is(name, "backlight"))
    backlight(request);
  else if (client_word_is(name, "output"))
    output(request);
  else if (client_word_is(name, "info"))
    (void)client_queue_line(client, INFO_LINE);
  else if (client_word_is(name, "noop"))
    (void)client_queue_line(client, "noop complete");
  else if (client_word_is(name, "sleep"))
    sleep_command(request);
  else if (client_word_is(name, "lcm_show"))
    lcm_show(request);
  else if (client_word_is(name, "menu_add_item"))
    client_menu_add_item(request);
  else if (client_word_is(name, "menu_del_item"))
    client_menu_del_item(request);
  else if (client_word_is(name, "menu_set_item"))
    client_menu_set_item(request);
  else if (client_word_is(name, "menu_goto"))
    client_menu_goto(request);
  else if (client_word_is(name, "menu_set_main"))
    client_menu_set_main(request);
  else
    client_huh_about(client, "Invalid command", name);
}

} // namespace

void client_success(int client)
{
  (void)client_queue_line(client, "success");
}

void client_huh(int client, const char *reason)
{
  (void)client_queue(client, "huh? ", 5);
  (void)client_queue_line(client, reason);
}

// The word is quoted as the module would show it, and cut, so that a reply
// stays one short line whatever the client sent.
void client_huh_about(int client, const char *reason, const ClientWord &word)
{
  BoundedText<QUOTED_MAX> quoted;
  client_keep_text(&quoted, word);
  (void)client_queue(client, "huh? ", 5);
  (void)client_queue(client, reason, strlen(reason));
  (void)client_queue(client, " \"", 2);
  (void)client_queue(client, quoted.bytes.data(), quoted.length);
  (void)client_queue(client, "\"\n", 2);
}

bool client_word_is(const ClientWord &word, const char *text)
{
  return word.length == strlen(text) && std::memcmp(word.text, text, word.length) == 0;
}

bool client_option_is(const ClientWord &word, const char *name)
{
  if (word.length > 0 && word.text[0] == '-')
    return client_word_is(ClientWord{word.text + 1, word.length - 1}, name);
  return client_word_is(word, name);
}

int client_number(const ClientWord &word, int low, int high, int *value)
{
  constexpr std::size_t DIGITS_MAX = 10;
  std::size_t at = word.length > 0 && (word.text[0] == '-' || word.text[0] == '+') ? 1 : 0;
  if (at == word.length || word.length - at > DIGITS_MAX)
    return -1;
  long long number = 0;
  for (; at < word.length; at++) {
    if (word.text[at] < '0' || word.text[at] > '9')
      return -1;
    number = number * 10 + (word.text[at] - '0');
  }
  if (word.text[0] == '-')
    number = -number;
  if (number < low || number > high)
    return -1;
  *value = static_cast<int>(number);
  return 0;
}

int client_light_named(const ClientWord &word, int *light)
{
  constexpr std::array<std::pair<const char *, int>, 6> LIGHTS = {{
      {"on", SCREEN_LIGHT_ON},
      {"off", SCREEN_LIGHT_OFF},
      {"blink", SCREEN_LIGHT_BLINK},
      {"flash", SCREEN_LIGHT_FLASH},
      {"open", LIGHT_OPEN},
      {"toggle", LIGHT_TOGGLE},
  }};
  for (const auto &[name, value] : LIGHTS) {
    if (client_word_is(word, name)) {
      *light = value;
      return 0;
    }
  }
  return -1;
}

void clients_line_too_long(int client)
{
  if (client_in_use(client))
    client_huh(client, "Line too long");
}

// Empty lines are keep-alives. Only hello and bye may come before hello.
int clients_execute(int client, char *line, std::size_t length, long long now_ms)
{
  ClientWords words;
  const int count = clients_split(line, length, &words);
  if (count == 0)
    return CLIENTS_GO_ON;
  if (count < 0) {
    client_huh(client, errno == E2BIG ? "Too many arguments" : "Could not parse command");
    return CLIENTS_GO_ON;
  }
  Client &owner = clients[static_cast<std::size_t>(client)];
  if (client_word_is(words[0], "bye"))
    return CLIENTS_BYE;
  if (client_word_is(words[0], "hello")) {
    owner.greeted = true;
    (void)client_queue_line(client, CONNECT_LINE);
  } else if (!owner.greeted) {
    client_huh(client, "Say hello first");
  } else {
    run(ClientRequest{client, words.data(), count, now_ms});
  }
  return CLIENTS_GO_ON;
}
