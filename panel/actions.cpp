// The actions' commands: one at a time, run as page commands are, their
// outcome handed to the menu and told on standard error.
#include <cerrno>
#include <cstdio>

#include "panel_internal.h"

namespace {

constexpr std::size_t OUTCOME_SIZE = LCM_COLUMNS + 1;

const PanelOptions *settings;
PageRun run;
int action = -1;
// The menu's copy of the running action's label, which a reload leaves alone.
const char *label = "";

// The row as text, without the spaces that pad it.
void trimmed(const PanelRow &row, char *text)
{
  std::size_t length = row.size();
  while (length > 0 && row[length - 1] == ' ')
    length--;
  for (std::size_t i = 0; i < length; i++)
    text[i] = static_cast<char>(row[i]);
  text[length] = '\0';
}

// One line for the journal: the action, its outcome and what it said.
void tell(const char *outcome, const char *detail)
{
  fprintf(stderr, "lcm-panel: action \"%s\": %s%s%s\n", label, outcome, detail[0] != '\0' ? ": " : "",
          detail);
}

void finish(Menu *menu, const char *outcome, const PanelRow &output, long long now_ms)
{
  menu_ended(menu, outcome, output, now_ms);
  action = -1;
}

} // namespace

void actions_begin(const PanelOptions &options)
{
  settings = &options;
  action = -1;
}

// A command that cannot be started ends at once, its reason on row 1.
void actions_start(Menu *menu, long long now_ms)
{
  action = menu->running;
  label = menu->running_label.data();
  const char *command = settings->action_commands[static_cast<std::size_t>(action)];
  if (page_run_start(&run, command, now_ms, panel_action_timeout_ms(*settings, action)) == 0)
    return;
  char buffer[128];
  const char *reason = panel_reason(errno, buffer, sizeof buffer);
  tell("not run", reason);
  PanelRow output{};
  panel_row_from_text(&output, reason);
  finish(menu, "not run", output, now_ms);
}

void actions_tend(Menu *menu, long long now_ms)
{
  if (action < 0)
    return;
  const int state = page_run_poll(&run, now_ms);
  if (state == PAGE_RUN_BUSY)
    return;
  char outcome[OUTCOME_SIZE];
  menu_outcome(outcome, sizeof outcome, state, run.status);
  char said[LCM_COLUMNS + 1];
  trimmed(run.output.rows[0], said);
  tell(outcome, said);
  finish(menu, outcome, run.output.rows[0], now_ms);
}

void actions_end()
{
  if (action < 0)
    return;
  page_run_cancel(&run);
  tell("killed", "the panel stops");
  action = -1;
}
