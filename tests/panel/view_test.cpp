// The screen in view, as the loop asks for it after each pass: which screen
// the priorities put there, with the cursor and the light it asks for;
// display clients talk to the store as their connections would.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <unistd.h>
#include <vector>

#include "client_helpers.h"
#include "panel_internal.h"

namespace {

class ViewTest : public ::testing::Test {
protected:
  PanelOptions options;
  int client = -1;

  void begin(const std::vector<const char *> &pages)
  {
    for (const char *page : pages)
      options.pages[static_cast<std::size_t>(options.page_count++)] = page;
    clients_reset();
    const long long now = panel_now_ms();
    ring_begin(options, now);
    actions_begin(options);
    view_begin(options, now);
    client = greeted_client();
  }

  void TearDown() override
  {
    view_end();
  }

  // One pass of the loop without the module: tend, then what the glass shows.
  PanelGlass glass()
  {
    const long long now = panel_now_ms();
    view_tend(now);
    PanelGlass shown;
    view_glass(now, &shown);
    return shown;
  }

  std::string shown()
  {
    return text_of(glass().rows);
  }

  // A page's text shows once its command has ended.
  bool comes_to_show(const std::string &rows)
  {
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (shown() != rows && std::chrono::steady_clock::now() < bound)
      usleep(5000);
    return shown() == rows;
  }

  // The replies to a request, without the listen and ignore events of the
  // passes before it.
  std::string replies(const std::string &line, int owner = -1)
  {
    const std::string sent = request(owner < 0 ? client : owner, line);
    std::string kept;
    for (std::size_t at = 0; at < sent.size();) {
      const std::size_t end = sent.find('\n', at) + 1;
      const std::string reply = sent.substr(at, end - at);
      if (reply.rfind("listen ", 0) != 0 && reply.rfind("ignore ", 0) != 0)
        kept += reply;
      at = end;
    }
    return kept;
  }

  // Every option of a request answered with success.
  void say(const std::string &line, int owner = -1)
  {
    const std::string reply = replies(line, owner);
    ASSERT_FALSE(reply.empty()) << line;
    for (std::size_t at = 0; at < reply.size(); at += 8)
      ASSERT_EQ(reply.substr(at, 8), "success\n") << line;
  }

  // A screen that shows its id at the top left.
  void add_screen(const std::string &id, const std::string &priority, int owner = -1)
  {
    say("screen_add " + id, owner);
    say("screen_set " + id + " -priority " + priority, owner);
    say("widget_add " + id + " w string", owner);
    say("widget_set " + id + " w 1 1 " + id, owner);
  }

