// The action menu's state machine: a walk through every screen, each step a
// press, the passing of time or the end of the running command, and the
// state and screen it leads to.
#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <vector>

#include "panel.h"

namespace {

constexpr int TICK = -1;
constexpr int ENDED = -2;
constexpr const char *NONE = "(no screen)";

struct Step {
  int event; // a key, TICK or ENDED
  long long at_ms;
  int taken; // what menu_press returns; ignored for TICK and ENDED
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
  } else if (step.event == ENDED) {
    PanelRow output{};
    panel_row_from_text(&output, step.output.c_str());
    menu_ended(menu, step.outcome.c_str(), output, step.at_ms);
  } else {
    EXPECT_EQ(menu_press(menu, step.event, step.at_ms), step.taken);
  }
  EXPECT_EQ(menu->state, step.state);
  PanelRows rows{};
  if (!menu_rows(*menu, &rows)) {
    EXPECT_EQ(step.row0, NONE);
    return;
  }
  EXPECT_EQ(trimmed(rows[0]), step.row0);
  EXPECT_EQ(trimmed(rows[1]), step.row1);
}

TEST(Menu, EveryScreenByPressAndByTime)
{
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
      // Right says yes: the command is to run.
      {KEY_RIGHT, 52000, MENU_TAKEN, MENU_QUESTION, "Reboot?", "<No         Yes>"},
      {KEY_RIGHT, 52100, MENU_RUN, MENU_RUNNING, "Reboot", "running..."},
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
      {KEY_RIGHT, 230200, MENU_RUN, MENU_RUNNING, "Reboot", "running..."},
      {KEY_LEFT, 230300, MENU_TAKEN, MENU_CLOSED, NONE},
      {ENDED, 231000, 0, MENU_RESULT, "Reboot        ok", "done", "ok", "done"},
      {KEY_UP, 231100, MENU_TAKEN, MENU_CLOSED, NONE},
      {KEY_UP, 231200, MENU_PASS, MENU_CLOSED, NONE},
      // The longest label, asked about and timed out.
      {KEY_RIGHT, 240000, MENU_TAKEN, MENU_LIST, ">Reboot", " Restart network"},
      {KEY_DOWN, 240100, MENU_TAKEN, MENU_LIST, ">Restart network", " IP"},
      {KEY_RIGHT, 240200, MENU_TAKEN, MENU_QUESTION, "Restart network?", "<No         Yes>"},
      {KEY_RIGHT, 240300, MENU_RUN, MENU_RUNNING, "Restart network", "running..."},
      {ENDED, 300300, 0, MENU_RESULT, "Restar timed out", "", "timed out", ""},
  };
  for (size_t i = 0; i < walk.size(); i++)
    take(&menu, walk[i], i);
}

TEST(Menu, WithoutActionsEveryPressGoesToTheRing)
{
  Menu menu;
  menu_begin(&menu, 0, nullptr);
  for (const int key : {KEY_UP, KEY_DOWN, KEY_RIGHT, KEY_LEFT})
    EXPECT_EQ(menu_press(&menu, key, 0), MENU_PASS);
  PanelRows rows{};
  EXPECT_FALSE(menu_rows(menu, &rows));
}

// New actions close the list; the running one runs on under its own label,
// in its new place, or outside the list when it is gone from it.
TEST(Menu, AReloadClosesTheListAndTheRunningActionKeepsItsLabel)
{
  const std::vector<const char *> labels = {"Reboot", "IP"};
  Menu menu;
  menu_begin(&menu, 2, labels.data());
  for (const int key : {KEY_RIGHT, KEY_DOWN, KEY_RIGHT, KEY_RIGHT})
    (void)menu_press(&menu, key, 0);
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
