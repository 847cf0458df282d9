// lcm-panel serving display clients, run for real through lcm-emu: a client
// talks to it on its Unix socket while scheduled presses turn the ring; the
// exact bytes on the wire, the client's replies and events (lcm-show's
// hand-over is tested with lcm-show's own tests).
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>

#include "panel_client.h"
#include "panel_session.h"

namespace {

std::string times(const std::string &line, int count)
{
  std::string lines;
  for (int i = 0; i < count; i++)
    lines += line + "\n";
  return lines;
}

// At the end the client goes without a word, and its screen with it.
TEST(PanelClientsE2e, ClientScreenJoinsTheRingAnAlertGoesInFrontAndADisconnectTakesThemAway)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  Session run;
  launch(&run, scratch.path, {"--press", "down@2500+200", "--press", "down@6500+200"},
         {"--every", "60", "echo Page"});
  PanelClient client;
  ASSERT_TRUE(client_connect(&client, socket_path));
  client_send(client, {"hello", "client_set -name test", "screen_add s", "screen_set s -priority info",
                       "widget_add s w string", "widget_set s w 2 2 {Hello client}"});
  // The first press turns the ring from the page to the client's screen.
  EXPECT_TRUE(client_expect(&client, "listen s")) << client.seen;
  client_send(client, {"screen_add a", "screen_set a -priority alert", "widget_add a w string",
                       R"(widget_set a w 1 1 "ALERT \"1\"")"});
  EXPECT_TRUE(client_expect(&client, "listen a")) << client.seen;
  // The second press dismisses the alert and does nothing else.
  EXPECT_TRUE(client_expect(&client, "listen s")) << client.seen;
  EXPECT_EQ(client.seen, CONNECT + times("success", 5) + "listen s\n" + times("success", 4) +
                             "ignore s\nlisten a\nignore a\nlisten s\n");
  close(client.fd);
  client.fd = -1;
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'P' at row 0") >= 2; }))
      << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  Glass glass;
  EXPECT_EQ(drawn(run), PANEL_START + glass.show({{"Page", ""},
                                                  {"", " Hello client"},
                                                  {"ALERT \"1\"", ""},
                                                  {"", " Hello client"},
                                                  {"Page", ""}}));
  EXPECT_EQ(run.out, box("Page", ""));
}

TEST(PanelClientsE2e, ReservedKeyGoesToItsClientAndDoesNotPage)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  Session run;
  launch(&run, scratch.path, {"--press", "up@2500+200", "--press", "down@4500+200"},
         {"--every", "60", "echo Page", "echo Two", "echo Three"});
  PanelClient client;
  ASSERT_TRUE(client_connect(&client, socket_path));
  // Up for this client alone; Down shared, so it pages while none of the
  // client's screens is in view.
  client_send(client, {"hello", "client_add_key -exclusively Up", "client_add_key Down"});
  EXPECT_TRUE(client_expect(&client, "key Up")) << client.seen;
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'T' at row 0") >= 1; }))
      << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  EXPECT_EQ(client.seen, CONNECT + "success\nsuccess\nkey Up\n");
  Glass glass;
  EXPECT_EQ(drawn(run), PANEL_START + glass.show({{"Page", ""}, {"Two", ""}}));
}

// One client floods requests and never reads a reply, another trickles a
// line that never ends: the presses, held 200 ms each while both go on,
// still page. A panel that waited on either would miss them.
TEST(PanelClientsE2e, StalledClientsDoNotDelayAPress)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  Session run;
  launch(&run, scratch.path, {"--press", "down@2000+200", "--press", "down@3500+200"},
         {"--every", "60", "echo One", "echo Two", "echo Three"});
  PanelClient flood;
  PanelClient trickle;
  ASSERT_TRUE(client_connect(&flood, socket_path));
  ASSERT_TRUE(client_connect(&trickle, socket_path));
  std::atomic<bool> done{false};
  std::thread flooding([&] {
    const std::string noops = times("noop", 200);
    while (!done) {
      const ssize_t sent = send(flood.fd, noops.data(), noops.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      // Anything but a full buffer: the panel has dropped this client.
      if (sent < 0 && errno != EAGAIN)
        return;
      if (sent < 0)
        usleep(1000);
    }
  });
  std::thread trickling([&] {
    for (const char byte : std::string("widget_set s w 1 1 never ending ") + std::string(200, 'x')) {
      if (done || send(trickle.fd, &byte, 1, MSG_NOSIGNAL) != 1)
        return;
      usleep(50000);
    }
  });
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'h' at row 0") >= 1; }))
      << trace_tail(run.err);
  done = true;
  flooding.join();
  trickling.join();
  finish(&run);
  EXPECT_EQ(run.status, 0);
  Glass glass;
  EXPECT_EQ(drawn(run), PANEL_START + glass.show({{"One", ""}, {"Two", ""}, {"Three", ""}}));
  EXPECT_EQ(panel_lines(run.err), "lcm-panel: display client 1 does not read its replies; dropped\n");
}

