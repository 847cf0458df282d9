#include <cstdio>
#include <cstring>

#include "server.h"
#include "panel_internal.h"

namespace {

constexpr long SHORTEST_MS = 100;
constexpr long LONGEST_MS = 86400L * 1000;

// Seconds as digits with up to three decimals ("5", "0.25", ".5"), in
// milliseconds; -1 for anything else or anything out of range.
long milliseconds_of(const char *text)
{
  long whole = 0;
  int digits = 0;
  const char *at = text;
  for (; *at >= '0' && *at <= '9'; at++, digits++) {
    whole = whole * 10 + (*at - '0');
    if (whole > LONGEST_MS)
      return -1;
  }
  long ms = whole * 1000;
  if (*at == '.') {
    at++;
    long scale = 100;
    for (; *at >= '0' && *at <= '9'; at++, digits++) {
      if (scale == 0)
        return -1;
      ms += (*at - '0') * scale;
      scale /= 10;
    }
  }
  if (digits == 0 || *at != '\0' || ms < SHORTEST_MS || ms > LONGEST_MS)
    return -1;
  return ms;
}

// "0", "0.0", ".0" and the like.
bool is_zero(const char *text)
{
  int zeros = 0;
  bool point = false;
  for (const char *at = text; *at != '\0'; at++) {
    if (*at == '0')
      zeros++;
    else if (*at == '.' && !point)
      point = true;
    else
      return false;
  }
  return zeros > 0;
}

bool is_named(const char *argument, const char *name, const char **inline_value)
{
  const std::size_t length = strlen(name);
  if (strncmp(argument, name, length) != 0)
    return false;
  if (argument[length] == '\0') {
    *inline_value = nullptr;
    return true;
  }
  if (argument[length] == '=') {
    *inline_value = argument + length + 1;
    return true;
  }
  return false;
}

struct Parser {
  int argc;
  char **argv;
  int index;
  PanelOptions *options;
  char *error;
  std::size_t error_size;
};

int refuse(Parser *parser, const char *what, const char *argument)
{
  snprintf(parser->error, parser->error_size, "%s%s", what, argument ? argument : "");
  return -1;
}

// The value of an option that takes one, inline ("--every=5") or next;
// nullptr (said) when there is none.
const char *value_of(Parser *parser, const char *name, const char *inline_value, const char *wanted)
{
  if (inline_value)
    return inline_value;
  if (parser->index >= parser->argc) {
    snprintf(parser->error, parser->error_size, "%s wants %s", name, wanted);
    return nullptr;
  }
  return parser->argv[parser->index++];
}

// With zero_turns_off, a 0 ("0", "0.0") stands for no time at all.
int take_seconds(Parser *parser, const char *name, const char *inline_value, int *ms_out, unsigned given,
                 bool zero_turns_off = false)
{
  const char *value = value_of(parser, name, inline_value, "a number of seconds");
  if (!value)
    return -1;
  parser->options->given |= given;
  return panel_parse_seconds(name, value, zero_turns_off, ms_out, parser->error, parser->error_size);
}

int take_exit_text(Parser *parser, const char *inline_value)
{
  if (inline_value)
    return refuse(parser, "--exit-text takes its two lines as two arguments", nullptr);
  if (parser->index + 2 > parser->argc)
    return refuse(parser, "--exit-text wants two lines", nullptr);
  parser->options->has_exit_text = true;
  parser->options->given |= PANEL_GIVEN_EXIT_TEXT;
  parser->options->exit_text[0] = parser->argv[parser->index++];
  parser->options->exit_text[1] = parser->argv[parser->index++];
  return 0;
}

int take_action(Parser *parser, const char *inline_value)
{
  PanelOptions *options = parser->options;
  if (inline_value)
    return refuse(parser, "--action takes its label and command as two arguments", nullptr);
  if (parser->index + 2 > parser->argc)
    return refuse(parser, "--action wants a label and a command", nullptr);
  const char *label = parser->argv[parser->index++];
  const char *command = parser->argv[parser->index++];
  if (panel_check_label("--action", label, parser->error, parser->error_size) < 0)
    return -1;
  if (options->action_count >= PANEL_MAX_ACTIONS) {
    snprintf(parser->error, parser->error_size, "at most %d actions", PANEL_MAX_ACTIONS);
    return -1;
  }
  options->given |= PANEL_GIVEN_ACTIONS;
  const auto index = static_cast<std::size_t>(options->action_count++);
  options->action_labels[index] = label;
  options->action_commands[index] = command;
  return 0;
}

int take_listen(Parser *parser, const char *inline_value)
{
  PanelOptions *options = parser->options;
  const char *value = value_of(parser, "--listen", inline_value, "ADDR:PORT");
  if (!value)
    return -1;
  if (panel_check_listen("--listen", value, parser->error, parser->error_size) < 0)
    return -1;
  if (options->listen_count >= PANEL_MAX_LISTEN) {
    snprintf(parser->error, parser->error_size, "at most %d --listen addresses", PANEL_MAX_LISTEN);
    return -1;
  }
  options->given |= PANEL_GIVEN_LISTEN;
  options->listen[static_cast<std::size_t>(options->listen_count++)] = value;
  return 0;
}

int take_config(Parser *parser, const char *name, const char *inline_value, bool check)
{
  const char *value = value_of(parser, name, inline_value, "a FILE");
  if (!value)
    return -1;
  if (parser->options->config)
    return refuse(parser, "give one configuration file, with --config or --check-config", nullptr);
  parser->options->config = value;
  parser->options->check_config = check;
  return 0;
}

int take_option(Parser *parser, const char *argument)
{
  PanelOptions *options = parser->options;
  const char *value = nullptr;
  if (is_named(argument, "--every", &value))
    return take_seconds(parser, "--every", value, &options->every_ms, PANEL_GIVEN_EVERY);
  if (is_named(argument, "--timeout", &value))
    return take_seconds(parser, "--timeout", value, &options->timeout_ms, PANEL_GIVEN_TIMEOUT);
  if (is_named(argument, "--refresh", &value))
    return take_seconds(parser, "--refresh", value, &options->refresh_ms, PANEL_GIVEN_REFRESH, true);
  if (is_named(argument, "--action-timeout", &value))
    return take_seconds(parser, "--action-timeout", value, &options->action_timeout_ms,
                        PANEL_GIVEN_ACTION_TIMEOUT);
  if (is_named(argument, "--action", &value))
    return take_action(parser, value);
  if (is_named(argument, "--exit-text", &value))
    return take_exit_text(parser, value);
  if (is_named(argument, "--rotate", &value))
    return take_seconds(parser, "--rotate", value, &options->rotate_ms, PANEL_GIVEN_ROTATE, true);
  if (is_named(argument, "--hold", &value))
    return take_seconds(parser, "--hold", value, &options->hold_ms, PANEL_GIVEN_HOLD, true);
  if (is_named(argument, "--display-off-after", &value))
    return take_seconds(parser, "--display-off-after", value, &options->display_off_ms,
                        PANEL_GIVEN_DISPLAY_OFF, true);
  if (is_named(argument, "--listen", &value))
    return take_listen(parser, value);
  if (is_named(argument, "--config", &value))
    return take_config(parser, "--config", value, false);
  if (is_named(argument, "--check-config", &value))
    return take_config(parser, "--check-config", value, true);
  if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0) {
    parser->options->help = true;
    return 0;
  }
  if (strcmp(argument, "--version") == 0) {
    parser->options->version = true;
    return 0;
  }
  return refuse(parser, "unknown option ", argument);
}

