// The main menu's state machine: a walk through every screen, each step a
// press, a button held at an answered query, the passing of time or the end
// of the running command, and the state and screen it leads to.
#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <vector>

#include "client_helpers.h"
#include "panel.h"

namespace {

constexpr int TICK = -1;
constexpr int ENDED = -2;
// HELD + a key: the button held alone at an answered query (HELD: none).
constexpr int HELD = 100;
constexpr const char *NONE = "(no screen)";

struct Step {
  int event; // a key, TICK or ENDED
  long long at_ms;
  int taken; // what menu_press or menu_held returns; ignored for TICK and ENDED
  int state;
  std::string row0;
  std::string row1{};
  // For ENDED: the outcome and the first line of output.
  std::string outcome{};
  std::string output{};
};

std::string trimmed(const PanelRow &row)
{
  const std::string text(row.begin(), row.end());
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

void take(Menu *menu, const Step &step, size_t index)
{
  SCOPED_TRACE("step " + std::to_string(index + 1));
  if (step.event == TICK) {
    menu_tick(menu, step.at_ms);
  } else if (step.event >= HELD) {
    EXPECT_EQ(menu_held(menu, step.event - HELD, 0, step.at_ms), step.taken);
  } else if (step.event == ENDED) {
    PanelRow output{};
    panel_row_from_text(&output, step.output.c_str());
    menu_ended(menu, step.outcome.c_str(), output, step.at_ms);
  } else {
    EXPECT_EQ(menu_press(menu, step.event, step.at_ms), step.taken);
  }
  EXPECT_EQ(menu->state, step.state);
  PanelGlass glass{};
  if (!menu_glass(*menu, &glass)) {
    EXPECT_EQ(step.row0, NONE);
    return;
  }
  EXPECT_EQ(trimmed(glass.rows[0]), step.row0);
  EXPECT_EQ(trimmed(glass.rows[1]), step.row1);
}

TEST(Menu, EveryScreenByPressAndByTime)
{
  clients_reset();
  const std::vector<const char *> labels = {"Reboot", "Restart network", "IP"};
  Menu menu;
  menu_begin(&menu, static_cast<int>(labels.size()), labels.data());
  const std::vector<Step> walk = {
      // Closed, the menu takes Right only; the ring behind gets the rest.
      {KEY_DOWN, 0, MENU_PASS, MENU_CLOSED, NONE},
      {KEY_LEFT, 0, MENU_PASS, MENU_CLOSED, NONE},
      {KEY_RIGHT, 0, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      // Up and Down wrap; nothing below the last action.
      {KEY_UP, 100, MENU_TAKEN, MENU_LIST, ">IP", ""},
      {KEY_DOWN, 200, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      {KEY_DOWN, 300, MENU_TAKEN, MENU_LIST, ">Restart network", " IP"},
      // 30 s after the last press the list closes.
      {TICK, 30299, 0, MENU_LIST, ">Restart network", " IP"},
      {TICK, 30300, 0, MENU_CLOSED, NONE},
      // It opens on the first action again; Left closes it.
      {KEY_RIGHT, 40000, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      {KEY_LEFT, 40050, MENU_TAKEN, MENU_CLOSED, NONE},
      {KEY_RIGHT, 40100, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      // The question: Left, Up and Down say no, and so do 10 s.
      {KEY_RIGHT, 40200, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {KEY_LEFT, 40300, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      {KEY_RIGHT, 40400, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {KEY_UP, 40500, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      {KEY_RIGHT, 40600, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {KEY_DOWN, 40700, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      {KEY_RIGHT, 41000, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {TICK, 50999, 0, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {TICK, 51000, 0, MENU_LIST, ">Reboot", " Restart network"},
      // Right says yes once the next answered query still holds it alone;
      // a query that holds another button, or none, leaves the question.
      {KEY_RIGHT, 52000, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {KEY_RIGHT, 52100, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {HELD + KEY_RIGHT, 52100, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {HELD, 52120, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {HELD + KEY_RIGHT, 52140, MENU_PASS, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {KEY_RIGHT, 52200, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {HELD + KEY_RIGHT, 52200, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {HELD + KEY_UP, 52220, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {KEY_RIGHT, 52300, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {HELD + KEY_RIGHT, 52300, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {HELD + KEY_RIGHT, 52320, MENU_RUN, MENU_RUNNING, "Reboot", "running..."},
      {TICK, 200000, 0, MENU_RUNNING, "Reboot", "running..."},
      // Left goes back to the ring while it runs; another action is busy.
      {KEY_LEFT, 200100, MENU_TAKEN, MENU_CLOSED, NONE},
      {KEY_RIGHT, 200200, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      {KEY_DOWN, 200300, MENU_TAKEN, MENU_LIST, ">Restart network", " IP"},
      {KEY_RIGHT, 200400, MENU_TAKEN, MENU_BUSY, "Restart net busy", "Reboot   running"},
      {TICK, 202399, 0, MENU_BUSY, "Restart net busy", "Reboot   running"},
      {TICK, 202400, 0, MENU_LIST, ">Restart network", " IP"},
      {KEY_RIGHT, 202500, MENU_TAKEN, MENU_BUSY, "Restart net busy", "Reboot   running"},
      {KEY_RIGHT, 202600, MENU_TAKEN, MENU_LIST, ">Restart network", " IP"},
      // Choosing the running action shows it running; Right there does nothing.
      {KEY_UP, 202700, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      {KEY_RIGHT, 202800, MENU_TAKEN, MENU_RUNNING, "Reboot", "running..."},
      {KEY_RIGHT, 202900, MENU_TAKEN, MENU_RUNNING, "Reboot", "running..."},
      {KEY_DOWN, 203000, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      // The result comes to the front, and stays 10 s.
      {ENDED, 210000, 0, MENU_RESULT, "Reboot  failed 3", "bad", "failed 3", "bad"},
      {TICK, 219999, 0, MENU_RESULT, "Reboot  failed 3", "bad"},
      {TICK, 220000, 0, MENU_CLOSED, NONE},
      // Run again, back to the ring, the result in front of it until a press.
      {KEY_RIGHT, 230000, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      {KEY_RIGHT, 230100, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {KEY_RIGHT, 230200, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {HELD + KEY_RIGHT, 230200, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {HELD + KEY_RIGHT, 230220, MENU_RUN, MENU_RUNNING, "Reboot", "running..."},
      {KEY_LEFT, 230300, MENU_TAKEN, MENU_CLOSED, NONE},
      {ENDED, 231000, 0, MENU_RESULT, "Reboot        ok", "done", "ok", "done"},
      {KEY_UP, 231100, MENU_TAKEN, MENU_CLOSED, NONE},
      {KEY_UP, 231200, MENU_PASS, MENU_CLOSED, NONE},
      // The longest label, asked about and timed out.
      {KEY_RIGHT, 240000, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      {KEY_DOWN, 240100, MENU_TAKEN, MENU_LIST, ">Restart network", " IP"},
      {KEY_RIGHT, 240200, MENU_TAKEN, MENU_QUESTION, "Restart network?", "<No         Yes>"},
      {KEY_RIGHT, 240300, MENU_TAKEN, MENU_QUESTION, "Restart network?", "<No         Yes>"},
      {HELD + KEY_RIGHT, 240300, MENU_TAKEN, MENU_QUESTION, "Restart network?", "<No         Yes>"},
      {HELD + KEY_RIGHT, 240320, MENU_RUN, MENU_RUNNING, "Restart network", "running..."},
      {ENDED, 300300, 0, MENU_RESULT, "Restar timed out", "", "timed out", ""},
  };
  for (size_t i = 0; i < walk.size(); i++)
    take(&menu, walk[i], i);
}

// After the actions, an entry for each client with a menu, by its name (or
// number): Right walks into the client's menu, Left from its top comes
// back to the entry. A client that made its menu the way in gets Right
// from the pages.
TEST(Menu, ClientsMenusFollowTheActions)
{
  clients_reset();
  const int backup = greeted_client();
  const int unnamed = greeted_client();
  const std::vector<const char *> labels = {"Reboot"};
  Menu menu;
  menu_begin(&menu, static_cast<int>(labels.size()), labels.data());
  EXPECT_EQ(request(backup, "client_set -name backup"), "success\n");
  EXPECT_EQ(request(backup, "menu_add_item {} now action {Start now}"), "success\n");
  EXPECT_EQ(request(unnamed, "menu_add_item {} x action X"), "success\n");
  const std::vector<Step> walk = {
      {KEY_RIGHT, 0, MENU_TAKEN, MENU_LIST, ">Reboot", " backup        >"},
      {KEY_DOWN, 10, MENU_TAKEN, MENU_LIST, ">backup        >", " Client 2      >"},
      {KEY_RIGHT, 20, MENU_TAKEN, MENU_CLIENT, ">Start now"},
      {KEY_RIGHT, 30, MENU_TAKEN, MENU_CLIENT, ">Start now"},
      {TICK, 30029, 0, MENU_CLIENT, ">Start now"},
      {KEY_LEFT, 30030, MENU_TAKEN, MENU_LIST, ">backup        >", " Client 2      >"},
      {KEY_DOWN, 30040, MENU_TAKEN, MENU_LIST, ">Client 2      >"},
      {KEY_RIGHT, 30050, MENU_TAKEN, MENU_CLIENT, ">X"},
      // 30 s without a press close a client's menu too.
      {TICK, 60050, 0, MENU_CLOSED, NONE},
      {KEY_RIGHT, 60060, MENU_TAKEN, MENU_LIST, ">Reboot", " backup        >"},
      {KEY_UP, 60070, MENU_TAKEN, MENU_LIST, ">Client 2      >"},
      {KEY_RIGHT, 60080, MENU_TAKEN, MENU_CLIENT, ">X"},
  };
  for (size_t i = 0; i < walk.size(); i++)
    take(&menu, walk[i], i);
  EXPECT_EQ(sent_to(backup), "menuevent select now\n");
  // The client in view goes: its entry goes, and the list shows again.
  clients_remove(unnamed);
  take(&menu, {TICK, 60090, 0, MENU_LIST, ">backup        >"}, 100);
  take(&menu, {KEY_DOWN, 60100, MENU_TAKEN, MENU_LIST, ">Reboot", " backup        >"}, 101);
  take(&menu, {KEY_LEFT, 60110, MENU_TAKEN, MENU_CLOSED, NONE}, 102);
  EXPECT_EQ(request(backup, "menu_set_main {}"), "success\n");
  take(&menu, {KEY_RIGHT, 60120, MENU_TAKEN, MENU_CLIENT, ">Start now"}, 103);
  take(&menu, {KEY_LEFT, 60130, MENU_TAKEN, MENU_CLOSED, NONE}, 104);
  // Closed from outside (the panel's take-back), the walk tells the client.
  EXPECT_EQ(request(backup, "menu_add_item {} sub menu Sub"), "success\n");
  EXPECT_EQ(request(backup, "menu_goto sub"), "success\n");
  take(&menu, {KEY_RIGHT, 60140, MENU_TAKEN, MENU_CLIENT, "Sub", "(empty)"}, 105);
  menu_close(&menu, 60150);
  EXPECT_EQ(menu.state, MENU_CLOSED);
  EXPECT_EQ(sent_to(backup), "menuevent enter sub\nmenuevent leave sub\n");
}

// The answered replies at the question, as the loop hands them on: the
// press a reply starts, then the button it holds. Whether the action runs.
bool question_runs(const std::vector<int> &replies)
{
  clients_reset();
  const char *const labels[] = {"Mark"};
  Menu menu;
  menu_begin(&menu, 1, labels);
  (void)menu_press(&menu, KEY_RIGHT, 0);
  (void)menu_press(&menu, KEY_RIGHT, 0);
  PanelButtons buttons;
  long long now = 0;
  for (const int reply : replies) {
    now += 20;
    const int key = panel_press(&buttons, reply, now);
    if (key != 0)
      (void)menu_press(&menu, key, now);
    if (menu_held(&menu, buttons.held, now - buttons.held_since_ms, now) == MENU_RUN)
      return true;
  }
  return false;
}

TEST(Menu, QuestionRunsOnlyWhenTheNextReplyStillHoldsRightAlone)
{
  EXPECT_TRUE(question_runs({0x0F, 0x0D, 0x0D}));
  EXPECT_TRUE(question_runs({0x0F, 0x0F, 0x0D, 0x0D, 0x0F}));
  // One 0F flipped to 0D on the line.
  EXPECT_FALSE(question_runs({0x0F, 0x0D, 0x0F, 0x0F}));
  // Left, Up or Down joins Right, then goes while Right stays down.
  EXPECT_FALSE(question_runs({0x0F, 0x0D, 0x09, 0x0D, 0x0D}));
  EXPECT_FALSE(question_runs({0x0F, 0x0D, 0x0C, 0x0D, 0x0D}));
  EXPECT_FALSE(question_runs({0x0F, 0x0D, 0x05, 0x0D, 0x0D}));
  // Right held from before the question never answers it.
  EXPECT_FALSE(question_runs({0x0D, 0x0D, 0x0D}));
}

TEST(Menu, WithoutActionsEveryPressGoesToTheRing)
{
  clients_reset();
  Menu menu;
  menu_begin(&menu, 0, nullptr);
  EXPECT_FALSE(menu_has_entries(menu));
  for (const int key : {KEY_UP, KEY_DOWN, KEY_RIGHT, KEY_LEFT})
    EXPECT_EQ(menu_press(&menu, key, 0), MENU_PASS);
  PanelGlass glass{};
  EXPECT_FALSE(menu_glass(menu, &glass));
}

// New actions close the list; the running one runs on under its own label,
// in its new place, or outside the list when it is gone from it.
TEST(Menu, AReloadClosesTheListAndTheRunningActionKeepsItsLabel)
{
  clients_reset();
  const std::vector<const char *> labels = {"Reboot", "IP"};
  Menu menu;
  menu_begin(&menu, 2, labels.data());
  for (const int key : {KEY_RIGHT, KEY_DOWN, KEY_RIGHT, KEY_RIGHT})
    (void)menu_press(&menu, key, 0);
  // The query that came with the Right, then the next one still holding it.
  (void)menu_held(&menu, KEY_RIGHT, 0, 0);
  ASSERT_EQ(menu_held(&menu, KEY_RIGHT, 0, 0), MENU_RUN);
  ASSERT_EQ(menu.state, MENU_RUNNING);
  const std::vector<const char *> moved = {"Uptime", "Logs", "IP"};
  menu_reload(&menu, 3, moved.data(), 100);
  take(&menu, {KEY_RIGHT, 200, MENU_TAKEN, MENU_LIST, ">Uptime", " Logs"}, 0);
  take(&menu, {KEY_UP, 300, MENU_TAKEN, MENU_LIST, ">IP"}, 1);
  take(&menu, {KEY_RIGHT, 400, MENU_TAKEN, MENU_RUNNING, "IP", "running..."}, 2);
  const std::vector<const char *> others = {"Uptime"};
  menu_reload(&menu, 1, others.data(), 500);
  take(&menu, {TICK, 500, 0, MENU_CLOSED, NONE}, 3);
  take(&menu, {KEY_RIGHT, 600, MENU_TAKEN, MENU_LIST, ">Uptime"}, 4);
  take(&menu, {KEY_RIGHT, 700, MENU_TAKEN, MENU_BUSY, "Uptime      busy", "IP       running"}, 5);
  take(&menu, {ENDED, 800, 0, MENU_RESULT, "IP            ok", "10.0.0.2", "ok", "10.0.0.2"}, 6);
  menu_reload(&menu, 1, others.data(), 900);
  take(&menu, {TICK, 900, 0, MENU_RESULT, "IP            ok", "10.0.0.2"}, 7);
}

TEST(Menu, OutcomeOfTheRun)
{
  const std::vector<std::tuple<int, int, std::string>> cases = {
      {PAGE_RUN_DONE, W_EXITCODE(0, 0), "ok"},
      {PAGE_RUN_DONE, W_EXITCODE(3, 0), "failed 3"},
      {PAGE_RUN_DONE, W_EXITCODE(255, 0), "failed 255"},
      {PAGE_RUN_DONE, W_EXITCODE(0, SIGTERM), "killed TERM"},
      {PAGE_RUN_DONE, W_EXITCODE(0, SIGKILL) | WCOREFLAG, "killed KILL"},
      {PAGE_RUN_DONE, -1, "ended"},
      {PAGE_RUN_TIMED_OUT, -1, "timed out"},
  };
  for (const auto &[state, status, text] : cases) {
    char outcome[LCM_COLUMNS + 1];
    menu_outcome(outcome, sizeof outcome, state, status);
    EXPECT_EQ(outcome, text);
  }
}

} // namespace
