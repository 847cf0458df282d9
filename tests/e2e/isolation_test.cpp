// What lcm-emu keeps apart: the machine's panel from the command, the
// command's written bytes from its own flushes, each signal from the next,
// and on a terminal each --live drawing from the one before.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <termios.h>
#include <cstdlib>
#include <regex>
#include <string>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "emulator_session.h"
#include "needs_namespaces.h"

namespace {

// The default socket path is what is under test: the one the test process
// was given is set aside while it runs.
struct NoChosenSocket {
  std::string chosen;
  NoChosenSocket()
  {
    const char *value = getenv("LCM_PANEL_SOCKET");
    chosen = value != nullptr ? value : "";
    unsetenv("LCM_PANEL_SOCKET");
  }
  ~NoChosenSocket()
  {
    if (!chosen.empty())
      setenv("LCM_PANEL_SOCKET", chosen.c_str(), 1);
  }
  NoChosenSocket(const NoChosenSocket &) = delete;
  NoChosenSocket &operator=(const NoChosenSocket &) = delete;
};

int run_to_end(EmulatorSession *session, const std::vector<std::string> &words)
{
  session_spawn(session, words, false);
  return wait_for_exit(session);
}

// A machine whose /run has a panel's socket for ttyS1 (one that takes any
// client's lines and answers as a panel does), made in a mount namespace of
// the test's own; lcm-show under lcm-emu must draw on the emulated module.
TEST(PrivateRun, CommandNeverReachesAPanelOutside)
{
  SKIP_WITHOUT_NAMESPACES();
  const NoChosenSocket unchosen;
  const Scratch scratch;
  const std::string record = scratch.file("record");
  const std::string script = R"(mount -t tmpfs machine /run && mkdir /run/lcm-panel || exit 99
"$0" /run/lcm-panel/ttyS1.sock "$1" & squatter=$!
tries=0; while [ ! -e "$1" ] && [ $tries -lt 600 ]; do sleep 0.05; tries=$((tries+1)); done
"$2" -- "$3" Cross Talk; status=$?
kill $squatter; exit $status)";
  EmulatorSession run;
  const int status =
      run_to_end(&run, {"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "/bin/sh", "-c", script,
                        SOCKET_SQUATTER_PATH, record, LCM_EMU_PATH, LCM_SHOW_PATH});
  if (status == 99 || run.err.rfind("unshare: ", 0) == 0)
    GTEST_SKIP() << "no mount namespace of the test's own: " << run.err;
  EXPECT_EQ(status, 0) << run.err;
  EXPECT_EQ(run.out, box("Cross", "Talk"));
  EXPECT_EQ(read_file(record), "") << "the machine's panel was told the lines";
}

// A panel under lcm-emu takes the emulator's folder, says where, and is
// reached there from outside; the folder goes when the run ends.
TEST(PrivateRun, PanelUnderTheEmulatorIsToldAndReachedFromOutside)
{
  SKIP_WITHOUT_NAMESPACES();
  const NoChosenSocket unchosen;
  EmulatorSession run;
  session_spawn(&run, {LCM_EMU_PATH, "--", LCM_PANEL_PATH, "echo hello"}, false);
  const std::regex told("lcm-emu: the panel's socket is (/[^\n]*/lcm-panel/ttyS1\\.sock)\n");
  std::smatch found;
  ASSERT_TRUE(collect_until(&run, [&](const EmulatorSession &r) {
    return std::regex_search(r.err, found, told);
  })) << run.err;
  const std::string path = found[1];
  EXPECT_NE(path.rfind("/run/", 0), 0U) << path;
  // The socket is made before the panel listens on it.
  int client = -1;
  for (int attempt = 0; attempt < 300 && client < 0; attempt++) {
    client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (connect(client, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0) {
      close(client);
      client = -1;
      usleep(100000);
    }
  }
  ASSERT_GE(client, 0) << path;
  const std::string hello = "hello\n";
  ASSERT_EQ(write(client, hello.data(), hello.size()), static_cast<ssize_t>(hello.size()));
  std::string reply;
  char buffer[256];
  pollfd ready{client, POLLIN, 0};
  while (reply.find('\n') == std::string::npos && poll(&ready, 1, 30000) > 0) {
    const ssize_t count = read(client, buffer, sizeof buffer);
    if (count <= 0)
      break;
    reply.append(buffer, static_cast<size_t>(count));
  }
  close(client);
  EXPECT_EQ(reply.rfind("connect LCDproc", 0), 0U) << reply;
  kill(run.pid, SIGTERM);
  EXPECT_EQ(wait_for_exit(&run), 0) << run.err;
  struct stat gone {};
  EXPECT_NE(stat(path.substr(0, path.rfind("/lcm-panel/")).c_str(), &gone), 0)
      << "the folder was left behind";
}

// Each flush comes right after a write and its drain, as the next program's
// open comes after one that drained and closed: no byte may be lost to it.
TEST(FlushGuard, FlushRightAfterADrainLosesNoByte)
{
  SKIP_WITHOUT_NAMESPACES();
  constexpr int COUNT = 2000;
  const Scratch scratch;
  EmulatorSession run;
  const int status = run_to_end(
      &run, {LCM_EMU_PATH, "--wire", scratch.file("wire"), "--", FLUSH_PROBE_PATH, std::to_string(COUNT)});
  EXPECT_EQ(status, 0) << run.err;
  std::string expected;
  for (int i = 0; i < COUNT; i++)
    expected += static_cast<char>('A' + i % 26);
  const std::string wire = read_file(scratch.file("wire"));
  EXPECT_EQ(wire.size(), expected.size());
  EXPECT_EQ(wire, expected);
}

// SIGHUP (a panel's reload) and then SIGTERM reach the command one each, in
// order: the second is no reason to kill it.
TEST(EmulatorSignals, HangUpThenTermreachTheCommandAsTheyCame)
{
  SKIP_WITHOUT_NAMESPACES();
  EmulatorSession run;
  const char *script = "trap 'echo hup' HUP; trap 'echo term; exit 3' TERM; echo ready; "
                       "while :; do sleep 0.05; done";
  session_spawn(&run, {LCM_EMU_PATH, "--", "/bin/sh", "-c", script}, false);
  ASSERT_TRUE(collect_until(
      &run, [](const EmulatorSession &r) { return r.out.find("ready\n") != std::string::npos; }));
  kill(run.pid, SIGHUP);
  ASSERT_TRUE(collect_until(&run, [](const EmulatorSession &r) {
    return r.out.find("hup\n") != std::string::npos;
  })) << run.out;
  kill(run.pid, SIGTERM);
  EXPECT_EQ(wait_for_exit(&run), 3) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find('+')), "ready\nhup\nterm\n");
}

