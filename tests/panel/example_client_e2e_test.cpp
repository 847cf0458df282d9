// The example display clients, docs/examples/progress.py and menu.py, run
// as a user runs them: beside lcm-panel, which runs through lcm-emu --live
// so that the test presses the buttons as arrow keys and watches the glass
// as it is redrawn.
#include <utility>

#include "live_panel.h"
#include "panel_client.h"

namespace {

// Each client is shown in a fenced block, exactly as the file stands: the
// menu client in the README, the progress client in docs/clients.md.
TEST(ExampleClient, DocumentsHoldTheFilesVerbatim)
{
  const std::pair<std::string, std::string> shown[] = {{MENU_CLIENT_PATH, README_PATH},
                                                       {EXAMPLE_CLIENT_PATH, CLIENTS_DOC_PATH}};
  for (const auto &[path, document] : shown) {
    const std::string client = read_file(path);
    ASSERT_FALSE(client.empty()) << path;
    const std::string text = read_file(document);
    ASSERT_FALSE(text.empty()) << document;
    EXPECT_NE(text.find("```python\n" + client + "```\n"), std::string::npos)
        << document << " does not show " << path << " as it stands";
  }
}

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
  share_in(scratch);
  Session panel;
  EmulatorSession done;
  EmulatorSession cancelled;
  const Reaper reaper{{&panel, &done, &cancelled}};
  session_spawn(&panel, {LCM_EMU_PATH, "--live", "--trace", "--", LCM_PANEL_PATH, "echo page one"}, true);
  ASSERT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, "page one", ""); }))
      << trace_tail(panel.err);

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

// The README's menu client driven by typed presses as a user would: the
// checkbox set, the slider moved, the address's last digit changed, Quit.
TEST(ExampleClient, MenuClientPrintsWhatIsDoneWithItsMenu)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  share_in(scratch);
  Session panel;
  EmulatorSession client;
  const Reaper reaper{{&panel, &client}};
  session_spawn(&panel, {LCM_EMU_PATH, "--live", "--trace", "--", LCM_PANEL_PATH, "echo page one"}, true);
  ASSERT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, "page one", ""); }))
      << trace_tail(panel.err);
  session_spawn(&client, {PYTHON3_PATH, MENU_CLIENT_PATH}, false);
  ASSERT_TRUE(collect_until(&client, [](const EmulatorSession &c) {
    return c.err.find("Right on the pages opens the menu") != std::string::npos;
  })) << client.err;
  for (const Button &button : {RIGHT, RIGHT, RIGHT, DOWN, RIGHT, DOWN, DOWN, RIGHT, UP, RIGHT})
    press(&panel, button);
  EXPECT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, ">Volume", " Port"); }))
      << last_drawings(panel);
  for (const Button &button : {DOWN, DOWN, RIGHT, DOWN, RIGHT})
    press(&panel, button);
  EXPECT_TRUE(collect_until(&panel, [](const Session &p) {
    // The edit shows the module's cursor under its first digit.
    return glass_shows_cursor(p, "Address", "192.168.001.002", 1, 0);
  })) << last_drawings(panel);
  for (int digit = 0; digit < 11; digit++)
    press(&panel, RIGHT);
  for (const Button &button : {UP, RIGHT, LEFT, DOWN, RIGHT})
    press(&panel, button);
  EXPECT_EQ(wait_for_exit(&client), 0) << client.err;
  EXPECT_EQ(client.out,
            "menuevent enter beep\nmenuevent update beep off\nmenuevent leave beep\n"
            "menuevent enter volume\nmenuevent plus volume 60\nmenuevent leave volume\n"
            "menuevent enter more\nmenuevent leave more\nmenuevent enter address\n"
            "menuevent update address 192.168.1.3\nmenuevent leave address\nmenuevent enter more\n"
            "menuevent leave more\nmenuevent select quit\n");
  EXPECT_EQ(client.err, "menu.py: Right on the pages opens the menu\n");
  EXPECT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, "page one", ""); }))
      << last_drawings(panel);
  kill(panel.pid, SIGTERM);
  EXPECT_EQ(wait_for_exit(&panel), 0) << panel_lines(panel.err);
  EXPECT_EQ(panel_lines(panel.err), "");
}

} // namespace