  void press(int key)
  {
    view_press(key, panel_now_ms());
  }
};

std::string row(const std::string &text)
{
  return text + std::string(LCM_COLUMNS - text.size(), ' ');
}

std::string screen(const std::string &top)
{
  return row(top) + "|" + row("");
}

// Foreground screens take the display from the info screens and the
// buttons page among them; info screens show when there is no foreground
// screen, background screens when there are neither; with none at all the
// glass is blank. No page at all is a ring like any other.
TEST_F(ViewTest, WithoutPagesEachClassShowsOnlyWhenNoHigherOneExists)
{
  begin({});
  EXPECT_EQ(shown(), screen(""));
  add_screen("back", "background");
  EXPECT_EQ(shown(), screen("back"));
  add_screen("info", "info");
  EXPECT_EQ(shown(), screen("info"));
  add_screen("fore1", "foreground");
  EXPECT_EQ(shown(), screen("fore1"));
  add_screen("fore2", "foreground");
  add_screen("hidden", "hidden");
  press(KEY_DOWN);
  EXPECT_EQ(shown(), screen("fore2"));
  press(KEY_DOWN);
  EXPECT_EQ(shown(), screen("fore1"));
  press(KEY_UP);
  EXPECT_EQ(shown(), screen("fore2"));
  say("screen_del fore2");
  EXPECT_EQ(shown(), screen("fore1"));
  say("screen_set fore1 -priority info");
  EXPECT_EQ(shown(), screen("info"));
  press(KEY_DOWN);
  EXPECT_EQ(shown(), screen("fore1"));
  say("screen_del info");
  say("screen_del fore1");
  EXPECT_EQ(shown(), screen("back"));
  say("screen_del back");
  EXPECT_EQ(shown(), screen(""));
  press(KEY_DOWN);
  EXPECT_EQ(shown(), screen(""));
}

// The pages count as info screens: a foreground screen takes the display
// from them at once, and when it goes the page that was in view comes back
// with its last text. A background screen never shows beside pages.
TEST_F(ViewTest, AForegroundScreenTakesTheDisplayFromThePagesAndGivesItBack)
{
  begin({"echo one", "echo two"});
  add_screen("back", "background");
  ASSERT_TRUE(comes_to_show(screen("one")));
  press(KEY_DOWN);
  ASSERT_TRUE(comes_to_show(screen("two")));
  add_screen("fore", "foreground");
  EXPECT_EQ(shown(), screen("fore"));
  press(KEY_DOWN);
  EXPECT_EQ(shown(), screen("fore"));
  say("screen_del fore");
  EXPECT_EQ(shown(), screen("two"));
  press(KEY_DOWN);
  ASSERT_TRUE(comes_to_show(screen("one")));
}

// Left held 2 s takes the glass back even from a foreground screen whose
// client reserved every key: the pages show and page, no key goes to the
// client, and its screen takes the display again once paged to.
TEST_F(ViewTest, LeftHeldTakesTheGlassBackFromAForegroundScreenWithEveryKey)
{
  begin({"echo one", "echo two"});
  ASSERT_TRUE(comes_to_show(screen("one")));
  add_screen("fore", "foreground");
  say("client_add_key -exclusively Up Down Left Right");
  EXPECT_EQ(shown(), screen("fore"));
  press(KEY_DOWN);
  EXPECT_EQ(replies("noop"), "key Down\nnoop complete\n");
  view_held(KEY_LEFT, 2000, panel_now_ms());
  EXPECT_EQ(shown(), screen("one"));
  press(KEY_DOWN);
  ASSERT_TRUE(comes_to_show(screen("two")));
  press(KEY_DOWN);
  EXPECT_EQ(shown(), screen("fore"));
  press(KEY_DOWN);
  EXPECT_EQ(shown(), screen("fore"));
  EXPECT_EQ(replies("noop"), "key Down\nnoop complete\n");
}

// The newest alert is in front at once, whether it came after another
// alert or after lcm-show's lines; a press dismisses only the one in view.
TEST_F(ViewTest, TheNewestAlertComesInFrontAtOnce)
{
  begin({});
  const int other = greeted_client();
  add_screen("first", "alert");
  EXPECT_EQ(shown(), screen("first"));
  add_screen("second", "alert", other);
  EXPECT_EQ(shown(), screen("second"));
  EXPECT_EQ(replies("lcm_show {lcm-show} {}", other), "");
  EXPECT_EQ(shown(), screen("lcm-show"));
  add_screen("third", "input");
  EXPECT_EQ(shown(), screen("third"));
  say("screen_set first -priority alert");
  EXPECT_EQ(shown(), screen("third"));
  say("screen_set first -priority info");
  say("screen_set first -priority alert");
  EXPECT_EQ(shown(), screen("first"));
  press(KEY_DOWN);
  EXPECT_EQ(shown(), screen("third"));
  say("screen_del third");
  EXPECT_EQ(shown(), screen("lcm-show"));
  press(KEY_DOWN);
  EXPECT_EQ(shown(), screen("second"));
}

// The module has one cursor: on, under and block show it at the screen's
// cell, off or a cell beyond the glass hide it, and it goes with the screen.
TEST_F(ViewTest, TheCursorOfTheScreenInViewAndOnlyWhileItShows)
{
  begin({});
  add_screen("s", "foreground");
  EXPECT_FALSE(glass().cursor);
  say("screen_set s -cursor on");
  PanelGlass seen = glass();
  EXPECT_TRUE(seen.cursor);
  EXPECT_EQ(seen.cursor_row, 0);
  EXPECT_EQ(seen.cursor_column, 0);
  for (const char *shape : {"under", "block"}) {
    say(std::string("screen_set s -cursor ") + shape + " -cursor_x 16 -cursor_y 2");
    seen = glass();
    EXPECT_TRUE(seen.cursor) << shape;
    EXPECT_EQ(seen.cursor_row, 1) << shape;
    EXPECT_EQ(seen.cursor_column, 15) << shape;
  }
  say("screen_set s -cursor_x 17");
  EXPECT_FALSE(glass().cursor);
  say("screen_set s -cursor_x 3 -cursor_y 3");
  EXPECT_FALSE(glass().cursor);
  say("screen_set s -cursor_y 1");
  EXPECT_TRUE(glass().cursor);
  add_screen("a", "alert");
  EXPECT_FALSE(glass().cursor);
  say("screen_del a");
  EXPECT_TRUE(glass().cursor);
  say("screen_set s -cursor off");
  EXPECT_FALSE(glass().cursor);
}

// A screen's -backlight decides while it is in view; open (the default)
// follows its client's backlight command, toggle is the other of on and
// off from it. Anything else in view is lit.
TEST_F(ViewTest, TheLightOfTheScreenInViewFollowsItsOwnSettingOrItsClients)
{
  begin({});
  add_screen("s", "info");
  EXPECT_EQ(glass().light, GLASS_LIGHT_ON);
  const std::vector<std::pair<std::string, int>> steps = {
      {"screen_set s -backlight off", GLASS_LIGHT_OFF},
      {"screen_set s -backlight blink", GLASS_LIGHT_BLINK},
      {"screen_set s -backlight flash", GLASS_LIGHT_FLASH},
      {"screen_set s -backlight on", GLASS_LIGHT_ON},
      {"backlight off", GLASS_LIGHT_ON},
      {"screen_set s -backlight open", GLASS_LIGHT_OFF},
      {"screen_set s -backlight toggle", GLASS_LIGHT_ON},
      {"backlight toggle", GLASS_LIGHT_OFF},
      {"backlight toggle", GLASS_LIGHT_ON},
      {"backlight blink", GLASS_LIGHT_OFF},
      {"screen_set s -backlight open", GLASS_LIGHT_BLINK},
      {"backlight flash", GLASS_LIGHT_FLASH},
      {"backlight open", GLASS_LIGHT_ON},
  };
  for (const auto &[line, light] : steps) {
    say(line);
    EXPECT_EQ(glass().light, light) << line;
  }
  say("backlight off");
  const int other = greeted_client();
  add_screen("alert", "alert", other);
  EXPECT_EQ(glass().light, GLASS_LIGHT_ON);
  say("screen_set alert -backlight off", other);
  EXPECT_EQ(glass().light, GLASS_LIGHT_OFF);
  EXPECT_EQ(replies("lcm_show {} {}", other), "");
  EXPECT_EQ(glass().light, GLASS_LIGHT_ON);
}

} // namespace
