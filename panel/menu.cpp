// The action menu as a state machine: a press or the time that passed turns
// one state into the next, and each state has its screen. Nothing here
// touches the module or runs a command; the loop does, on MENU_RUN.
#include <cstdio>
#include <cstring>
#include <sys/wait.h>

#include "panel.h"

namespace {

// How long each screen stays without a press.
constexpr long long LIST_MS = 30000;
constexpr long long QUESTION_MS = 10000;
constexpr long long RESULT_MS = 10000;
constexpr long long BUSY_MS = 2000;

constexpr const char *QUESTION_ROW = "<No         Yes>";
constexpr const char *RUNNING_ROW = "running...";

constexpr std::size_t ROW_TEXT_SIZE = LCM_COLUMNS + 1;

const char *label_of(const Menu &menu, int action)
{
  return menu.labels[action];
}

void go(Menu *menu, int state, long long now_ms)
{
  menu->state = state;
  menu->since_ms = now_ms;
}

// The label cut to leave room for the status, which ends at the last column.
void status_row(PanelRow *row, const char *label, const char *status)
{
  const int width = LCM_COLUMNS - 1 - static_cast<int>(strnlen(status, LCM_COLUMNS));
  char text[ROW_TEXT_SIZE];
  snprintf(text, sizeof text, "%-*.*s %s", width, width, label, status);
  panel_row_from_text(row, text);
}

void prefixed_row(PanelRow *row, const char *prefix, const char *label, const char *suffix)
{
  char text[ROW_TEXT_SIZE];
  snprintf(text, sizeof text, "%s%s%s", prefix, label, suffix);
  panel_row_from_text(row, text);
}

// Right chooses: the question, or the running screen for the action that
// runs, or busy while another runs.
int choose(Menu *menu, long long now_ms)
{
  if (menu->running < 0)
    go(menu, MENU_QUESTION, now_ms);
  else
    go(menu, menu->running == menu->chosen ? MENU_RUNNING : MENU_BUSY, now_ms);
  return MENU_TAKEN;
}

int press_in_list(Menu *menu, int key, long long now_ms)
{
  switch (key) {
  case KEY_UP:
    menu->chosen = (menu->chosen + menu->count - 1) % menu->count;
    break;
  case KEY_DOWN:
    menu->chosen = (menu->chosen + 1) % menu->count;
    break;
  case KEY_RIGHT:
    return choose(menu, now_ms);
  default:
    go(menu, MENU_CLOSED, now_ms);
    return MENU_TAKEN;
  }
  go(menu, MENU_LIST, now_ms);
  return MENU_TAKEN;
}

// Only Right confirms; every other button says no.
int press_on_question(Menu *menu, int key, long long now_ms)
{
  if (key != KEY_RIGHT) {
    go(menu, MENU_LIST, now_ms);
    return MENU_TAKEN;
  }
  menu->running = menu->chosen;
  snprintf(menu->running_label.data(), menu->running_label.size(), "%s", label_of(*menu, menu->chosen));
  go(menu, MENU_RUNNING, now_ms);
  return MENU_RUN;
}

// The command keeps running whatever is pressed here.
int press_while_running(Menu *menu, int key, long long now_ms)
{
  if (key == KEY_LEFT)
    go(menu, MENU_CLOSED, now_ms);
  else if (key == KEY_UP || key == KEY_DOWN)
    go(menu, MENU_LIST, now_ms);
  return MENU_TAKEN;
}

} // namespace

void menu_begin(Menu *menu, int count, const char *const *labels)
{
  *menu = Menu{};
  menu->count = count;
  menu->labels = labels;
}

