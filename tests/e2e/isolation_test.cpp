// What lcm-emu keeps apart: the machine's panel from the command, the
// command's written bytes from its own flushes, and each signal from the next.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <regex>
#include <string>
#include <poll.h>
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
  ASSERT_TRUE(collect_until(&run, [&](const EmulatorSession &r) { return std::regex_search(r.err, found, told); }))
      << run.err;
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
  EXPECT_NE(stat(path.substr(0, path.rfind("/lcm-panel/")).c_str(), &gone), 0) << "the folder was left behind";
}

// Each flush comes right after a write and its drain, as the next program's
// open comes after one that drained and closed: no byte may be lost to it.
TEST(FlushGuard, FlushRightAfterADrainLosesNoByte)
{
  SKIP_WITHOUT_NAMESPACES();
  constexpr int COUNT = 2000;
  const Scratch scratch;
  EmulatorSession run;
  const int status =
      run_to_end(&run, {LCM_EMU_PATH, "--wire", scratch.file("wire"), "--", FLUSH_PROBE_PATH, std::to_string(COUNT)});
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
  session_spawn(&run,
                {LCM_EMU_PATH, "--", "/bin/sh", "-c",
                 "trap 'echo hup' HUP; trap 'echo term; exit 3' TERM; echo ready; "
                 "while :; do sleep 0.05; done"},
                false);
  ASSERT_TRUE(collect_until(&run, [](const EmulatorSession &r) { return r.out.find("ready\n") != std::string::npos; }));
  kill(run.pid, SIGHUP);
  ASSERT_TRUE(collect_until(&run, [](const EmulatorSession &r) { return r.out.find("hup\n") != std::string::npos; }))
      << run.out;
  kill(run.pid, SIGTERM);
  EXPECT_EQ(wait_for_exit(&run), 3) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find('+')), "ready\nhup\nterm\n");
}

} // namespace
