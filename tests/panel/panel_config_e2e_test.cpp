// lcm-panel from a configuration file, run for real through lcm-emu: a
// reload on SIGHUP while a display client is connected, and --check-config.
#include <fstream>

#include "panel_client.h"
#include "panel_session.h"

namespace {

const std::string CONNECT = "connect LCDproc 0.5.9 protocol 0.3 lcd wid 16 hgt 2 cellwid 5 cellhgt 8\n";

void write_file(const std::string &path, const std::string &text)
{
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
}

// The panel itself, below lcm-emu: the emulator takes a second signal for
// a request to stop at once.
pid_t panel_below(pid_t emulator)
{
  for (const CommandProcess &process : processes_below(emulator)) {
    std::ifstream comm("/proc/" + std::to_string(process.pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name == "lcm-panel" && !process.zombie)
      return process.pid;
  }
  return -1;
}

bool traced(Session *run, const std::string &part)
{
  return collect_until(run, [&](const Session &r) { return r.err.find(part) != std::string::npos; });
}

// A file that does not check changes nothing; one that does takes effect
// at once (a new page in view, the ring turning after 5 s), while the
// client stays connected, its screen kept, and the glass is never cleared.
TEST(PanelConfigE2e, SighupRereadsTheFileWithoutABlink)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = scratch.file("panel.sock");
  setenv("LCM_PANEL_SOCKET", socket_path.c_str(), 1);
  const std::string config = scratch.file("lcm-panel.conf");
  write_file(config, "[panel]\nevery = 60\n\n[page]\ncommand = echo One\n");
  Session run;
  launch(&run, scratch.path, {}, {"--config", config});
  PanelClient client;
  ASSERT_TRUE(client_connect(&client, socket_path));
  client_send(client, {"hello", "screen_add s", "screen_set s -priority info", "widget_add s w string",
                       "widget_set s w 1 1 Client"});
  for (int reply = 0; reply < 4; reply++)
    ASSERT_TRUE(client_expect(&client, "success")) << client.seen;
  ASSERT_TRUE(traced(&run, "text 'O' at row 0")) << trace_tail(run.err);
  const pid_t panel = panel_below(run.pid);
  ASSERT_GT(panel, 0);

  write_file(config, "[page]\ncommand = echo Bad\nrotate = 1\n");
  ASSERT_EQ(kill(panel, SIGHUP), 0);
  EXPECT_TRUE(traced(&run, "the configuration in use stays")) << trace_tail(run.err);
  write_file(config, "[panel]\nevery = 60\nrotate = 5\n\n[page]\ncommand = echo Two\n");
  ASSERT_EQ(kill(panel, SIGHUP), 0);
  EXPECT_TRUE(traced(&run, "text 'T' at row 0")) << trace_tail(run.err);
  client_send(client, {"noop"});
  EXPECT_TRUE(client_expect(&client, "noop complete")) << client.seen;
  EXPECT_TRUE(client_expect(&client, "listen s")) << client.seen;
  EXPECT_TRUE(traced(&run, "text 'C' at row 0")) << trace_tail(run.err);
  finish(&run);

  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  EXPECT_EQ(client.seen, CONNECT + "success\nsuccess\nsuccess\nsuccess\nnoop complete\nlisten s\n");
  EXPECT_EQ(panel_lines(run.err),
            "lcm-panel: " + config +
                ":3: unknown setting 'rotate' in [page] (command, every, timeout); the configuration in use "
                "stays\n"
                "lcm-panel: reloaded: 1 page and 0 actions from " +
                config + "\n");
  Glass glass;
  EXPECT_EQ(drawn(run), PANEL_START + glass.show({{"One", ""}, {"Two", ""}, {"Client", ""}}));
  EXPECT_EQ(run.out, box("Client", ""));
}

// What lcm-emu draws of a module that got no byte.
const std::string UNTOUCHED_MODULE = box("", "") + "cursor row 0 column 0\n";

// Checked without the port: the settings as the panel would run them, or
// the line that is wrong and status 1.
TEST(PanelConfigE2e, CheckConfigPrintsTheShippedFileAndNamesAMistake)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  Session shipped;
  launch(&shipped, scratch.path, {}, {"--check-config", LCM_SHIPPED_CONFIG});
  finish(&shipped, 0);
  EXPECT_EQ(shipped.status, 0) << shipped.err;
  const std::string page_times = "every = 5\ntimeout = 2\n";
  EXPECT_EQ(shipped.out, "# lcm-panel would run with 3 pages and 0 actions.\n"
                         "[panel]\n" +
                             page_times +
                             "action-timeout = 60\nrotate = 0\nhold = 0\nrefresh = 60\n"
                             "display-off-after = 0\nexit-text = \"Panel stopped\"\nexit-text = \"\"\n"
                             "\n[page]\ncommand = hostname; hostname -I\n" +
                             page_times + "\n[page]\ncommand = uptime -p | cut -c4-; date +%H:%M\n" +
                             page_times + "\n[page]\ncommand = cat /run/panel-message 2>/dev/null\n" +
                             page_times + UNTOUCHED_MODULE);
  EXPECT_EQ(panel_lines(shipped.err), "");
  EXPECT_TRUE(shipped.wire.empty());

  const std::string config = scratch.file("wrong.conf");
  write_file(config, "[panel]\nrefresh = 60\n[action]\nlabel = Reboot\n");
  Session wrong;
  launch(&wrong, scratch.path, {}, {"--check-config", config, "echo page"});
  finish(&wrong, 0);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.out, UNTOUCHED_MODULE);
  EXPECT_EQ(panel_lines(wrong.err), "lcm-panel: " + config + ":3: this [action] has no command\n");
  EXPECT_TRUE(wrong.wire.empty());
}

} // namespace
