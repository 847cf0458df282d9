// The README's display client, docs/examples/progress.py, run as a user
// runs it: beside lcm-panel, which runs through lcm-emu --live so that the
// test presses the buttons as arrow keys and watches the glass as it is
// redrawn.
#include "panel_session.h"

namespace {

// An arrow key typed to lcm-emu --live, and the emulator's trace of the
// button reply while it is held.
struct Button {
  std::string arrow;
  std::string held;
};
const Button DOWN = {"\033[B", "button query -> 07 (down)"};
const Button LEFT = {"\033[D", "button query -> 0B (left)"};

// The README shows the client in a fenced block, exactly as the file stands.
TEST(ExampleClient, ReadmeHoldsTheFileVerbatim)
{
  const std::string client = read_file(EXAMPLE_CLIENT_PATH);
  ASSERT_FALSE(client.empty());
  EXPECT_NE(read_file(README_PATH).find("```python\n" + client + "```\n"), std::string::npos)
      << "README.md does not show " EXAMPLE_CLIENT_PATH " as it stands";
}

bool glass_shows(const Session &panel, const std::string &row0, const std::string &row1)
{
  const std::string drawing = box(row0, row1);
  return panel.out.size() >= drawing.size() &&
         panel.out.compare(panel.out.size() - drawing.size(), drawing.size(), drawing) == 0;
}

// The last drawings, for a failure's message.
std::string last_drawings(const Session &panel)
{
  const size_t shown = 4 * box("", "").size();
  return panel.out.substr(panel.out.size() > shown ? panel.out.size() - shown : 0);
}

// A press is done once the panel has read the button held and then let go,
// so that the next press of the same button starts anew.
void press(Session *panel, const Button &button)
{
  const size_t from = panel->err.size();
  ASSERT_EQ(write(panel->input, button.arrow.data(), button.arrow.size()),
            static_cast<ssize_t>(button.arrow.size()));
  EXPECT_TRUE(collect_until(panel,
                            [&](const Session &p) {
                              const size_t held = p.err.find(button.held, from);
                              return held != std::string::npos &&
                                     p.err.find("button query -> 0F", held) != std::string::npos;
                            }))
      << "the panel never saw the button held and let go: " << button.held;
}

// Whatever the outcome, no program of the test outlives it.
struct Reaper {
  std::vector<EmulatorSession *> sessions;
  ~Reaper()
  {
    for (EmulatorSession *session : sessions) {
      if (session->pid > 0 && waitpid(session->pid, nullptr, WNOHANG) == 0) {
        kill(session->pid, SIGKILL);
        waitpid(session->pid, nullptr, 0);
      }
    }
  }
};

void start_client(EmulatorSession *client, const std::vector<std::string> &command)
{
  std::vector<std::string> words = {PYTHON3_PATH, EXAMPLE_CLIENT_PATH, "Backup"};
  words.insert(words.end(), command.begin(), command.end());
  session_spawn(client, words, false);
}

// A job that ends, then one cancelled with Left from its screen: each ends
// in an alert that stays until a press, and the client leaves nothing behind.
TEST(ExampleClient, ShowsProgressCancelsOnLeftAndWaitsForThePressOnItsAlert)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  ASSERT_EQ(setenv("LCM_PANEL_SOCKET", (scratch.path + "/panel.sock").c_str(), 1), 0);
  Session panel;
  EmulatorSession done;
  EmulatorSession cancelled;
  const Reaper reaper{{&panel, &done, &cancelled}};
  session_spawn(&panel, {LCM_EMU_PATH, "--live", "--trace", "--", LCM_PANEL_PATH, "echo page one"}, true);
  ASSERT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, "page one", ""); }))
      << panel.err;

  start_client(&done, {"sh", "-c", "echo 50%; echo 100%"});
  EXPECT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, "Backup", "done"); }))
      << last_drawings(panel);
  press(&panel, DOWN);
  EXPECT_EQ(wait_for_exit(&done), 0) << done.err;
  EXPECT_EQ(done.out, "50%\n100%\n");
  EXPECT_EQ(done.err, "progress.py: Backup: done\n");
  EXPECT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, "page one", ""); }));

  // The job lasts until it is stopped, or until its client is gone.
  start_client(&cancelled, {"sh", "-c",
                            R"(echo Copying; printf '10%%\r45%%\r'
                               while kill -0 $PPID 2>/dev/null; do sleep 0.2; done)"});
  // The screen is in the ring once the command runs; Down brings it into view.
  EXPECT_TRUE(collect_until(&cancelled, [](const EmulatorSession &c) {
    return c.out.find("45%\r") != std::string::npos;
  })) << cancelled.err;
  press(&panel, DOWN);
  EXPECT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, "Backup", "45%"); }))
      << last_drawings(panel);
  press(&panel, LEFT);
  EXPECT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, "Backup", "cancelled"); }))
      << last_drawings(panel);
  press(&panel, DOWN);
  EXPECT_EQ(wait_for_exit(&cancelled), 128 + SIGTERM) << cancelled.err;
  EXPECT_EQ(cancelled.out, "Copying\n10%\r45%\r");
  EXPECT_EQ(cancelled.err, "progress.py: Backup: cancelled\n");

  // The client's screens went with it: the panel's page is back.
  kill(panel.pid, SIGTERM);
  EXPECT_EQ(wait_for_exit(&panel), 0) << panel_lines(panel.err);
  EXPECT_TRUE(glass_shows(panel, "page one", "")) << last_drawings(panel);
  EXPECT_EQ(panel_lines(panel.err), "");
}

} // namespace
