// The main menu and the display clients' menus of lcm-panel run for real
// through lcm-emu: a client's menu walked by presses with its menuevent
// lines, the question that one garbled reply cannot answer, and the
// take-back of the glass from a client that reserved every key.
#include "live_panel.h"
#include "panel_client.h"

namespace {

const std::string QUESTION = "<No         Yes>";

// The client's checkbox set and its slider moved, typed as arrow keys.
TEST(PanelMenusE2e, ClientsCheckboxAndSliderWalkedByPresses)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  Session panel;
  const Reaper reaper{{&panel}};
  session_spawn(&panel,
                {LCM_EMU_PATH, "--live", "--trace", "--wire", scratch.path + "/wire", "--", LCM_PANEL_PATH,
                 "--every", "60", "echo Page"},
                true);
  PanelClient client;
  ASSERT_TRUE(client_connect(&client, socket_path));
  client_send(client,
              {"hello", "client_set -name demo", "menu_add_item {} beep checkbox Beep -value on",
               "menu_add_item {} vol slider Volume -mintext - -maxtext + -value 50 -stepsize 10", "noop"});
  ASSERT_TRUE(client_expect(&client, "noop complete")) << client.seen;
  ASSERT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, "Page", ""); }))
      << panel.err;
  for (const Button &button : {RIGHT, RIGHT, RIGHT, UP, RIGHT, DOWN, RIGHT, UP, UP, DOWN, RIGHT, LEFT, LEFT})
    press(&panel, button);
  EXPECT_TRUE(client_expect(&client, "menuevent leave vol")) << client.seen;
  EXPECT_TRUE(collect_until(&panel, [](const Session &p) { return glass_shows(p, "Page", ""); }))
      << last_drawings(panel);
  kill(panel.pid, SIGTERM);
  EXPECT_EQ(wait_for_exit(&panel), 0) << panel_lines(panel.err);
  EXPECT_EQ(client.seen, CONNECT + "success\nsuccess\nsuccess\nnoop complete\n"
                                   "menuevent enter beep\nmenuevent update beep off\nmenuevent leave beep\n"
                                   "menuevent enter vol\nmenuevent plus vol 60\nmenuevent plus vol 70\n"
                                   "menuevent minus vol 60\nmenuevent leave vol\n");
  const std::string wire = read_file(scratch.path + "/wire");
  Glass glass;
  EXPECT_EQ(without_key_queries(Bytes(wire.begin(), wire.end()), INIT_SEQUENCE.size()),
            PANEL_START + glass.show({{"Page", ""},
                                      {">demo          >", ""},
                                      {">Beep          Y", " Volume"},
                                      {"Beep", "on"},
                                      {"Beep", "off"},
                                      {">Beep          N", " Volume"},
                                      {">Volume", ""},
                                      {"Volume        50", "-#######_______+"},
                                      {"Volume        60", "-########______+"},
                                      {"Volume        70", "-##########____+"},
                                      {"Volume        60", "-########______+"},
                                      {">Volume", ""},
                                      {">demo          >", ""},
                                      {"Page", ""}}));
}

// Right comes on the question, then Left, Up or Down joins it and goes
// while Right stays down (replies 0D, then 09, 0C or 05, then 0D again):
// no press starts after the chord, so nothing answers the question.
TEST(PanelMenusE2e, QuestionIsNotAnsweredByRightHeldThroughAChord)
{
  SKIP_WITHOUT_NAMESPACES();
  for (const std::string other : {"left", "up", "down"}) {
    SCOPED_TRACE(other);
    const Scratch scratch;
    const std::string ran = scratch.path + "/ran";
    Session run;
    launch(&run, scratch.path,
           {"--press", "right@1000+200", "--press", "right@2000+2000", "--press", other + "@2600+300"},
           {"--every", "60", "--action", "Mark", "touch " + ran, "echo Page"});
    EXPECT_TRUE(collect_until(&run, [](const Session &r) {
      const std::vector<long> queries = times_of(r.err, "button query -> 0F");
      return !queries.empty() && queries.back() >= 4500;
    })) << run.err;
    finish(&run);
    EXPECT_EQ(run.status, 0) << panel_lines(run.err);
    EXPECT_FALSE(std::filesystem::exists(ran));
    Glass glass;
    EXPECT_EQ(drawn(run), PANEL_START + glass.show({{"Page", ""}, {">Mark", ""}, {"Mark?", QUESTION}}));
    EXPECT_EQ(panel_lines(run.err), "");
  }
}

// A client with an input screen and every key reserved for itself holds
// the buttons until Left is held for 2 s: then the first page is back, the
// client is told "ignore", and the buttons page and open the menu again.
TEST(PanelMenusE2e, HoldingLeftTakesTheGlassBackFromAClientThatReservedEveryKey)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  Session run;
  launch(&run, scratch.path,
         {"--press", "down@3000+200", "--press", "right@3500+200", "--press", "left@4000+2500", "--press",
          "down@7000+200", "--press", "right@7500+200", "--press", "left@8000+200"},
         {"--every", "60", "--action", "Mark", "true", "echo One", "echo Two"});
  ASSERT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'O' at row 0") >= 1; }))
      << run.err;
  PanelClient client;
  ASSERT_TRUE(client_connect(&client, socket_path));
  client_send(client, {"hello", "screen_add in", "screen_set in -priority input", "widget_add in w string",
                       "widget_set in w 1 1 Locked", "client_add_key -exclusively Up Down Left Right"});
  EXPECT_TRUE(client_expect(&client, "ignore in")) << client.seen;
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'T' at row 0") >= 2; }))
      << run.err;
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  EXPECT_EQ(client.seen, CONNECT + "success\nsuccess\nsuccess\nsuccess\nsuccess\n"
                                   "listen in\nkey Down\nkey Right\nkey Left\nignore in\n");
  Glass glass;
  EXPECT_EQ(
      drawn(run),
      PANEL_START +
          glass.show({{"One", ""}, {"Locked", ""}, {"One", ""}, {"Two", ""}, {">Mark", ""}, {"Two", ""}}));
  const std::vector<long> back = times_of(run.err, "text 'O' at row 0");
  ASSERT_EQ(back.size(), 2U);
  EXPECT_GE(back[1], 6000);
}

} // namespace