// A closed menu takes only Right, which opens it on its first action.
int menu_press(Menu *menu, int key, long long now_ms)
{
  if (key == 0 || menu->count == 0)
    return MENU_PASS;
  switch (menu->state) {
  case MENU_CLOSED:
    if (key != KEY_RIGHT)
      return MENU_PASS;
    menu->chosen = 0;
    go(menu, MENU_LIST, now_ms);
    return MENU_TAKEN;
  case MENU_LIST:
    return press_in_list(menu, key, now_ms);
  case MENU_QUESTION:
    return press_on_question(menu, key, now_ms);
  case MENU_RUNNING:
    return press_while_running(menu, key, now_ms);
  case MENU_BUSY:
    go(menu, MENU_LIST, now_ms);
    return MENU_TAKEN;
  default:
    go(menu, MENU_CLOSED, now_ms);
    return MENU_TAKEN;
  }
}

void menu_tick(Menu *menu, long long now_ms)
{
  const long long waited = now_ms - menu->since_ms;
  if ((menu->state == MENU_LIST && waited >= LIST_MS) || (menu->state == MENU_RESULT && waited >= RESULT_MS))
    go(menu, MENU_CLOSED, now_ms);
  else if ((menu->state == MENU_QUESTION && waited >= QUESTION_MS) ||
           (menu->state == MENU_BUSY && waited >= BUSY_MS))
    go(menu, MENU_LIST, now_ms);
}

// The result comes to the front whatever the menu showed, the ring included.
void menu_ended(Menu *menu, const char *outcome, const PanelRow &output, long long now_ms)
{
  if (menu->running < 0)
    return;
  status_row(&menu->result.front(), menu->running_label.data(), outcome);
  menu->result.back() = output;
  menu->running = -1;
  go(menu, MENU_RESULT, now_ms);
}

bool menu_rows(const Menu &menu, PanelRows *rows)
{
  const int next = menu.chosen + 1;
  switch (menu.state) {
  case MENU_LIST:
    prefixed_row(&rows->front(), ">", label_of(menu, menu.chosen), "");
    prefixed_row(&rows->back(), " ", next < menu.count ? label_of(menu, next) : "", "");
    return true;
  case MENU_QUESTION:
    prefixed_row(&rows->front(), "", label_of(menu, menu.chosen), "?");
    panel_row_from_text(&rows->back(), QUESTION_ROW);
    return true;
  case MENU_RUNNING:
    panel_row_from_text(&rows->front(), menu.running_label.data());
    panel_row_from_text(&rows->back(), RUNNING_ROW);
    return true;
  case MENU_RESULT:
    *rows = menu.result;
    return true;
  case MENU_BUSY:
    status_row(&rows->front(), label_of(menu, menu.chosen), "busy");
    status_row(&rows->back(), menu.running_label.data(), "running");
    return true;
  default:
    return false;
  }
}

// A running action keeps its place in the list when its label is still
// there; otherwise it runs on outside the list, and choosing any action
// shows busy until it ends. A result in view stays.
void menu_reload(Menu *menu, int count, const char *const *labels, long long now_ms)
{
  menu->count = count;
  menu->labels = labels;
  menu->chosen = 0;
  if (menu->running >= 0) {
    menu->running = PANEL_MAX_ACTIONS;
    for (int action = 0; action < count; action++) {
      if (strcmp(labels[action], menu->running_label.data()) == 0)
        menu->running = action;
    }
  }
  if (menu->state != MENU_RESULT && menu->state != MENU_CLOSED)
    go(menu, MENU_CLOSED, now_ms);
}

// A signal by its name without SIG, which fits the row better than a number.
void menu_outcome(char *text, std::size_t size, int run_state, int wait_status)
{
  if (run_state == PAGE_RUN_TIMED_OUT) {
    snprintf(text, size, "timed out");
  } else if (wait_status < 0) {
    snprintf(text, size, "ended");
  } else if (WIFEXITED(wait_status)) {
    const int code = WEXITSTATUS(wait_status);
    if (code == 0)
      snprintf(text, size, "ok");
    else
      snprintf(text, size, "failed %d", code);
  } else {
    const int signal_number = WTERMSIG(wait_status);
    const char *name = sigabbrev_np(signal_number);
    if (name)
      snprintf(text, size, "killed %s", name);
    else
      snprintf(text, size, "killed %d", signal_number);
  }
}
