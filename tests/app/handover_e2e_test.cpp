// lcm-show's hand-over, run for real through lcm-emu: to the lcm-panel that
// holds its port, by whatever path the port is named, and to nobody else.
#include <chrono>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "panel_session.h"

namespace {

// The socket in the test's folder; the panel and lcm-show find it there.
std::string share_in(const Scratch &scratch)
{
  std::string path = scratch.path + "/panel.sock";
  setenv("LCM_PANEL_SOCKET", path.c_str(), 1);
  return path;
}

// lcm-show runs beside the panel, in its emulator: the shell that becomes
// the panel first starts a loop that, once show.N.go appears in the folder,
// runs lcm-show on the lines in show.N.1 and show.N.2 (LCM_DEVICE from
// show.N.device) and leaves its standard error and status in show.N.err and
// show.N.status.
const char *const BESIDE_THE_PANEL = R"sh(dir=$1 show=$2
shift 2
(
  n=1
  while :; do
    while [ ! -e "$dir/show.$n.go" ]; do sleep 0.02; done
    LCM_DEVICE=$(cat "$dir/show.$n.device") "$show" "$(cat "$dir/show.$n.1")" "$(cat "$dir/show.$n.2")" \
      2>"$dir/show.$n.err"
    echo $? >"$dir/show.$n.tmp"
    mv "$dir/show.$n.tmp" "$dir/show.$n.status"
    n=$((n + 1))
  done
) </dev/null &
exec "$@")sh";

void launch_with_show(Session *run, const Scratch &scratch, const std::vector<std::string> &emulator_options,
                      const std::vector<std::string> &panel_arguments)
{
  std::vector<std::string> words = {"-c",         BESIDE_THE_PANEL, "sh",
                                    scratch.path, LCM_SHOW_PATH,    LCM_PANEL_PATH};
  words.insert(words.end(), panel_arguments.begin(), panel_arguments.end());
  launch(run, scratch.path, emulator_options, words, "/bin/sh");
}

struct Shown {
  int status = -1;
  std::string err;
};