// With --rotate the ring turns by itself: the page for a second, the
// client's screen for the two seconds of its own -duration (in eighths).
TEST(PanelClientsE2e, RotateTurnsTheRingAndAScreensDurationWins)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  Session run;
  launch(&run, scratch.path, {}, {"--every", "60", "--rotate", "1", "echo Page"});
  PanelClient client;
  ASSERT_TRUE(client_connect(&client, socket_path));
  client_send(client, {"hello", "screen_add s", "screen_set s -duration 16", "widget_add s w string",
                       "widget_set s w 1 1 Client"});
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'C' at row 0") >= 2; }))
      << trace_tail(run.err);
  EXPECT_TRUE(client_expect(&client, "listen s")) << client.seen;
  EXPECT_TRUE(client_expect(&client, "listen s")) << client.seen;
  EXPECT_EQ(client.seen, CONNECT + times("success", 4) + "listen s\nignore s\nlisten s\n");
  finish(&run);
  const std::vector<long> client_shown = times_of(run.err, "text 'C' at row 0");
  const std::vector<long> page_shown = times_of(run.err, "text 'P' at row 0");
  ASSERT_GE(page_shown.size(), 2U);
  ASSERT_GE(client_shown.size(), 2U);
  // Never sooner than asked; later only by what a busy machine adds.
  EXPECT_GE(page_shown[1] - client_shown[0], 1900);
  EXPECT_GE(client_shown[1] - page_shown[1], 900);
}

// An alert comes in front of the open action menu; the press that dismisses
// it leaves the menu as it was.
TEST(PanelClientsE2e, AlertGoesInFrontOfTheActionMenu)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  Session run;
  launch(&run, scratch.path, {"--press", "right@2000+200", "--press", "right@8000+200"},
         {"--every", "60", "--action", "Reboot", "true", "echo Page"});
  PanelClient client;
  ASSERT_TRUE(client_connect(&client, socket_path));
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text '>' at row 0") >= 1; }))
      << trace_tail(run.err);
  client_send(client, {"hello", "screen_add a", "screen_set a -priority alert", "widget_add a w string",
                       "widget_set a w 1 2 {Disk full}"});
  EXPECT_TRUE(client_expect(&client, "ignore a")) << client.seen;
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text '>' at row 0") >= 2; }))
      << trace_tail(run.err);
  finish(&run);
  Glass glass;
  EXPECT_EQ(drawn(run),
            PANEL_START + glass.show({{"Page", ""}, {">Reboot", ""}, {"", "Disk full"}, {">Reboot", ""}}));
}

// A module that never answers keeps the panel a second or two in every
// query, yet the client's requests, one after the other, are answered at
// once, and SIGTERM ends the panel without waiting on the module, its exit
// text drawn. The bounds are far above what this takes and far below what
// waiting on the module would (about 2 s a request, 7 s for the stop).
TEST(PanelClientsE2e, ASilentModuleHoldsUpNeitherTheClientsNorTheStop)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  Session run;
  launch(&run, scratch.path, {"--silent"}, {"--every", "60", "--exit-text", "Bye", "now", "echo Page"});
  PanelClient client;
  ASSERT_TRUE(client_connect(&client, socket_path));
  EXPECT_TRUE(collect_until(&run, [](const Session &r) {
    return r.err.find("does not answer") != std::string::npos;
  })) << run.err;
  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"hello", CONNECT.substr(0, CONNECT.size() - 1)},
      {"client_set -name silent", "success"},
      {"screen_add s", "success"},
      {"widget_add s w string", "success"},
      {"widget_set s w 1 1 {Still here}", "success"},
      {"noop", "noop complete"}};
  for (const auto &[request, reply] : requests) {
    client_send(client, {request});
    EXPECT_TRUE(client_expect(&client, reply)) << client.seen;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  const auto stop = std::chrono::steady_clock::now();
  finish(&run);
  EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(4));
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  EXPECT_EQ(run.out, box("Bye", "now"));
}

// An alert that asks for the cursor on its third cell of row 2 and for the
// light off: both reach the module while it is in view, and go back to the
// cursor hidden and the display on when the press dismisses it.
TEST(PanelClientsE2e, ClientsCursorAndLightReachTheModuleWhileInView)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  Session run;
  launch(&run, scratch.path, {"--press", "down@4000+200"}, {"--every", "60", "echo Page"});
  PanelClient client;
  ASSERT_TRUE(client_connect(&client, socket_path));
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'P' at row 0") >= 1; }))
      << trace_tail(run.err);
  client_send(client, {"hello", "screen_add a", "widget_add a w string", "widget_set a w 1 1 Hi",
                       "screen_set a -priority alert -cursor on -cursor_x 3 -cursor_y 2 -backlight off"});
  EXPECT_TRUE(client_expect(&client, "ignore a")) << client.seen;
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'P' at row 0") >= 2; }))
      << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  Glass glass;
  const Bytes page = glass.show({{"Page", ""}});
  const Bytes alert = glass.show({{"Hi", ""}});
  const Bytes back = glass.show({{"Page", ""}});
  EXPECT_EQ(hex(drawn(run)),
            hex(PANEL_START + page + alert + Bytes{0xFE, 0x09, 0x42, 0xFE, 0x05, 0xFE, 0x02} +
                Bytes{0xFE, 0x06} + back + Bytes{0xFE, 0x01}));
}

} // namespace
