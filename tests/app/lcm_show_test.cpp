// lcm-show's main against the stand-in serial link: what it sends, prints
// and exits with. Each run needs a driver of its own, so each runs in a child.
#include <cerrno>
#include <gtest/gtest.h>
#include <string>
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
  const Bytes nineteen = text_bytes("ABCDEFGHIJKLMNOPQRS");
  const Bytes sixteen(nineteen.begin(), nineteen.begin() + 16);
  in_fresh_process([&] {
    fake_queue_replies({0x33, 0x08, 0x40});
    const ShowRun run = run_show({"lcm-show", "ABCDEFGHIJKLMNOPQRS", "World"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lcm-show: /dev/ttyS1: the display module's reply was not a position\n");
    EXPECT_EQ(fake_sent(),
              (HELLO_WORLD_HEAD + sixteen + Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} + text_bytes("World")));
  });
  in_fresh_process([&] {
    fake_queue_replies({0x33, 0x00, 0x00});
    const ShowRun run = run_show({"lcm-show", "Hello", "ABCDEFGHIJKLMNOPQRS"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lcm-show: /dev/ttyS1: the display module's reply was not a position\n");
    EXPECT_EQ(fake_sent(),
              (HELLO_WORLD_HEAD + text_bytes("Hello") + Bytes{0xFE, 0x09, 0x40, 0xFE, 0x0A} + sixteen));
  });
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

} // namespace
