// The main menu as a state machine: a press or the time that passed turns
// one state into the next, and each state has its screen. Its entries are
// the panel's actions, then one for each display client with a menu, which
// clients/ walks. Nothing here touches the module or runs a command; the
// view does, on MENU_RUN.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>

#include "clients.h"
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
constexpr int ARMED_BY_PRESS = 1;
constexpr int ARMED_WAITING = 2;

// The entries as they are now: the actions, then the clients with menus.
struct Entries {
  int count = 0;
  std::array<int, CLIENTS_MAX> clients{};
};

Entries entries_of(const Menu &menu)
{
  Entries entries;
  entries.count = menu.count + clients_menu_clients(entries.clients.data(), CLIENTS_MAX);
  return entries;
}

// The client whose menu an entry opens, or -1 for an action.
int client_of(const Menu &menu, const Entries &entries, int entry)
{
  if (entry < menu.count || entry >= entries.count)
    return -1;
  return entries.clients[static_cast<std::size_t>(entry - menu.count)];
}

// The choice stays on its client's entry while that client has a menu.
void settle_choice(Menu *menu, const Entries &entries)
{
  for (int entry = menu->count; entry < entries.count && menu->chosen_connection != 0; entry++) {
    if (clients_connection(client_of(*menu, entries, entry)) == menu->chosen_connection)
      menu->chosen = entry;
  }
  menu->chosen = std::clamp(menu->chosen, 0, std::max(0, entries.count - 1));
  const int client = client_of(*menu, entries, menu->chosen);
  menu->chosen_connection = client >= 0 ? clients_connection(client) : 0;
}

const char *label_of(const Menu &menu, int action)
{
  return menu.labels[action];
}

// A client's entry shows its name, or its number when it gave none, and
// the '>' of a submenu at the row's end.
void entry_row(PanelRow *row, char marker, const Menu &menu, const Entries &entries, int entry)
{
  char text[ROW_TEXT_SIZE];
  const int client = client_of(menu, entries, entry);
  if (client < 0) {
    snprintf(text, sizeof text, "%c%s", marker, label_of(menu, entry));
  } else {
    char number[CLIENTS_NAME_MAX];
    snprintf(number, sizeof number, "Client %d", client + 1);
    const char *name = clients_name(client)[0] != '\0' ? clients_name(client) : number;
    snprintf(text, sizeof text, "%c%-13.13s >", marker, name);
  }
  panel_row_from_text(row, text);
}

