// The settings the panel runs with: the configuration file's, with those
// the command line gave over them, and the same written out again as a
// configuration file for --check-config.
#include <cstdio>

#include "panel_internal.h"

namespace {

// What the command line gave replaces the file's: its pages all the
// file's pages, its actions all the file's actions.
void merge(const PanelOptions &file, const PanelOptions &line, PanelOptions *merged)
{
  *merged = file;
  merged->config = line.config;
  merged->check_config = line.check_config;
  merged->help = line.help;
  merged->version = line.version;
  merged->given = line.given;
  const auto given = [&](unsigned bit) { return (line.given & bit) != 0; };
  if (given(PANEL_GIVEN_EVERY))
    merged->every_ms = line.every_ms;
  if (given(PANEL_GIVEN_TIMEOUT))
    merged->timeout_ms = line.timeout_ms;
  if (given(PANEL_GIVEN_REFRESH))
    merged->refresh_ms = line.refresh_ms;
  if (given(PANEL_GIVEN_ACTION_TIMEOUT))
    merged->action_timeout_ms = line.action_timeout_ms;
  if (given(PANEL_GIVEN_ROTATE))
    merged->rotate_ms = line.rotate_ms;
  if (given(PANEL_GIVEN_HOLD))
    merged->hold_ms = line.hold_ms;
  if (given(PANEL_GIVEN_DISPLAY_OFF))
    merged->display_off_ms = line.display_off_ms;
  if (given(PANEL_GIVEN_EXIT_TEXT)) {
    merged->has_exit_text = line.has_exit_text;
    merged->exit_text = line.exit_text;
  }
  if (given(PANEL_GIVEN_PAGES)) {
    merged->page_count = line.page_count;
    merged->pages = line.pages;
    merged->page_every_ms = line.page_every_ms;
    merged->page_timeout_ms = line.page_timeout_ms;
  }
  if (given(PANEL_GIVEN_ACTIONS)) {
    merged->action_count = line.action_count;
    merged->action_labels = line.action_labels;
    merged->action_commands = line.action_commands;
    merged->action_own_timeout_ms = line.action_own_timeout_ms;
  }
  if (given(PANEL_GIVEN_LISTEN)) {
    merged->listen_count = line.listen_count;
    merged->listen = line.listen;
  }
}

// Milliseconds as the file writes seconds: "5", "0.25".
void print_seconds(std::FILE *stream, const char *name, int ms)
{
  int decimals = ms % 1000;
  if (decimals == 0) {
    fprintf(stream, "%s = %d\n", name, ms / 1000);
    return;
  }
  int digits = 3;
  for (; decimals % 10 == 0; decimals /= 10)
    digits--;
  fprintf(stream, "%s = %d.%0*d\n", name, ms / 1000, digits, decimals);
}

void print_panel(const PanelOptions &options, std::FILE *stream)
{
  fprintf(stream, "[panel]\n");
  print_seconds(stream, "every", options.every_ms);
  print_seconds(stream, "timeout", options.timeout_ms);
  print_seconds(stream, "action-timeout", options.action_timeout_ms);
  print_seconds(stream, "rotate", options.rotate_ms);
  print_seconds(stream, "hold", options.hold_ms);
  print_seconds(stream, "refresh", options.refresh_ms);
  print_seconds(stream, "display-off-after", options.display_off_ms);
  for (int i = 0; i < options.listen_count; i++)
    fprintf(stream, "listen = %s\n", options.listen[static_cast<std::size_t>(i)]);
  if (options.has_exit_text) {
    for (const char *line : options.exit_text)
      fprintf(stream, "exit-text = \"%s\"\n", line);
  }
}

} // namespace

int panel_page_every_ms(const PanelOptions &options, int page)
{
  const int own = options.page_every_ms[static_cast<std::size_t>(page)];
  return own > 0 ? own : options.every_ms;
}

int panel_page_timeout_ms(const PanelOptions &options, int page)
{
  const int own = options.page_timeout_ms[static_cast<std::size_t>(page)];
  return own > 0 ? own : options.timeout_ms;
}

int panel_action_timeout_ms(const PanelOptions &options, int action)
{
  const int own = options.action_own_timeout_ms[static_cast<std::size_t>(action)];
  return own > 0 ? own : options.action_timeout_ms;
}

int panel_config_load(const PanelOptions &command_line, PanelOptions *options, char *error,
                      std::size_t error_size)
{
  PanelOptions file;
  if (panel_config_read(command_line.config, &file, error, error_size) < 0)
    return -1;
  merge(file, command_line, options);
  return 0;
}

// Every time is written out, the defaults too, and each page's and
// action's as it applies.
int panel_config_print(const PanelOptions &options, std::FILE *stream)
{
  fprintf(stream, "# lcm-panel would run with %d page%s and %d action%s.\n", options.page_count,
          options.page_count == 1 ? "" : "s", options.action_count, options.action_count == 1 ? "" : "s");
  print_panel(options, stream);
  for (int i = 0; i < options.page_count; i++) {
    fprintf(stream, "\n[page]\ncommand = %s\n", options.pages[static_cast<std::size_t>(i)]);
    print_seconds(stream, "every", panel_page_every_ms(options, i));
    print_seconds(stream, "timeout", panel_page_timeout_ms(options, i));
  }
  for (int i = 0; i < options.action_count; i++) {
    const auto action = static_cast<std::size_t>(i);
    fprintf(stream, "\n[action]\nlabel = %s\ncommand = %s\n", options.action_labels[action],
            options.action_commands[action]);
    print_seconds(stream, "timeout", panel_action_timeout_ms(options, i));
  }
  return ferror(stream) ? -1 : 0;
}