int take_page(Parser *parser, const char *page)
{
  PanelOptions *options = parser->options;
  if (options->page_count >= PANEL_MAX_PAGES) {
    snprintf(parser->error, parser->error_size, "at most %d pages", PANEL_MAX_PAGES);
    return -1;
  }
  options->given |= PANEL_GIVEN_PAGES;
  options->pages[static_cast<std::size_t>(options->page_count++)] = page;
  return 0;
}

} // namespace

int panel_parse_seconds(const char *name, const char *text, bool zero_turns_off, int *ms, char *error,
                        std::size_t error_size)
{
  const long parsed = zero_turns_off && is_zero(text) ? 0 : milliseconds_of(text);
  if (parsed < 0) {
    snprintf(error, error_size, "%s wants %sseconds from 0.1 to 86400, at most 3 decimals: %s", name,
             zero_turns_off ? "0 or " : "", text);
    return -1;
  }
  *ms = static_cast<int>(parsed);
  return 0;
}

int panel_check_label(const char *name, const char *label, char *error, std::size_t error_size)
{
  const std::size_t length = strlen(label);
  if (length > 0 && length <= PANEL_MAX_LABEL)
    return 0;
  snprintf(error, error_size, "%s wants a label of 1 to %d bytes: '%s'", name, PANEL_MAX_LABEL, label);
  return -1;
}

// Checked here, so that a mistyped address is a usage error, not a failure
// after the port was opened.
int panel_check_listen(const char *name, const char *address, char *error, std::size_t error_size)
{
  ServerAddress parsed;
  if (server_parse_address(address, &parsed) == 0)
    return 0;
  snprintf(error, error_size, "%s wants a numeric ADDR:PORT or [ADDR]:PORT, e.g. 127.0.0.1:13666: %s", name,
           address);
  return -1;
}

// Options may stand before, between or after the pages; after "--" every
// argument is a page, so a page may begin with a dash. With a configuration
// file the pages may all come from it.
int panel_parse_options(int argc, char **argv, PanelOptions *options, char *error, std::size_t error_size)
{
  if (error_size > 0)
    error[0] = '\0';
  PanelOptions parsed;
  Parser parser{argc, argv, 1, &parsed, error, error_size};
  bool options_end = false;
  while (parser.index < argc) {
    const char *argument = argv[parser.index++];
    const bool is_option = !options_end && argument[0] == '-' && argument[1] != '\0';
    if (is_option && strcmp(argument, "--") == 0) {
      options_end = true;
      continue;
    }
    if ((is_option ? take_option(&parser, argument) : take_page(&parser, argument)) < 0)
      return -1;
  }
  if (parsed.page_count == 0 && !parsed.config && !parsed.help && !parsed.version)
    return refuse(&parser, "no page given", nullptr);
  *options = parsed;
  return 0;
}
