// lcm-emu playing the module on a line it is given (--line), with the test
// as the host on the other end, and the emulator's faults and exit statuses
// that such a line shows exactly.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "bytes.h"
#include "emulator_session.h"
#include "needs_namespaces.h"

namespace {

using std::chrono::steady_clock;

const std::string READY = "lcm-emu: the module is on ";

// The host's end of the line: where the test writes the host's bytes and
// reads the module's replies.
struct HostEnd {
  int send = -1;
  int receive = -1;
  std::string line_path; // what lcm-emu is given with --line
};

void close_host(HostEnd *host)
{
  if (host->receive != host->send)
    close(host->receive);
  close(host->send);
  host->send = host->receive = -1;
}

// A pseudo-terminal pair: the emulator serves the slave as a serial device.
HostEnd pseudo_terminal_host()
{
  HostEnd host;
  host.send = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (host.send < 0 || grantpt(host.send) < 0 || unlockpt(host.send) < 0)
    return host;
  host.receive = host.send;
  host.line_path = ptsname(host.send);
  return host;
}

// The pair of named pipes a virtual machine offers: the host side opens
// both for reading and writing, as the machine does.
HostEnd named_pipes_host(const Scratch &scratch)
{
  HostEnd host;
  host.line_path = scratch.file("line");
  if (mkfifo(scratch.file("line.in").c_str(), 0600) < 0 || mkfifo(scratch.file("line.out").c_str(), 0600) < 0)
    return host;
  host.send = open(scratch.file("line.out").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  host.receive = open(scratch.file("line.in").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return host;
}

void send(const HostEnd &host, const Bytes &bytes)
{
  ASSERT_EQ(write(host.send, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Replies as they come, until count arrived or the patience ran out.
Bytes replies(const HostEnd &host, size_t count)
{
  Bytes got;
  const auto deadline = steady_clock::now() + SESSION_PATIENCE;
  while (got.size() < count && steady_clock::now() < deadline) {
    pollfd ready{host.receive, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0)
      continue;
    std::array<unsigned char, 64> buffer{};
    const ssize_t read_count = read(host.receive, buffer.data(), count - got.size());
    if (read_count > 0)
      got.insert(got.end(), buffer.begin(), buffer.begin() + read_count);
  }
  return got;
}

// Waits until the emulator says it listens; bytes sent before are not taken.
bool start_on_line(EmulatorSession *session, const HostEnd &host, const std::vector<std::string> &options)
{
  std::vector<std::string> words = {LCM_EMU_PATH};
  words.insert(words.end(), options.begin(), options.end());
  words.emplace_back("--line");
  words.push_back(host.line_path);
  session_spawn(session, words, false);
  return collect_until(session,
                       [](const EmulatorSession &s) { return s.err.find(READY) != std::string::npos; });
}

enum class Kind { pseudo_terminal, named_pipes };

HostEnd host_of(Kind kind, const Scratch &scratch)
{
  return kind == Kind::pseudo_terminal ? pseudo_terminal_host() : named_pipes_host(scratch);
}

const char *name_of(Kind kind)
{
  return kind == Kind::pseudo_terminal ? "pseudo-terminal" : "named pipes";
}

// One run of lcm-emu on a line of the given kind, recording its wire.
struct LineRun {
  Scratch scratch;
  HostEnd host;
  EmulatorSession emulator;
  bool ready = false;
  LineRun(Kind kind, std::vector<std::string> options) : host(host_of(kind, scratch))
  {
    options.insert(options.begin(), {"--trace", "--wire", scratch.file("wire")});
    ready = host.send >= 0 && start_on_line(&emulator, host, options);
  }
  std::string wire() const
  {
    const std::string bytes = read_file(scratch.file("wire"));
    return hex(Bytes(bytes.begin(), bytes.end()));
  }
};

// The same exchange on either kind of line: commands and text taken, each
// query answered (a press held from the first byte on), the screen drawn
// when the host closes the line.
TEST(EmulatorOnALine, CarriesTheBytesAnswersAndDrawsTheScreen)
{
  for (const Kind kind : {Kind::pseudo_terminal, Kind::named_pipes}) {
    SCOPED_TRACE(name_of(kind));
    LineRun run(kind, {"--press", "up@0+60000"});
    ASSERT_TRUE(run.ready) << run.emulator.err;
    if (kind == Kind::pseudo_terminal) {
      termios settings{};
      ASSERT_EQ(tcgetattr(run.host.send, &settings), 0);
      EXPECT_EQ(cfgetospeed(&settings), B9600);
      EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
      EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0U);
      EXPECT_EQ(settings.c_oflag & OPOST, 0U);
    }
    // CR and LF come through as text: nothing translates them.
    const Bytes stream = {0xFE, 0x03, 'H',  'i', 0xFE, 0x0A, 0xFE, 0x0B,
                          0xFE, 0x09, 0x40, 'Y', 'o',  0x0D, 0x0A};
    send(run.host, stream);
    EXPECT_EQ(hex(replies(run.host, 2)), hex({0x02, 0x0E}));
    close_host(&run.host);
    EXPECT_EQ(wait_for_exit(&run.emulator), 0) << run.emulator.err;
    EXPECT_EQ(run.emulator.out, box("Hi", "Yo..") + "cursor row 1 column 4\n");
    EXPECT_EQ(run.wire(), hex(stream));
    EXPECT_NE(run.emulator.err.find("FE 0B  button query -> 0E (up)"), std::string::npos) << run.emulator.err;
    EXPECT_NE(run.emulator.err.find("line closed after 15 bytes"), std::string::npos) << run.emulator.err;
  }
}

// Nothing of the chunk after byte N is taken or answered; on named pipes
// the sender's very next byte finds the pipe full.
TEST(EmulatorOnALine, StallTakesExactlyTheFirstNBytes)
{
  for (const Kind kind : {Kind::pseudo_terminal, Kind::named_pipes}) {
    SCOPED_TRACE(name_of(kind));
    LineRun run(kind, {"--stall-after", "2"});
    ASSERT_TRUE(run.ready) << run.emulator.err;
    send(run.host, {0xFE, 0x0A, 0xFE, 0x0A, 'a', 'b'});
    EXPECT_EQ(hex(replies(run.host, 1)), hex({0x00}));
    ASSERT_TRUE(collect_until(&run.emulator, [](const EmulatorSession &s) {
      return s.err.find("line stalled after 2 bytes") != std::string::npos;
    })) << run.emulator.err;
    if (kind == Kind::named_pipes) {
      const unsigned char more = 'c';
      EXPECT_EQ(write(run.host.send, &more, 1), -1);
      EXPECT_EQ(errno, EAGAIN);
    }
    close_host(&run.host);
    EXPECT_EQ(wait_for_exit(&run.emulator), 0) << run.emulator.err;
    EXPECT_EQ(run.wire(), hex({0xFE, 0x0A}));
    const std::string &trace = run.emulator.err;
    EXPECT_EQ(trace.find("position query", trace.find("position query") + 1), std::string::npos)
        << "a second query was taken:\n"
        << trace;
  }
}

// The second query is answered on time, ahead of the first one's late reply.
TEST(EmulatorOnALine, LateReplyHoldsBackOnlyItsOwnQuery)
{
  HostEnd host = pseudo_terminal_host();
  ASSERT_GE(host.send, 0);
  EmulatorSession emulator;
  ASSERT_TRUE(start_on_line(&emulator, host, {"--late-reply", "1:3000"}));
  const auto sent = steady_clock::now();
  send(host, {0xFE, 0x0A, 0xFE, 0x0B});
  EXPECT_EQ(hex(replies(host, 1)), hex({0x0F}));
  const auto on_time = steady_clock::now();
  EXPECT_EQ(hex(replies(host, 1)), hex({0x00}));
  EXPECT_GE(steady_clock::now() - sent, std::chrono::milliseconds(3000));
  EXPECT_LT(on_time - sent, std::chrono::milliseconds(3000)) << "the on-time reply waited for the late one";
  close_host(&host);
  EXPECT_EQ(wait_for_exit(&emulator), 0) << emulator.err;
}

int run_to_end(const std::vector<std::string> &words, std::string *err)
{
  EmulatorSession session;
  session_spawn(&session, words, false);
  const int status = wait_for_exit(&session);
  *err = session.err;
  return status;
}

TEST(EmulatorOnALine, RefusesWhatItCannotServe)
{
  const Scratch scratch;
  std::ofstream(scratch.file("plain")) << "not a line";
  std::string err;
  EXPECT_EQ(run_to_end({LCM_EMU_PATH, "--line", scratch.file("plain")}, &err), 125);
  EXPECT_EQ(err, "lcm-emu: " + scratch.file("plain") +
                     ": neither a serial device nor a pair of named pipes " + scratch.file("plain") +
                     ".in and " + scratch.file("plain") + ".out\n");
}

// Started with the stop signals blocked, it still stops on SIGTERM, and draws.
TEST(EmulatorOnALine, StopsOnSigtermEvenWhenStartedWithItBlocked)
{
  HostEnd host = pseudo_terminal_host();
  ASSERT_GE(host.send, 0);
  EmulatorSession emulator;
  bool ready = false;
  {
    const StopSignalsBlocked blocked;
    ready = start_on_line(&emulator, host, {});
  }
  ASSERT_TRUE(ready) << emulator.err;
  kill(emulator.pid, SIGTERM);
  EXPECT_EQ(wait_for_exit(&emulator), 0);
  EXPECT_EQ(emulator.out, box("", "") + "cursor row 0 column 0\n");
  close_host(&host);
}

// Output that cannot be written is the emulator's own failure, with a word.
TEST(EmulatorOutput, UnwritableOutputIsStatus125)
{
  const auto run_to_full = [](std::vector<std::string> words, std::string *err) {
    // /dev/full takes no byte; a pipe stays for the messages.
    words.insert(words.begin(), {"/bin/sh", "-c", R"("$@" >/dev/full)", "sh"});
    return run_to_end(words, err);
  };
  std::string err;
  EXPECT_EQ(run_to_full({LCM_EMU_PATH, "--help"}, &err), 125);
  EXPECT_EQ(err, "lcm-emu: cannot write to standard output: No space left on device\n");

  HostEnd host = pseudo_terminal_host();
  ASSERT_GE(host.send, 0);
  EmulatorSession emulator;
  session_spawn(&emulator,
                {"/bin/sh", "-c", R"("$@" >/dev/full)", "sh", LCM_EMU_PATH, "--line", host.line_path}, false);
  ASSERT_TRUE(collect_until(&emulator,
                            [](const EmulatorSession &s) { return s.err.find(READY) != std::string::npos; }));
  close_host(&host);
  EXPECT_EQ(wait_for_exit(&emulator), 125);
  EXPECT_NE(
      emulator.err.find("lcm-emu: cannot draw the screen on standard output: No space left on device\n"),
      std::string::npos)
      << emulator.err;
}

// The emulator unblocks the signals it handles for itself only: the
// command starts with the mask the emulator was given.
TEST(EmulatorCommand, KeepsTheSignalMaskItWasGiven)
{
  SKIP_WITHOUT_NAMESPACES();
  EmulatorSession emulator;
  {
    const StopSignalsBlocked blocked;
    // No shell between: a shell may set its own mask.
    session_spawn(&emulator, {LCM_EMU_PATH, "--", "grep", "SigBlk", "/proc/self/status"}, false);
  }
  EXPECT_EQ(wait_for_exit(&emulator), 0) << emulator.err;
  // SIGHUP, SIGINT and SIGTERM are signals 1, 2 and 15: bits 0, 1 and 14 of the mask.
  EXPECT_EQ(emulator.out.rfind("SigBlk:\t0000000000004003\n", 0), 0U) << emulator.out;
}

} // namespace
