// A client's screen drawn into the panel's two rows: every widget type,
// clipping, frames, and moving texts at a few times.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client_helpers.h"

namespace {

struct Case {
  const char *what;
  std::vector<std::string> requests;
  long long at_ms;
  std::string rows;
};

std::string drawn(const std::vector<std::string> &requests, long long at_ms)
{
  clients_reset();
  const int client = greeted_client();
  EXPECT_EQ(request(client, "screen_add s"), "success\n");
  for (const std::string &line : requests)
    EXPECT_EQ(request(client, line, 0), "success\n") << line;
  std::vector<ScreenHandle> handles(CLIENTS_ALL_SCREENS);
  EXPECT_EQ(clients_screens(handles.data(), CLIENTS_ALL_SCREENS), 1);
  PanelRows rows{};
  EXPECT_EQ(clients_render(handles[0], at_ms, &rows), 0);
  return text_of(rows);
}

// A moving text's place follows from the time since its text was set: a
// positive speed is eighths of a second a step, a negative one steps an
// eighth. What is in a frame is placed and clipped within it, and scrolls
// with it.
TEST(ClientsRender, EachWidgetTypeClippedToTheGlassAndMovingAtItsSpeed)
{
  const std::string twenty = "widget_set s r 1 1 16 1 h 8 0123456789ABCDEFGHIJ";
  const std::string marquee = "widget_set s r 1 2 8 2 m -1 abcdefghij";
  const std::string upwards = "widget_set s r 1 1 8 2 v 8 {one two three four}";
  const std::string title = "widget_set s r {A title that is too long}";
  const std::vector<std::string> framed = {
      "widget_add s f frame",           "widget_set s f 5 1 12 2 8 4 v 8", "widget_add s a string -in f",
      "widget_set s a 1 1 in1",         "widget_add s b string -in f",     "widget_set s b 1 2 in2",
      "widget_add s c string -in f",    "widget_set s c 1 3 in3",          "widget_add s d string -in f",
      "widget_set s d 6 4 overflowing", "widget_add s o string",           "widget_set s o 1 2 out",
  };
  std::vector<std::string> titled = {"widget_add s f frame", "widget_set s f 9 2 14 2 6 1 h 1",
                                     "widget_add s t title -in f", "widget_set s t Hi"};
  const std::vector<Case> cases = {
      {"nothing set yet", {"widget_add s w string"}, 0, "                |                "},
      {"strings, cut at the right edge",
       {"widget_add s a string", "widget_set s a 1 1 Hello", "widget_add s b string",
        "widget_set s b 14 2 World"},
       0,
       "Hello           |             Wor"},
      {"cut at the left edge, off the glass below",
       {"widget_add s a string", "widget_set s a -1 1 xyHello", "widget_add s b string",
        "widget_set s b 1 3 No"},
       0,
       "Hello           |                "},
      {"control characters shown as ?",
       {"widget_add s a string", "widget_set s a 1 1 {a\\tb\\r\x7f\x01}"},
       0,
       "a?b???          |                "},
      {"a title counts characters",
       {"widget_add s t title", "widget_set s t Gr\xc3\xb6\xc3\x9f"
                                "e"},
       0,
       "## Grose #######|                "},
      {"a scroller counts characters",
       {"widget_add s r scroller", "widget_set s r 1 1 4 1 h 8 {\xc3\x9c"
                                   "ber \xc3\xa9t\xc3\xa9}"},
       2000,
       "er e            |                "},
      {"later widgets over earlier ones",
       {"widget_add s a string", "widget_add s b string", "widget_set s b 3 1 XY",
        "widget_set s a 1 1 abcdef"},
       0,
       "abXYef          |                "},
      {"a title that fits",
       {"widget_add s t title", "widget_set s t Load"},
       0,
       "## Load ########|                "},
      {"bars in whole cells, to the nearest",
       {"widget_add s h hbar", "widget_set s h 1 2 40", "widget_add s i hbar", "widget_set s i 10 1 7",
        "widget_add s j hbar", "widget_set s j 13 1 8", "widget_add s k hbar", "widget_set s k 16 1 2"},
       0,
       "         #  ##  |########        "},
      {"vertical bars grow upwards",
       {"widget_add s v vbar", "widget_set s v 16 2 16", "widget_add s u vbar", "widget_set s u 1 2 4"},
       0,
       "               #|#              #"},
      {"icons as their stand-ins",
       {"widget_add s a icon", "widget_set s a 1 1 ARROW_UP", "widget_add s b icon",
        "widget_set s b 2 1 heart_open", "widget_add s c icon", "widget_set s c 16 2 BLOCK_FILLED"},
       0,
       "^o              |               #"},
      {"big numbers as plain digits in both rows",
       {"widget_add s a num", "widget_set s a 1 1", "widget_add s b num", "widget_set s b 3 10",
        "widget_add s c num", "widget_set s c 5 2"},
       0,
       "1 : 2           |1 : 2           "},
      {"fits: stands still",
       {"widget_add s r scroller", "widget_set s r 3 1 10 1 h 1 short"},
       5000,
       "  short         |                "},
      {"h at 0 s", {"widget_add s r scroller", twenty}, 0, "0123456789ABCDEF|                "},
      {"h at 1 s", {"widget_add s r scroller", twenty}, 1000, "123456789ABCDEFG|                "},
      {"h at its end", {"widget_add s r scroller", twenty}, 4999, "456789ABCDEFGHIJ|                "},
      {"h from the beginning again",
       {"widget_add s r scroller", twenty},
       5000,
       "0123456789ABCDEF|                "},
      {"speed 0 stands still",
       {"widget_add s r scroller", "widget_set s r 1 1 16 1 h 0 0123456789ABCDEFGHIJ"},
       9000,
       "0123456789ABCDEF|                "},
      {"m within its area", {"widget_add s r scroller", marquee}, 0, "                |abcdefgh        "},
      {"m round the gap", {"widget_add s r scroller", marquee}, 1125, "                |j   abcd        "},
      {"v at 0 s", {"widget_add s r scroller", upwards}, 0, "one two         |three fo        "},
      {"v at 1 s", {"widget_add s r scroller", upwards}, 1000, "three fo        |ur              "},
      {"v again", {"widget_add s r scroller", upwards}, 2000, "one two         |three fo        "},
      {"a long title moves through its row",
       {"widget_add s r title", title},
       1000,
       "title that is to|                "},
      {"frame at 0 s", framed, 0, "    in1         |out in2         "},
      {"frame at 1 s", framed, 1000, "    in2         |out in3         "},
      {"frame at its end, cut at its width", framed, 2000, "    in3         |out      ove    "},
      {"frame from the top again", framed, 3000, "    in1         |out in2         "},
      {"a title fills the frame's row", titled, 0, "                |        ## Hi   "},
  };
  for (const Case &c : cases)
    EXPECT_EQ(drawn(c.requests, c.at_ms), c.rows) << c.what;
}

TEST(ClientsRender, AHandleNoLongerValidIsRefused)
{
  clients_reset();
  const int client = greeted_client();
  (void)request(client, "screen_add s");
  std::vector<ScreenHandle> handles(CLIENTS_ALL_SCREENS);
  ASSERT_EQ(clients_screens(handles.data(), CLIENTS_ALL_SCREENS), 1);
  (void)request(client, "screen_del s");
  PanelRows rows{};
  EXPECT_EQ(clients_render(handles[0], 0, &rows), -1);
}

} // namespace