// The next lcm-show beside the panel, and how it ended.
Shown show_beside(const Scratch &scratch, const std::string &line1, const std::string &line2,
                  const std::string &device = "")
{
  // Numbered as the loop beside this scratch folder's panel counts them.
  int shows = 1;
  while (access((scratch.path + "/show." + std::to_string(shows) + ".go").c_str(), F_OK) == 0)
    shows++;
  const std::string base = scratch.path + "/show." + std::to_string(shows);
  std::ofstream(base + ".1") << line1;
  std::ofstream(base + ".2") << line2;
  std::ofstream(base + ".device") << device;
  std::ofstream(base + ".go") << "";
  const auto deadline = std::chrono::steady_clock::now() + SESSION_PATIENCE;
  while (access((base + ".status").c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  Shown shown;
  const std::string status = read_file(base + ".status");
  EXPECT_FALSE(status.empty()) << "lcm-show did not end in time";
  shown.status = status.empty() ? -1 : std::stoi(status);
  shown.err = read_file(base + ".err");
  return shown;
}

TEST(HandOverE2e, LcmShowHandsItsLinesToTheRunningPanel)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  share_in(scratch);
  Session run;
  launch_with_show(&run, scratch, {"--press", "down@5000+200"}, {"--every", "60", "echo Page"});
  ASSERT_TRUE(
      collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'P' at row 0") >= 1; }));
  // The port is the panel's: lcm-show could only fail on its lock had it not
  // handed the lines over.
  const Shown first = show_beside(scratch, "Updating firmware now", "45%");
  EXPECT_EQ(first.status, 0) << first.err;
  const Shown second = show_beside(scratch, "Updating",
                                   "\x01"
                                   "90%\xfe");
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(first.err + second.err, "");
  // The press dismisses the lines as it would an alert.
  EXPECT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'P' at row 0") >= 2; }))
      << trace_tail(run.err);
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  Glass glass;
  EXPECT_EQ(drawn(run),
            PANEL_START +
                glass.show({{"Page", ""}, {"Updating firmwar", "45%"}, {"Updating", "?90%?"}, {"Page", ""}}));
}

// The panel still sends the lines, but cannot say they are shown.
TEST(HandOverE2e, LcmShowFailsWhenThePanelsModuleDoesNotAnswer)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  share_in(scratch);
  Session run;
  launch_with_show(&run, scratch, {"--silent"}, {"--every", "60", "echo Page"});
  ASSERT_TRUE(collect_until(&run, [](const Session &r) { return count_of(r.err, "does not answer") >= 1; }));
  const Shown shown = show_beside(scratch, "Backup", "failed");
  EXPECT_EQ(shown.status, 1);
  EXPECT_EQ(shown.err,
            "lcm-show: /dev/ttyS1: lcm-panel could not show the lines: The display module does not answer\n");
  finish(&run);
  EXPECT_EQ(run.out, box("Backup", "failed"));
}

// A link to the panel's port finds the panel; a plain file whose name ends
// like the port's, and a path the port's open refuses, do not: lcm-show
// refuses them as it would with no panel, and the glass stays as it was.
TEST(HandOverE2e, ThePanelIsFoundByTheDeviceNotByTheLastPartOfItsPath)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  share_in(scratch);
  const std::string link = scratch.path + "/lcd";
  ASSERT_EQ(symlink("/dev/ttyS1", link.c_str()), 0);
  ASSERT_EQ(mkdir((scratch.path + "/other").c_str(), 0755), 0);
  const std::string plain = scratch.path + "/other/ttyS1";
  std::ofstream(plain) << "not a port";
  const std::string long_folder = scratch.path + "/" + std::string(82 - scratch.path.size() - 7, 'x');
  ASSERT_EQ(mkdir(long_folder.c_str(), 0755), 0);
  const std::string eighty_two = long_folder + "/ttyS1";
  ASSERT_EQ(eighty_two.size(), 82U);
  ASSERT_EQ(symlink("/dev/ttyS1", eighty_two.c_str()), 0);

  Session run;
  launch_with_show(&run, scratch, {}, {"--every", "60", "echo Page"});
  ASSERT_TRUE(
      collect_until(&run, [](const Session &r) { return count_of(r.err, "text 'P' at row 0") >= 1; }));
  const Shown linked = show_beside(scratch, "Through", "a link", link);
  EXPECT_EQ(linked.status, 0) << linked.err;
  const Shown file = show_beside(scratch, "Not", "a port", plain);
  EXPECT_EQ(file.status, 1);
  EXPECT_EQ(file.err, plain + ": not a serial port\n");
  const Shown too_long = show_beside(scratch, "Too", "long", eighty_two);
  EXPECT_EQ(too_long.status, 1);
  EXPECT_EQ(too_long.err, eighty_two + ": the device path is longer than 79 bytes\n");
  finish(&run);
  EXPECT_EQ(run.status, 0) << panel_lines(run.err);
  Glass glass;
  EXPECT_EQ(drawn(run), PANEL_START + glass.show({{"Page", ""}, {"Through", "a link"}}));
}

// A program took the socket's path first and answers like a panel, but no
// program holds the port: lcm-show tells it nothing and drives the port
// itself, to the byte.
TEST(HandOverE2e, ProgramOnTheSocketThatDoesNotHoldThePortIsToldNothing)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  const std::string socket_path = share_in(scratch);
  const std::string record = scratch.path + "/told";
  Session run;
  launch(&run, scratch.path, {},
         {"-c",
          R"("$0" "$1" "$2" &
i=0
while [ ! -e "$2" ] && [ $i -lt 1500 ]; do sleep 0.02; i=$((i + 1)); done
exec "$3" Hello World)",
          SOCKET_SQUATTER_PATH, socket_path, record, LCM_SHOW_PATH},
         "/bin/sh");
  finish(&run, 0);
  EXPECT_EQ(run.status, 0) << trace_tail(run.err);
  EXPECT_EQ(panel_lines(run.err), "");
  EXPECT_EQ(hex(run.wire),
            hex(INIT_SEQUENCE + Bytes{0xFE, 0x06, 0xFE, 0x03, 0xFE, 0x0A, 0xFE, 0x09, 0x00, 0xFE, 0x0A} +
                text_bytes("Hello") + Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} + text_bytes("World")));
  EXPECT_EQ(run.out, box("Hello", "World"));
  EXPECT_EQ(read_file(record), "") << "the squatter was told the lines";
}

} // namespace