// Standard output on a terminal: the first drawing as it is, every later
// one drawn over the one before (cursor up its four lines, the rest
// cleared), never the same screen twice in a row, and the last one the end.
TEST(LiveDrawing, RedrawsInPlaceOnATerminalOnlyWhenTheScreenChanged)
{
  SKIP_WITHOUT_NAMESPACES();
  int terminal = -1;
  int terminal_slave = -1;
  ASSERT_EQ(openpty(&terminal, &terminal_slave, nullptr, nullptr, nullptr), 0);
  termios settings{};
  tcgetattr(terminal_slave, &settings);
  cfmakeraw(&settings);
  tcsetattr(terminal_slave, TCSANOW, &settings);
  const std::string script =
      R"("$0" Hello World && sleep 0.3 && "$0" Hello World && sleep 0.3 && "$0" Bye now)";
  fflush(nullptr);
  const pid_t emulator = fork();
  ASSERT_GE(emulator, 0);
  if (emulator == 0) {
    const int null = open("/dev/null", O_RDWR);
    if (null < 0 || dup2(null, 0) < 0 || dup2(terminal_slave, 1) < 0 || dup2(null, 2) < 0)
      _exit(99);
    execl(LCM_EMU_PATH, LCM_EMU_PATH, "--live", "--", "/bin/sh", "-c", script.c_str(), LCM_SHOW_PATH,
          static_cast<char *>(nullptr));
    _exit(97);
  }
  close(terminal_slave);
  std::string out;
  char buffer[4096];
  pollfd ready{terminal, POLLIN, 0};
  // The terminal reports EIO once the emulator, its last holder, ended.
  while (poll(&ready, 1, 60000) > 0) {
    const ssize_t count = read(terminal, buffer, sizeof buffer);
    if (count <= 0)
      break;
    out.append(buffer, static_cast<size_t>(count));
  }
  close(terminal);
  int status = 0;
  waitpid(emulator, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // Each drawing but the first starts by going up the lines of the one before.
  const std::regex over("\033\\[([0-9]+)A\r\033\\[J");
  std::vector<std::string> drawings;
  std::vector<long> ups;
  size_t at = 0;
  for (std::sregex_iterator found(out.begin(), out.end(), over), end; found != end; ++found) {
    drawings.push_back(out.substr(at, static_cast<size_t>(found->position()) - at));
    ups.push_back(strtol((*found)[1].str().c_str(), nullptr, 10));
    at = static_cast<size_t>(found->position() + found->length());
  }
  drawings.push_back(out.substr(at));
  ASSERT_GE(drawings.size(), 2U) << out;
  for (size_t i = 0; i < drawings.size(); i++) {
    EXPECT_EQ(drawings[i].rfind("+----------------+\n", 0), 0U) << "drawing " << i << ": " << drawings[i];
    if (i == 0)
      continue;
    EXPECT_EQ(ups[i - 1], std::count(drawings[i - 1].begin(), drawings[i - 1].end(), '\n')) << i;
    EXPECT_NE(drawings[i], drawings[i - 1]) << "drawing " << i << " repeats the one before";
  }
  EXPECT_EQ(drawings.back(), box("Bye", "now"));
  EXPECT_NE(std::find(drawings.begin(), drawings.end(), box("Hello", "World")), drawings.end()) << out;
}

} // namespace