void go(Menu *menu, int state, long long now_ms)
{
  menu->state = state;
  menu->since_ms = now_ms;
  menu->armed = 0;
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

// A client's menu that cannot be walked (it went meanwhile) leaves the list as it was.
int open_client(Menu *menu, int client, bool first, long long now_ms)
{
  clients_menu_open(client, first);
  if (!clients_menu_walking())
    return MENU_TAKEN;
  menu->client_first = first;
  go(menu, MENU_CLIENT, now_ms);
  return MENU_TAKEN;
}

// Right chooses: a client's menu, or for an action the question, or the
// running screen for the action that runs, or busy while another runs.
int choose(Menu *menu, const Entries &entries, long long now_ms)
{
  const int client = client_of(*menu, entries, menu->chosen);
  if (client >= 0)
    return open_client(menu, client, false, now_ms);
  if (menu->running < 0)
    go(menu, MENU_QUESTION, now_ms);
  else
    go(menu, menu->running == menu->chosen ? MENU_RUNNING : MENU_BUSY, now_ms);
  return MENU_TAKEN;
}

int press_in_list(Menu *menu, int key, long long now_ms)
{
  const Entries entries = entries_of(*menu);
  settle_choice(menu, entries);
  if (entries.count == 0)
    key = KEY_LEFT;
  switch (key) {
  case KEY_UP:
    menu->chosen = (menu->chosen + entries.count - 1) % entries.count;
    break;
  case KEY_DOWN:
    menu->chosen = (menu->chosen + 1) % entries.count;
    break;
  case KEY_RIGHT:
    return choose(menu, entries, now_ms);
  default:
    go(menu, MENU_CLOSED, now_ms);
    return MENU_TAKEN;
  }
  menu->chosen_connection = 0;
  settle_choice(menu, entries);
  go(menu, MENU_LIST, now_ms);
  return MENU_TAKEN;
}

// Right is not yet a yes: the next answered query must still hold it
// alone (menu_held), so that one garbled reply never runs an action. Every
// other button says no.
int press_on_question(Menu *menu, int key, long long now_ms)
{
  if (key != KEY_RIGHT) {
    go(menu, MENU_LIST, now_ms);
    return MENU_TAKEN;
  }
  go(menu, MENU_QUESTION, now_ms);
  menu->armed = ARMED_BY_PRESS;
  return MENU_TAKEN;
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

// Back from the top of a client's menu is its entry in the list, unless the
// client's menu is the way in.
int press_in_client(Menu *menu, int key, long long now_ms)
{
  const int walked = clients_menu_press(key);
  if (walked == CLIENTS_MENU_STAYS)
    go(menu, MENU_CLIENT, now_ms);
  else if (walked == CLIENTS_MENU_UP && !menu->client_first && entries_of(*menu).count > 0)
    go(menu, MENU_LIST, now_ms);
  else
    go(menu, MENU_CLOSED, now_ms);
  return MENU_TAKEN;
}

// A closed menu takes only Right: it opens the client's menu that was made
// the way in, else the list on its first entry.
int press_closed(Menu *menu, int key, long long now_ms)
{
  if (key != KEY_RIGHT)
    return MENU_PASS;
  int client = -1;
  if (clients_menu_entry(&client))
    return open_client(menu, client, true, now_ms);
  const Entries entries = entries_of(*menu);
  if (entries.count == 0)
    return MENU_PASS;
  menu->chosen = 0;
  menu->chosen_connection = 0;
  settle_choice(menu, entries);
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

bool menu_has_entries(const Menu &menu)
{
  int client = -1;
  return entries_of(menu).count > 0 || clients_menu_entry(&client);
}

int menu_press(Menu *menu, int key, long long now_ms)
{
  if (key == 0)
    return MENU_PASS;
  switch (menu->state) {
  case MENU_CLOSED:
    return press_closed(menu, key, now_ms);
  case MENU_LIST:
    return press_in_list(menu, key, now_ms);
  case MENU_QUESTION:
    return press_on_question(menu, key, now_ms);
  case MENU_RUNNING:
    return press_while_running(menu, key, now_ms);
  case MENU_CLIENT:
    return press_in_client(menu, key, now_ms);
  case MENU_BUSY:
    go(menu, MENU_LIST, now_ms);
    return MENU_TAKEN;
  default:
    go(menu, MENU_CLOSED, now_ms);
    return MENU_TAKEN;
  }
}

// The query that came with Right on the question is the first; the next
// one answered decides: Right alone runs the action, anything else leaves
// the question as it was.
int menu_held(Menu *menu, int key, long long held_ms, long long now_ms)
{
  if (menu->state == MENU_CLIENT) {
    clients_menu_held(key, held_ms);
    return MENU_TAKEN;
  }
  if (menu->state != MENU_QUESTION || menu->armed == 0)
    return MENU_PASS;
  if (menu->armed == ARMED_BY_PRESS) {
    menu->armed = ARMED_WAITING;
    return MENU_TAKEN;
  }
  menu->armed = 0;
  if (key != KEY_RIGHT)
    return MENU_TAKEN;
  menu->running = menu->chosen;
  snprintf(menu->running_label.data(), menu->running_label.size(), "%s", label_of(*menu, menu->chosen));
  go(menu, MENU_RUNNING, now_ms);
  return MENU_RUN;
}

// A client's menu that went leaves the list (or the pages) in view.
void menu_tick(Menu *menu, long long now_ms)
{
  const long long waited = now_ms - menu->since_ms;
  if (menu->state == MENU_CLIENT && !clients_menu_walking()) {
    go(menu, !menu->client_first && entries_of(*menu).count > 0 ? MENU_LIST : MENU_CLOSED, now_ms);
    return;
  }
  if (menu->state == MENU_CLIENT && waited >= LIST_MS) {
    clients_menu_close();
    go(menu, MENU_CLOSED, now_ms);
    return;
  }
  if (menu->state == MENU_LIST) {
    const Entries entries = entries_of(*menu);
    settle_choice(menu, entries);
    if (entries.count == 0)
      go(menu, MENU_CLOSED, now_ms);
  }
  if ((menu->state == MENU_LIST && waited >= LIST_MS) || (menu->state == MENU_RESULT && waited >= RESULT_MS))
    go(menu, MENU_CLOSED, now_ms);
  else if ((menu->state == MENU_QUESTION && waited >= QUESTION_MS) ||
           (menu->state == MENU_BUSY && waited >= BUSY_MS))
    go(menu, MENU_LIST, now_ms);
}

// An action's command runs on, and its result still comes to the front.
void menu_close(Menu *menu, long long now_ms)
{
  if (menu->state == MENU_CLIENT)
    clients_menu_close();
  go(menu, MENU_CLOSED, now_ms);
}

// The result comes to the front whatever the menu showed, the ring included.
void menu_ended(Menu *menu, const char *outcome, const PanelRow &output, long long now_ms)
{
  if (menu->running < 0)
    return;
  if (menu->state == MENU_CLIENT)
    clients_menu_close();
  status_row(&menu->result.front(), menu->running_label.data(), outcome);
  menu->result.back() = output;
  menu->running = -1;
  go(menu, MENU_RESULT, now_ms);
}

bool menu_glass(const Menu &menu, PanelGlass *glass)
{
  PanelRows *rows = &glass->rows;
  int cursor = -1;
  switch (menu.state) {
  case MENU_LIST: {
    const Entries entries = entries_of(menu);
    const int chosen = std::clamp(menu.chosen, 0, std::max(0, entries.count - 1));
    if (entries.count == 0)
      return false;
    entry_row(&rows->front(), '>', menu, entries, chosen);
    rows->back().fill(' ');
    if (chosen + 1 < entries.count)
      entry_row(&rows->back(), ' ', menu, entries, chosen + 1);
    return true;
  }
  case MENU_CLIENT:
    if (!clients_menu_rows(rows, &cursor))
      return false;
    glass->cursor = cursor >= 0;
    glass->cursor_row = LCM_ROWS - 1;
    glass->cursor_column = std::max(cursor, 0);
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
  menu->chosen_connection = 0;
  if (menu->running >= 0) {
    menu->running = PANEL_MAX_ACTIONS;
    for (int action = 0; action < count; action++) {
      if (strcmp(labels[action], menu->running_label.data()) == 0)
        menu->running = action;
    }
  }
  if (menu->state != MENU_RESULT && menu->state != MENU_CLOSED)
    menu_close(menu, now_ms);
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
