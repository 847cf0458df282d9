// lcm-show's main against the stand-in serial link: what it sends, prints
// and exits with. Each run needs a driver of its own, so each runs in a child.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../lcm/bytes.h"
#include "fake_port.h"
#include "fresh_process.h"

int lcm_show_main(int argc, char **argv);

namespace {

struct ShowRun {
  int status;
  std::string out;
  std::string err;
};

ShowRun run_show(std::vector<std::string> arguments)
{
  std::vector<char *> argv;
  for (std::string &a : arguments)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = lcm_show_main(static_cast<int>(arguments.size()), argv.data());
  const std::string out = testing::internal::GetCapturedStdout();
  return ShowRun{status, out, testing::internal::GetCapturedStderr()};
}

const Bytes HELLO_WORLD_HEAD =
    INIT_SEQUENCE + Bytes{0xFE, 0x06, 0xFE, 0x03, 0xFE, 0x0A, 0xFE, 0x09, 0x00, 0xFE, 0x0A};

TEST(LcmShow, HelloWorldStream)
{
  in_fresh_process([] {
    fake_queue_replies({0x33, 0x00, 0x40});
    const ShowRun run = run_show({"lcm-show", "Hello", "World"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(fake_sent(), (HELLO_WORLD_HEAD + text_bytes("Hello") + Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} +
                            text_bytes("World")));
    const std::string traffic = fake_traffic();
    EXPECT_EQ(traffic.substr(traffic.size() - 11), "6C 64 drain") << "exit 0 only after the drain";
  });
}

TEST(LcmShow, BytesThatDidNotLeaveTheHostAreAFailure)
{
  const std::pair<int, std::string> cases[] = {{ETIMEDOUT, "still queued after a second"},
                                               {EIO, "the line hung up"}};
  for (const auto &drain_case : cases) {
    in_fresh_process([&] {
      const auto &[error, reason] = drain_case;
      fake_queue_replies({0x33, 0x00, 0x40});
      fake_fail_drain(error);
      const ShowRun run = run_show({"lcm-show", "Hello", "World"});
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "lcm-show: /dev/ttyS1: the bytes were not sent (" + reason + ")\n");
    });
  }
}

TEST(LcmShow, LinesAreCutToSixteenBytes)
{
  in_fresh_process([] {
    // The second line starts with a two-byte character straddling byte 16.
    fake_queue_replies({0x00, 0x00, 0x40});
    const ShowRun run = run_show({"lcm-show", "ABCDEFGHIJKLMNOPQRS", "0123456789abcde\xC3\xA9"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(fake_sent(), (HELLO_WORLD_HEAD + text_bytes("ABCDEFGHIJKLMNOP") +
                            Bytes{0xFE, 0x09, 0x0F, 0xFE, 0x09, 0x40, 0xFE, 0x0A} +
                            text_bytes("0123456789abcde\xC3") + Bytes{0xFE, 0x09, 0x4F}));
  });
}

TEST(LcmShow, EmptyFirstLineStillQueriesAndWritesTheSecond)
{
  in_fresh_process([] {
    fake_queue_replies({0x00, 0x00, 0x40});
    const ShowRun run = run_show({"lcm-show", "", "-x"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(fake_sent(), (HELLO_WORLD_HEAD + Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} + text_bytes("-x")));
  });
}

TEST(LcmShow, WrongArgumentCountPrintsUsageAndTouchesNoPort)
{
  const std::vector<std::vector<std::string>> cases = {{"lcm-show"},
                                                       {"lcm-show", "one"},
                                                       {"lcm-show", "-h"},
                                                       {"lcm-show", "--help=1"},
                                                       {"./lcm-show", "a", "b", "c"},
                                                       {std::string(236, 'p')}};
  for (const auto &arguments : cases) {
    in_fresh_process([&] {
      const ShowRun run = run_show(arguments);
      EXPECT_EQ(run.out, "usage: " + arguments[0] + " Line1 Line2\n");
      EXPECT_EQ(run.status, 2) << "whatever the length of the program name";
      EXPECT_EQ(fake_open_count(), 0);
    });
  }
}

TEST(LcmShow, HelpAndVersionAloneAnswerAndTouchNoPortButAsTwoLinesAreText)
{
  in_fresh_process([] {
    const ShowRun help = run_show({"lcm-show", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: lcm-show Line1 Line2\n", 0), 0U) << help.out;
    const ShowRun version = run_show({"lcm-show", "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("lcm-show ") + LCM_VERSION + "\n");
    EXPECT_EQ(help.err + version.err, "");
    EXPECT_EQ(fake_open_count(), 0);
  });
  in_fresh_process([] {
    fake_queue_replies({0x00, 0x00, 0x40});
    const ShowRun run = run_show({"lcm-show", "--help", "x"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(fake_sent(), (HELLO_WORLD_HEAD + text_bytes("--help") + Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} +
                            text_bytes("x")));
  });
}

TEST(LcmShow, NoArgumentVectorAtAll)
{
  in_fresh_process([] {
    char *argv[] = {nullptr};
    testing::internal::CaptureStdout();
    EXPECT_EQ(lcm_show_main(0, argv), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "usage: lcm-show Line1 Line2\n");
  });
}

TEST(LcmShow, SilentModuleIsAFailureButTheTextIsShown)
{
  in_fresh_process([] {
    const ShowRun run = run_show({"lcm-show", "Hello", "World"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "lcm-show: /dev/ttyS1: the display module did not answer\n");
    EXPECT_EQ(fake_sent(), (HELLO_WORLD_HEAD + text_bytes("Hello") + Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} +
                            text_bytes("World")));
  });
}

// One reply with a low bit flipped: the home move is answered 0x08 instead of
// 0x00, or the move to row 1 is answered 0x00. Neither row is cut to fit it;
// the run says so and fails.
TEST(LcmShow, ReplyContradictingThePositionJustSetCutsNoRow)
{
  const std::string nineteen = "ABCDEFGHIJKLMNOPQRS";
  const Bytes sixteen = text_bytes(nineteen.substr(0, 16));
  struct Case {
    Bytes replies;
    std::string line1;
    std::string line2;
    Bytes row0;
    Bytes row1;
  };
  const Case cases[] = {{{0x33, 0x08, 0x40}, nineteen, "World", sixteen, text_bytes("World")},
                        {{0x33, 0x00, 0x00}, "Hello", nineteen, text_bytes("Hello"), sixteen}};
  for (const Case &c : cases) {
    in_fresh_process([&c] {
      for (const unsigned char reply : c.replies)
        fake_queue_replies({reply});
      const ShowRun run = run_show({"lcm-show", c.line1, c.line2});
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "lcm-show: /dev/ttyS1: the display module's reply was not a position\n");
      EXPECT_EQ(fake_sent(), (HELLO_WORLD_HEAD + c.row0 + Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} + c.row1));
    });
  }
}

TEST(LcmShow, UnopenedPortIsAFailureWithoutASecondMessage)
{
  in_fresh_process([] {
    fake_fail_open(true);
    const ShowRun run = run_show({"lcm-show", "Hello", "World"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "") << "the link's own perror line is the message";
    EXPECT_TRUE(fake_sent().empty());
  });
}

TEST(LcmShow, WriteFailureEndsTheRun)
{
  in_fresh_process([] {
    fake_fail_writes(EIO);
    const ShowRun run = run_show({"lcm-show", "Hello", "World"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lcm-show: /dev/ttyS1: the line hung up (Input/output error)\n");
    EXPECT_EQ(fake_read_count(), 0) << "the run stops at the first failed write";
  });
}

// Listens on the socket lcm-show looks for and answers one connection as
// a panel would, with the given answer; keeps what it was sent. Its end
// stops a wait for a connection that never came.
struct SocketListener {
  int fd = -1;
  int wake[2] = {-1, -1};
  std::string received;
  std::thread thread;

  explicit SocketListener(const std::string &answer)
  {
    const char *path = getenv("LCM_PANEL_SOCKET");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    unlink(path);
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    EXPECT_EQ(listen(fd, 4), 0);
    EXPECT_EQ(pipe2(wake, O_CLOEXEC), 0);
    thread = std::thread([this, answer] { serve(answer); });
  }

  ~SocketListener()
  {
    EXPECT_EQ(write(wake[1], "x", 1), 1);
    thread.join();
    close(wake[0]);
    close(wake[1]);
    close(fd);
    unlink(getenv("LCM_PANEL_SOCKET"));
  }

  SocketListener(const SocketListener &) = delete;
  SocketListener &operator=(const SocketListener &) = delete;

  // The answer goes once the three request lines are in; then the
  // connection is kept until lcm-show lets it go.
  void serve(const std::string &answer)
  {
    pollfd waiting[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
    if (poll(waiting, 2, 20000) < 1 || waiting[0].revents == 0)
      return;
    const int client = accept(fd, nullptr, nullptr);
    bool answered = false;
    for (;;) {
      pollfd readable{client, POLLIN, 0};
      if (poll(&readable, 1, 20000) != 1)
        break;
      char buffer[256];
      const ssize_t count = read(client, buffer, sizeof buffer);
      if (count <= 0)
        break;
      received.append(buffer, static_cast<size_t>(count));
      if (!answered && std::count(received.begin(), received.end(), '\n') == 3) {
        answered = true;
        EXPECT_EQ(write(client, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
      }
    }
    close(client);
  }
};

const std::string PANEL_ANSWER =
    "connect LCDproc 0.5.9 protocol 0.3 lcd wid 16 hgt 2 cellwid 5 cellhgt 8\nsuccess\nsuccess\n";
const std::string HELLO_WORLD_REQUEST = "hello\nclient_set -name lcm-show\nlcm_show \"Hello\" \"World\"\n";

const Bytes HELLO_WORLD_STREAM =
    HELLO_WORLD_HEAD + text_bytes("Hello") + Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} + text_bytes("World");

// The lines go to the program listening on the socket only when it holds the
// port: one that took the path first is told nothing, and lcm-show drives the
// port itself, as with no panel at all.
TEST(LcmShow, HandsOverOnlyToTheProgramHoldingThePort)
{
  in_fresh_process([] {
    fake_set_holder(getpid());
    const SocketListener panel(PANEL_ANSWER);
    const ShowRun run = run_show({"lcm-show", "Hello", "World"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(fake_open_count(), 0) << "the port is the panel's";
    EXPECT_EQ(fake_holder_paths(), std::vector<std::string>{"/dev/ttyS1"});
    EXPECT_EQ(panel.received, HELLO_WORLD_REQUEST);
  });
  for (const long other_holder : {1L, 0L, -1L}) {
    in_fresh_process([other_holder] {
      fake_set_holder(other_holder);
      fake_queue_replies({0x33, 0x00, 0x40});
      const SocketListener squatter(PANEL_ANSWER);
      const ShowRun run = run_show({"lcm-show", "Hello", "World"});
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(fake_sent(), HELLO_WORLD_STREAM);
      EXPECT_EQ(squatter.received, "") << "nothing is told to a program that does not hold the port";
    });
  }
}

// A killed panel leaves its socket file behind, and nothing answers there
// (connection refused): lcm-show drives the port itself, to the byte.
TEST(LcmShow, SocketNobodyAnswersOnIsNoPanel)
{
  in_fresh_process([] {
    const char *path = getenv("LCM_PANEL_SOCKET");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    unlink(path);
    const int left = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(left, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(left, 1), 0);
    close(left);
    // Someone holds the port, so the socket is tried.
    fake_set_holder(getpid());
    fake_queue_replies({0x33, 0x00, 0x40});
    const ShowRun run = run_show({"lcm-show", "Hello", "World"});
    unlink(path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(fake_sent(), HELLO_WORLD_STREAM);
  });
}

// What the panel says goes to the terminal as plain text on one line: its
// control bytes as '?'; an answer too long to be one is named as such.
TEST(LcmShow, PanelsReasonIsPrintedHarmlessly)
{
  const std::pair<std::string, std::string> cases[] = {
      {"connect x\nhuh? \x1b]0;owned\x07\x1b[2J\rgone\x9b\n", "?]0;owned??[2J?gone?"},
      {"connect x\n" + std::string(3000, 'y'), "lcm-panel answered with a line too long to be an answer"},
      {"connect x\nhuh? " + std::string(600, 'z') + "\n", std::string(255, 'z')}};
  for (const auto &answer_and_reason : cases) {
    in_fresh_process([&] {
      fake_set_holder(getpid());
      const SocketListener panel(answer_and_reason.first);
      const ShowRun run = run_show({"lcm-show", "Hello", "World"});
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "lcm-show: /dev/ttyS1: lcm-panel could not show the lines: " +
                             answer_and_reason.second + "\n");
      EXPECT_EQ(fake_open_count(), 0);
    });
  }
}

} // namespace
