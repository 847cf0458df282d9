// The real programs, run through lcm-emu: the bytes they put on the wire,
// the screen the module ends with, their messages and exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <initializer_list>
#include <iterator>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "command_processes.h"
#include "needs_namespaces.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr uid_t NOBODY = 65534;
constexpr uid_t AS_CALLER = static_cast<uid_t>(-1);
// Far above any run's length even on a loaded machine; only a hang reaches it.
constexpr auto RUN_BOUND = std::chrono::seconds(120);

const Bytes START_UP = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                        0xFE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};

Bytes bytes(std::initializer_list<int> values)
{
  Bytes result;
  for (const int value : values)
    result.push_back(static_cast<unsigned char>(value));
  return result;
}

Bytes text(const std::string &characters)
{
  return Bytes(characters.begin(), characters.end());
}

Bytes join(std::initializer_list<Bytes> parts)
{
  Bytes result;
  for (const Bytes &part : parts)
    result.insert(result.end(), part.begin(), part.end());
  return result;
}

std::string hex(const Bytes &data)
{
  std::string result;
  char cell[4];
  for (const unsigned char byte : data) {
    snprintf(cell, sizeof cell, "%02X ", byte);
    result += cell;
  }
  return result;
}

std::string box(const std::string &row0, const std::string &row1, const std::string &below = "")
{
  const std::string edge = "+----------------+\n";
  return edge + "|" + row0 + std::string(16 - row0.size(), ' ') + "|\n|" + row1 +
         std::string(16 - row1.size(), ' ') + "|\n" + edge + below;
}

std::string read_all(const std::string &path)
{
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> lines_of(const std::string &textual)
{
  std::vector<std::string> lines;
  std::istringstream stream(textual);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  Bytes wire;
  double seconds = 0;
};

class Scratch {
public:
  Scratch()
  {
    std::string pattern = (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + std::string("/e2e.XXXXXX");
    if (mkdtemp(pattern.data()))
      path_ = pattern;
    // An ordinary user under test writes here too.
    chmod(path_.c_str(), 0777);
  }
  ~Scratch()
  {
    for (const char *name : {"out", "err", "wire", "lcm-emu", "lcm-show"})
      unlink(file(name).c_str());
    rmdir(path_.c_str());
  }
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  std::string file(const char *name) const
  {
    return path_ + "/" + name;
  }

private:
  std::string path_;
};

[[noreturn]] void exec_emulator(const Scratch &scratch, const std::vector<std::string> &arguments, uid_t user)
{
  const int out = open(scratch.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  const int err = open(scratch.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  const int input = open("/dev/null", O_RDONLY);
  if (out < 0 || err < 0 || input < 0 || dup2(input, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
    _exit(99);
  if (user != AS_CALLER &&
      (setgroups(0, nullptr) < 0 || setresgid(user, user, user) < 0 || setresuid(user, user, user) < 0))
    _exit(98);
  std::vector<char *> argv;
  for (const std::string &argument : arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(97);
}

// Runs the words, which run lcm-emu with --wire at the scratch folder's "wire".
Outcome run_words(const Scratch &scratch, const std::vector<std::string> &arguments, uid_t user = AS_CALLER)
{
  Outcome outcome;
  const auto start = std::chrono::steady_clock::now();
  fflush(nullptr);
  const pid_t child = fork();
  if (child == 0)
    exec_emulator(scratch, arguments, user);
  int status = 0;
  pid_t done = 0;
  while ((done = waitpid(child, &status, WNOHANG)) == 0) {
    if (std::chrono::steady_clock::now() - start > RUN_BOUND) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      ADD_FAILURE() << "lcm-emu still running after " << RUN_BOUND.count() << " s";
      return outcome;
    }
    usleep(5000);
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (done == child && WIFEXITED(status))
    outcome.status = WEXITSTATUS(status);
  outcome.out = read_all(scratch.file("out"));
  outcome.err = read_all(scratch.file("err"));
  const std::string wire = read_all(scratch.file("wire"));
  outcome.wire = Bytes(wire.begin(), wire.end());
  return outcome;
}

std::vector<std::string> emulator_words(const Scratch &scratch, const std::vector<std::string> &options,
                                        const std::vector<std::string> &command,
                                        const std::string &emulator = LCM_EMU_PATH)
{
  std::vector<std::string> arguments = {emulator, "--wire", scratch.file("wire")};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.emplace_back("--");
  arguments.insert(arguments.end(), command.begin(), command.end());
  return arguments;
}

Outcome run_emulator(const std::vector<std::string> &options, const std::vector<std::string> &command,
                     uid_t user = AS_CALLER, const std::string &emulator = LCM_EMU_PATH)
{
  const Scratch scratch;
  return run_words(scratch, emulator_words(scratch, options, command, emulator), user);
}

Outcome show(const std::vector<std::string> &options, const std::string &line1, const std::string &line2)
{
  return run_emulator(options, {LCM_SHOW_PATH, line1, line2});
}

Bytes show_stream(const std::string &line1, const std::string &line2);

// The stream of a Hello/World run after the module reported 00 and then 40.
Bytes hello_world_stream()
{
  return join({START_UP, bytes({0xFE, 0x06, 0xFE, 0x03, 0xFE, 0x0A, 0xFE, 0x09, 0x00, 0xFE, 0x0A}),
               text("Hello"), bytes({0xFE, 0x09, 0x40, 0xFE, 0x0A}), text("World")});
}

struct TraceLine {
  long ms;
  std::string what;
};

// Trace lines read "lcm-emu +MS ms: WHAT"; anything else is skipped.
std::vector<TraceLine> trace_of(const std::string &err)
{
  const std::string lead = "lcm-emu +";
  const std::string unit = " ms: ";
  std::vector<TraceLine> trace;
  for (const std::string &line : lines_of(err)) {
    if (line.rfind(lead, 0) != 0)
      continue;
    char *end = nullptr;
    const long ms = strtol(line.c_str() + lead.size(), &end, 10);
    const auto after = static_cast<size_t>(end - line.c_str());
    if (after == lead.size() || line.compare(after, unit.size(), unit) != 0)
      continue;
    trace.push_back({ms, line.substr(after + unit.size())});
  }
  return trace;
}

TEST(LcmShowThroughEmulator, HelloWorldBytesAndScreen)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({}, "Hello", "World");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(hex(outcome.wire), hex(hello_world_stream()));
  EXPECT_EQ(outcome.out, box("Hello", "World"));
  // No warning: the program left the line raw at 9600 8N1.
  EXPECT_EQ(outcome.err, "");
}

TEST(LcmShowThroughEmulator, TraceNamesEveryCommandAndReply)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({"--trace"}, "Hi", "Yo");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  std::vector<std::string> commands;
  for (const TraceLine &line : trace_of(outcome.err))
    if (line.what.find("  text ") == std::string::npos)
      commands.push_back(line.what);
  const std::vector<std::string> expected = {
      "FE 01  display on",
      "FE 06  cursor off",
      "FE 03  clear",
      "FE 0A  position query -> 00 (row 0 column 0)",
      "FE 09 00  set position row 0 column 0",
      "FE 0A  position query -> 00 (row 0 column 0)",
      "FE 09 40  set position row 1 column 0",
      "FE 0A  position query -> 40 (row 1 column 0)",
  };
  EXPECT_EQ(commands, expected);
  EXPECT_NE(outcome.err.find(": 59  text 'Y' at row 1 column 0\n"), std::string::npos);
  EXPECT_NE(outcome.err.find(": 00  text 0x00 at row 0 column 0\n"), std::string::npos);
}

TEST(LcmShowThroughEmulator, LongFirstLineIsCutAndTheCursorPutOnColumn15)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({}, "ABCDEFGHIJKLMNOPQRS", "xy");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  const Bytes expected =
      join({START_UP, bytes({0xFE, 0x06, 0xFE, 0x03, 0xFE, 0x0A, 0xFE, 0x09, 0x00, 0xFE, 0x0A}),
            text("ABCDEFGHIJKLMNOP"), bytes({0xFE, 0x09, 0x0F, 0xFE, 0x09, 0x40, 0xFE, 0x0A}), text("xy")});
  EXPECT_EQ(hex(outcome.wire), hex(expected));
  EXPECT_EQ(outcome.out, box("ABCDEFGHIJKLMNOP", "xy"));
}

TEST(LcmShowThroughEmulator, EmptyFirstLineStillAsksThePositionAndWritesRow1)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({}, "", "World");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  const Bytes expected = join({START_UP,
                               bytes({0xFE, 0x06, 0xFE, 0x03, 0xFE, 0x0A, 0xFE, 0x09, 0x00, 0xFE, 0x0A, 0xFE,
                                      0x09, 0x40, 0xFE, 0x0A}),
                               text("World")});
  EXPECT_EQ(hex(outcome.wire), hex(expected));
  EXPECT_EQ(outcome.out, box("", "World"));
}

TEST(LcmShowThroughEmulator, WrongArgumentCountPrintsUsageAndLeavesTheLineAlone)
{
  SKIP_WITHOUT_NAMESPACES();
  const std::vector<std::vector<std::string>> commands = {
      {LCM_SHOW_PATH}, {LCM_SHOW_PATH, "one"}, {LCM_SHOW_PATH, "a", "b", "c"}};
  for (const auto &command : commands) {
    const Outcome outcome = run_emulator({}, command);
    EXPECT_EQ(outcome.status, 2) << command.size();
    EXPECT_EQ(outcome.out, std::string("usage: ") + LCM_SHOW_PATH + " Line1 Line2\n" +
                               box("", "", "cursor row 0 column 0\n"));
    EXPECT_TRUE(outcome.wire.empty()) << hex(outcome.wire);
    EXPECT_EQ(outcome.err, "");
  }
}

TEST(LcmShowThroughEmulator, MissingDeviceGivesPerrorsLineAndStatus1)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({"--no-device"}, "Hello", "World");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "/dev/ttyS1: No such file or directory\n");
  EXPECT_TRUE(outcome.wire.empty());
}

TEST(LcmShowThroughEmulator, SilentModuleEndsInOneLineNamingThePort)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({"--silent"}, "Hello", "World");
  EXPECT_EQ(outcome.status, 1);
  const std::vector<std::string> lines = lines_of(outcome.err);
  ASSERT_EQ(lines.size(), 1U) << outcome.err;
  EXPECT_NE(lines[0].find("/dev/ttyS1"), std::string::npos) << lines[0];
  // Three unanswered queries of about a second each; far less than a hang.
  EXPECT_LT(outcome.seconds, 30.0);
  // The text still went out, to wherever the module's own cursor stood.
  const Bytes expected =
      join({START_UP, bytes({0xFE, 0x06, 0xFE, 0x03, 0xFE, 0x0A, 0xFE, 0x09, 0x00, 0xFE, 0x0A}),
            text("Hello"), bytes({0xFE, 0x09, 0x40, 0xFE, 0x0A}), text("World")});
  EXPECT_EQ(hex(outcome.wire), hex(expected));
  EXPECT_EQ(outcome.out, box("Hello", "World"));
}

TEST(LcmShowThroughEmulator, LateReplyWithinTheReadWaitStillSucceeds)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({"--reply-delay", "400"}, "Hello", "World");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(hex(outcome.wire), hex(hello_world_stream()));
  EXPECT_EQ(outcome.out, box("Hello", "World"));
}

TEST(LcmShowThroughEmulator, LeadByteInTextIsReplacedAndTheDisplayStaysOn)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({}, "\xfe\x02", "x");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  const Bytes expected = join({START_UP,
                               bytes({0xFE, 0x06, 0xFE, 0x03, 0xFE, 0x0A, 0xFE, 0x09, 0x00, 0xFE, 0x0A, 0x3F,
                                      0x02, 0xFE, 0x09, 0x40, 0xFE, 0x0A}),
                               text("x")});
  EXPECT_EQ(hex(outcome.wire), hex(expected));
  EXPECT_EQ(outcome.out, box("?.", "x"));
}

TEST(LcmShowThroughEmulator, PacedLineCarriesTheSameBytes)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({"--pace"}, "Hello", "World");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(hex(outcome.wire), hex(hello_world_stream()));
  EXPECT_EQ(outcome.out, box("Hello", "World"));
}

// A reply of A5 cannot be a position (its top bit is set): nothing is
// clamped to it, each row gets its 16 bytes, and the run is a failure.
TEST(LcmShowThroughEmulator, RepliesThatAreNoPositionCutNothingAndFail)
{
  SKIP_WITHOUT_NAMESPACES();
  const std::string a16(16, 'A');
  const std::string b16(16, 'B');
  const Outcome outcome = show({"--garbage"}, a16, b16);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "lcm-show: /dev/ttyS1: the display module's reply was not a position\n");
  EXPECT_EQ(hex(outcome.wire), hex(show_stream(a16, b16)));
  EXPECT_EQ(outcome.out, box(a16, b16));
}

// The first query's reply comes too late, then the line hangs up before row
// 1's text: both are told, the hang-up last, as it ended the run.
TEST(LcmShowThroughEmulator, FailureThatEndedTheRunIsTold)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({"--late-reply", "1:1500", "--hangup-after", "37"}, "Hello", "World");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "lcm-show: /dev/ttyS1: the display module did not answer\n"
                         "lcm-show: /dev/ttyS1: the line hung up (Input/output error)\n");
  const Bytes whole = hello_world_stream();
  EXPECT_EQ(hex(outcome.wire), hex(Bytes(whole.begin(), whole.begin() + 37)));
  EXPECT_EQ(outcome.out, box("Hello", ""));
}

TEST(LcmShowThroughEmulator, HangUpMakesWritesFail)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({"--hangup-after", "20"}, "Hello", "World");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(hex(outcome.wire), hex(join({START_UP, bytes({0xFE, 0x06, 0xFE, 0x03})})));
  const std::vector<std::string> lines = lines_of(outcome.err);
  ASSERT_EQ(lines.size(), 1U) << outcome.err;
  EXPECT_NE(lines[0].find("/dev/ttyS1"), std::string::npos) << lines[0];
  EXPECT_EQ(outcome.out, box("", ""));
}

TEST(LcmShowThroughEmulator, RunsForAnOrdinaryUser)
{
  SKIP_WITHOUT_NAMESPACES();
  if (geteuid() != 0)
    GTEST_SKIP() << "already an ordinary user: every other test covers it";
  // The build tree may sit where an ordinary user cannot reach; copies can.
  const Scratch programs;
  for (const auto &[from, name] :
       {std::pair{LCM_EMU_PATH, "lcm-emu"}, std::pair{LCM_SHOW_PATH, "lcm-show"}}) {
    std::filesystem::copy_file(from, programs.file(name), std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(chmod(programs.file(name).c_str(), 0755), 0);
  }
  const Outcome outcome =
      run_emulator({}, {programs.file("lcm-show"), "Hello", "World"}, NOBODY, programs.file("lcm-emu"));
  if (outcome.err.find("private /dev/ttyS1") != std::string::npos)
    GTEST_SKIP() << "user namespaces are not allowed here: " << outcome.err;
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(hex(outcome.wire), hex(hello_world_stream()));
  EXPECT_EQ(outcome.out, box("Hello", "World"));
}

// The emulator decides each reply by its own clock, which the trace shows;
// the driver must hand on exactly those replies. A trace line carries the
// moment the reply was decided, in whole milliseconds rounded down, so a
// reply stamped 599 was decided inside the window and one stamped 600 (the
// window's end) outside it, with no clock reading in between to blur the edge.
// A press read fewer than twice inside its window stays down until it has
// been read twice.
TEST(ButtonsThroughEmulator, PressAnswersUpInsideItsWindowOnly)
{
  SKIP_WITHOUT_NAMESPACES();
  constexpr long WINDOW_START = 200;
  constexpr long WINDOW_END = 600;
  const Outcome outcome = run_emulator({"--trace", "--press", "up@200+400"}, {KEY_PROBE_PATH, "1200"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  std::vector<int> keys_seen;
  for (const std::string &line : lines_of(outcome.out))
    if (line.rfind("key ", 0) == 0)
      keys_seen.push_back(static_cast<int>(strtol(line.c_str() + 4, nullptr, 10)));
  std::vector<int> keys_sent;
  int inside = 0;
  int after = 0;
  for (const TraceLine &line : trace_of(outcome.err)) {
    if (line.what.rfind("FE 0B  button query -> ", 0) != 0)
      continue;
    const bool in_window = line.ms >= WINDOW_START && (line.ms < WINDOW_END || inside < 2);
    const std::string expected =
        in_window ? "FE 0B  button query -> 0E (up)" : "FE 0B  button query -> 0F (none)";
    EXPECT_EQ(line.what, expected) << "at " << line.ms << " ms";
    keys_sent.push_back(in_window ? 1 : 15);
    inside += in_window ? 1 : 0;
    after += line.ms >= WINDOW_END && !in_window ? 1 : 0;
  }
  EXPECT_GT(inside, 0);
  EXPECT_GT(after, 0);
  EXPECT_EQ(keys_seen, keys_sent);
}

TEST(EmulatorExit, PassesOnTheCommandsStatusAndSignal)
{
  SKIP_WITHOUT_NAMESPACES();
  EXPECT_EQ(run_emulator({}, {"/bin/sh", "-c", "exit 7"}).status, 7);
  EXPECT_EQ(run_emulator({}, {"/bin/sh", "-c", "kill -TERM $$"}).status, 128 + SIGTERM);
  const Outcome missing = run_emulator({}, {"/nonexistent/program"});
  EXPECT_EQ(missing.status, 127);
  EXPECT_EQ(missing.err, "lcm-emu: /nonexistent/program: No such file or directory\n");
  EXPECT_EQ(run_emulator({"--press", "sideways@1"}, {"/bin/true"}).status, 125);
}

TEST(EmulatorLine, WarnsWhenTheCommandLeavesTheLineCooked)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome cooked = run_emulator({}, {"/bin/sh", "-c", "printf AB > /dev/ttyS1"});
  EXPECT_EQ(cooked.status, 0);
  EXPECT_EQ(hex(cooked.wire), hex(text("AB")));
  EXPECT_NE(cooked.err.find("warning"), std::string::npos) << cooked.err;
  const Outcome raw =
      run_emulator({}, {"/bin/sh", "-c",
                        "stty -F /dev/ttyS1 9600 raw -echo cs8 -parenb -cstopb && printf AB > /dev/ttyS1"});
  EXPECT_EQ(raw.status, 0);
  EXPECT_EQ(hex(raw.wire), hex(text("AB")));
  EXPECT_EQ(raw.err, "");
}

// The command's private /dev must leave the machine's own untouched.
TEST(EmulatorLine, MachineDevIsUntouched)
{
  SKIP_WITHOUT_NAMESPACES();
  struct stat before {};
  const bool existed = stat("/dev/ttyS1", &before) == 0;
  const Outcome outcome = run_emulator({}, {"/bin/sh", "-c", "test -c /dev/ttyS1 && test -c /dev/null"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  struct stat after {};
  EXPECT_EQ(stat("/dev/ttyS1", &after) == 0, existed);
  if (existed) {
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    EXPECT_EQ(after.st_mode, before.st_mode);
  }
}

// Reads a host stream after the start-up sequence as the module would: a lead
// byte starts a command, anything else is text. Returns what breaks the rules
// for lcm-show's output, or an empty string.
std::string check_show_stream(const Bytes &wire)
{
  if (wire.size() < START_UP.size() || !std::equal(START_UP.begin(), START_UP.end(), wire.begin()))
    return "no start-up sequence";
  size_t text_run = 0;
  for (size_t i = START_UP.size(); i < wire.size(); i++) {
    if (wire[i] != 0xFE) {
      if (++text_run > 16)
        return "more than 16 text bytes for a row at byte " + std::to_string(i);
      continue;
    }
    text_run = 0;
    if (i + 1 >= wire.size())
      return "a lead byte ends the stream";
    const unsigned char code = wire[++i];
    if (code == 0x09)
      i++;
    else if (code != 0x03 && code != 0x06 && code != 0x0A)
      return "0xFE in text, or an unexpected command, at byte " + std::to_string(i - 1);
  }
  return "";
}

// What a row shows for an argument: its first 16 bytes, a lead byte as '?',
// and the emulator's '.' for what it cannot draw.
std::string shown(const std::string &argument)
{
  std::string row = argument.substr(0, 16);
  for (char &c : row) {
    const auto byte = static_cast<unsigned char>(c == '\xFE' ? '?' : c);
    c = byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
  }
  return row;
}

TEST(LcmShowThroughEmulator, RandomArgumentsNeverBreakTheLine)
{
  SKIP_WITHOUT_NAMESPACES();
  // A new seed each run, printed so that a failure can be replayed.
  const char *fixed = getenv("LCM_TEST_SEED");
  const unsigned seed = fixed ? static_cast<unsigned>(strtoul(fixed, nullptr, 10)) : std::random_device{}();
  SCOPED_TRACE("LCM_TEST_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(1, 255);
  const size_t lengths[] = {0, 1, 15, 16, 17, 100, 4096, 100000};
  auto argument = [&](size_t length) {
    std::string a(length, ' ');
    for (char &c : a)
      c = static_cast<char>(byte(random));
    return a;
  };
  for (int run = 0; run < 12; run++) {
    const std::string line1 = argument(lengths[random() % std::size(lengths)]);
    const std::string line2 = argument(lengths[random() % std::size(lengths)]);
    const Outcome outcome = show({}, line1, line2);
    SCOPED_TRACE("lengths " + std::to_string(line1.size()) + " and " + std::to_string(line2.size()));
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(check_show_stream(outcome.wire), "") << hex(outcome.wire);
    EXPECT_EQ(outcome.out, box(shown(line1), shown(line2)));
  }
}

// The stream of an lcm-show run whose module reported 00 and then 40.
Bytes show_stream(const std::string &line1, const std::string &line2)
{
  return join({START_UP, bytes({0xFE, 0x06, 0xFE, 0x03, 0xFE, 0x0A, 0xFE, 0x09, 0x00, 0xFE, 0x0A}),
               text(line1), bytes({0xFE, 0x09, 0x40, 0xFE, 0x0A}), text(line2)});
}

// One program at a time: the second waits for the first to let go of the
// port, so the line carries two whole runs and the screen one whole pair.
TEST(SharedLine, TwoShowsStartedTogetherLeaveOneWholePair)
{
  SKIP_WITHOUT_NAMESPACES();
  for (int run = 0; run < 3; run++) {
    const Outcome outcome = run_emulator(
        {}, {"/bin/sh", "-c", R"("$0" aaaa bbbb & "$0" cccc dddd; a=$?; wait $!; echo "status $a $?")",
             LCM_SHOW_PATH});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    const Bytes ab = show_stream("aaaa", "bbbb");
    const Bytes cd = show_stream("cccc", "dddd");
    const std::string wire = hex(outcome.wire);
    EXPECT_TRUE(wire == hex(join({ab, cd})) || wire == hex(join({cd, ab}))) << wire;
    const std::string last_pair = wire == hex(join({ab, cd})) ? box("cccc", "dddd") : box("aaaa", "bbbb");
    EXPECT_EQ(outcome.out, "status 0 0\n" + last_pair);
  }
}

TEST(SharedLine, PortHeldByAnotherProgramRefusesShowAfterTheWait)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = run_emulator({}, {"/usr/bin/flock", "/dev/ttyS1", LCM_SHOW_PATH, "Hello", "World"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(outcome.wire.empty()) << hex(outcome.wire);
  EXPECT_TRUE(std::regex_match(
      outcome.err, std::regex(R"(/dev/ttyS1: in use by another program \(pid [0-9]+, flock\)\n)")))
      << outcome.err;
  EXPECT_GE(outcome.seconds, 2.0) << "the holder is waited for about 2 s";
  EXPECT_LT(outcome.seconds, 60.0);
}

// The emulator stops the line's flow right after the first query, before it
// answers, so every later write finds the port busy.
TEST(SharedLine, LineThatStaysBusyEndsShowWithStatus1)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = show({"--stall-after", "22"}, "Hello", "World");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "lcm-show: /dev/ttyS1: the port stayed busy, bytes were not sent\n");
  EXPECT_EQ(hex(outcome.wire), hex(join({START_UP, bytes({0xFE, 0x06, 0xFE, 0x03, 0xFE, 0x0A})})));
}

// With a standard stream closed, the port would land on its number and the
// program's own messages would reach the module as text. The console's
// operations still work; only its texts could not be written.
TEST(ClosedStreams, MessagesNeverReachTheWire)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome show_run =
      run_emulator({"--silent"}, {"/bin/sh", "-c", "exec \"$0\" Hello World 2>&-", LCM_SHOW_PATH});
  EXPECT_EQ(show_run.status, 1);
  EXPECT_EQ(hex(show_run.wire), hex(hello_world_stream()));

  const Outcome console_run =
      run_emulator({}, {"/bin/sh", "-c", R"(printf 'show_position\ncursor_home\nquit\n' | exec "$0" >&-)",
                        LCM_CONSOLE_PATH});
  EXPECT_EQ(console_run.status, 1);
  EXPECT_EQ(console_run.err, "lcm-console: standard output: Bad file descriptor\n");
  EXPECT_EQ(hex(console_run.wire), hex(join({START_UP, bytes({0xFE, 0x0A, 0xFE, 0x0A, 0xFE, 0x09, 0x00})})));
}

// LCM_DEVICE names the device: here /dev/ttyS1 by another name, and a
// missing one. Opened, locked and named as given.
TEST(DeviceVariable, NamesTheDeviceOpenedLockedAndTold)
{
  SKIP_WITHOUT_NAMESPACES();
  struct Case {
    std::vector<std::string> options;
    std::string script;
    int status;
    std::string errors;
    Bytes wire;
  };
  const std::string alias = "ln -s ttyS1 /dev/ttyUSB0 && export LCM_DEVICE=/dev/ttyUSB0; ";
  const Case cases[] = {
      {{}, alias + R"(exec "$0" Hello World)", 0, "", hello_world_stream()},
      {{"--silent"},
       alias + R"(printf 'show_cursor\nshow_position\n' | exec "$1" >/dev/null)",
       1,
       "lcm-console: /dev/ttyUSB0: the display module did not answer\n",
       join({START_UP, bytes({0xFE, 0x05, 0xFE, 0x0A})})},
      {{},
       alias + R"(exec flock /dev/ttyS1 "$0" a b)",
       1,
       R"(/dev/ttyUSB0: in use by another program \(pid [0-9]+, flock\)\n)",
       {}},
      {{}, R"(LCM_DEVICE=/dev/ttyUSB9 exec "$0" a b)", 1, "/dev/ttyUSB9: No such file or directory\n", {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.script);
    const Outcome outcome =
        run_emulator(c.options, {"/bin/sh", "-c", c.script, LCM_SHOW_PATH, LCM_CONSOLE_PATH});
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_TRUE(std::regex_match(outcome.err, std::regex(c.errors))) << outcome.err;
    EXPECT_EQ(hex(outcome.wire), hex(c.wire));
  }
}

// Output that cannot be written is a failure with a message, whatever the
// program printed: its help, its version or a console session.
TEST(UnwritableOutput, IsExit1WithAMessage)
{
  SKIP_WITHOUT_NAMESPACES();
  const std::string script = R"(for p in "$@"; do for a in --help --version; do
                                  "$p" $a >/dev/full; echo "$? ${p##*/} $a"; done; done
                                echo quit | "$2" >/dev/full; echo "$? session")";
  const Outcome outcome =
      run_emulator({}, {"/bin/sh", "-c", script, "sh", LCM_SHOW_PATH, LCM_CONSOLE_PATH, LCM_PANEL_PATH});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out.substr(0, outcome.out.find('+')),
            "1 lcm-show --help\n1 lcm-show --version\n1 lcm-console --help\n1 lcm-console --version\n"
            "1 lcm-panel --help\n1 lcm-panel --version\n1 session\n");
  const std::string full = ": standard output: No space left on device\n";
  EXPECT_EQ(outcome.err, "lcm-show" + full + "lcm-show" + full + "lcm-console" + full + "lcm-console" + full +
                             "lcm-panel" + full + "lcm-panel" + full + "lcm-console" + full);
  EXPECT_TRUE(outcome.wire.empty());
}

// The command makes its private /dev/ttyS1 something other than a terminal.
TEST(NotASerialLine, IsRefusedAndLeftAsItWas)
{
  SKIP_WITHOUT_NAMESPACES();
  const std::vector<std::string> setups = {"mkfifo /dev/ttyS1", "printf keep > /dev/ttyS1",
                                           "ln -s /dev/null /dev/ttyS1"};
  for (const std::string &setup : setups) {
    const Outcome outcome = run_emulator(
        {"--no-device"},
        {"/bin/sh", "-c",
         setup + " || exit 99; \"$0\" Hello World; s=$?; test -f /dev/ttyS1 && cat /dev/ttyS1; exit $s",
         LCM_SHOW_PATH});
    EXPECT_EQ(outcome.status, 1) << setup;
    EXPECT_EQ(outcome.err, "/dev/ttyS1: not a serial port\n") << setup;
    const std::string kept = setup.rfind("printf", 0) == 0 ? "keep" : "";
    EXPECT_EQ(outcome.out, kept + box("", "", "cursor row 0 column 0\n")) << setup;
  }
}

bool process_gone(pid_t pid)
{
  if (kill(pid, 0) < 0 && errno == ESRCH)
    return true;
  // Reparented to an init that does not reap, a dead command stays a zombie.
  const std::string stat = read_all("/proc/" + std::to_string(pid) + "/stat");
  const size_t name_end = stat.rfind(')');
  return name_end != std::string::npos && stat.compare(name_end, 4, ") Z ") == 0;
}

// With standard input at its end the emulator ends the command's input at
// once; a copy of the pipe's writing end left anywhere else keeps cat waiting.
TEST(EmulatorLifetime, CommandSeesTheEndOfItsLiveInput)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = run_emulator({"--live"}, {"/bin/sh", "-c", "cat; echo input ended"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "input ended\n" + box("", "", "cursor row 0 column 0\n"));
}

// Its pid names the command itself in /proc, as a sanitizer runtime stopping
// its threads expects.
TEST(EmulatorLifetime, CommandFindsItselfInProc)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome =
      run_emulator({}, {"/bin/sh", "-c", R"(read -r name < /proc/$$/comm; echo "$$ is $name")"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  const std::string said = outcome.out.substr(0, outcome.out.find('\n'));
  EXPECT_EQ(said.substr(said.find(' ') + 1), "is sh") << said;
}

// The wire file is the emulator's record of what the command sent; the
// command must not be able to write into it.
TEST(EmulatorLifetime, CommandHoldsNoDescriptorOfTheWireFile)
{
  SKIP_WITHOUT_NAMESPACES();
  const Outcome outcome = run_emulator({}, {"/bin/sh", "-c", "ls -l /proc/$$/fd/ | grep -c '/wire$'"});
  EXPECT_EQ(outcome.out.substr(0, outcome.out.find('\n')), "0") << outcome.out;
}

// Where the kernel grants no PID namespace the command runs as the
// emulator's own child, as in a user namespace allowed none.
TEST(EmulatorLifetime, RunsWithoutAPidNamespaceWhereNoneIsAllowed)
{
  SKIP_WITHOUT_NAMESPACES();
  constexpr int NO_LIMIT_SET = 100;
  const Scratch scratch;
  std::vector<std::string> arguments = {"/usr/bin/unshare",
                                        "--user",
                                        "--map-root-user",
                                        "/bin/sh",
                                        "-c",
                                        "echo 0 > /proc/sys/user/max_pid_namespaces || exit " +
                                            std::to_string(NO_LIMIT_SET) + R"(; exec "$0" "$@")"};
  const std::vector<std::string> emulator = emulator_words(
      scratch, {}, {"/bin/sh", "-c", R"("$0" Hello World; s=$?; echo "pid $$"; exit $s)", LCM_SHOW_PATH});
  arguments.insert(arguments.end(), emulator.begin(), emulator.end());
  const Outcome outcome = run_words(scratch, arguments);
  if (outcome.status == NO_LIMIT_SET || outcome.err.rfind("unshare: ", 0) == 0)
    GTEST_SKIP() << "no user namespace whose PID namespaces can be limited: " << outcome.err;
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(hex(outcome.wire), hex(hello_world_stream()));
  EXPECT_EQ(outcome.out.rfind("pid ", 0), 0U) << outcome.out;
  EXPECT_NE(outcome.out.rfind("pid 2\n", 0), 0U) << "the command got a PID namespace after all";
}

// Reads the pids the command wrote; empty until both are there.
std::vector<pid_t> recorded_pids(const std::vector<std::string> &files)
{
  std::vector<pid_t> pids;
  for (const std::string &file : files) {
    const auto pid = static_cast<pid_t>(strtol(read_all(file).c_str(), nullptr, 10));
    if (pid <= 0)
      return {};
    pids.push_back(pid);
  }
  return pids;
}

// The command, and what it started in the background, end with the emulator.
TEST(EmulatorLifetime, KilledEmulatorLeavesNoCommandRunning)
{
  SKIP_WITHOUT_NAMESPACES();
  const Scratch scratch;
  // Names the scratch folder cleans up after itself.
  const std::vector<std::string> pid_files = {scratch.file("out"), scratch.file("err")};
  fflush(nullptr);
  const pid_t emulator = fork();
  ASSERT_GE(emulator, 0);
  if (emulator == 0) {
    execl(LCM_EMU_PATH, LCM_EMU_PATH, "--", "/bin/sh", "-c",
          R"(record() { echo $2 > "$1.tmp"; mv "$1.tmp" "$1"; }
             sleep 1000 & record "$1" $!; record "$0" $$; exec sleep 1000)",
          pid_files[0].c_str(), pid_files[1].c_str(), static_cast<char *>(nullptr));
    _exit(97);
  }
  const auto start = std::chrono::steady_clock::now();
  std::vector<pid_t> inner_pids;
  while ((inner_pids = recorded_pids(pid_files)).empty() &&
         std::chrono::steady_clock::now() - start < RUN_BOUND)
    usleep(10000);
  const std::vector<CommandProcess> below = processes_below(emulator);
  kill(emulator, SIGKILL);
  waitpid(emulator, nullptr, 0);
  for (const std::string &file : pid_files)
    unlink((file + ".tmp").c_str());
  ASSERT_EQ(inner_pids.size(), 2U) << "the command never started its background process";
  for (const pid_t inner : inner_pids)
    EXPECT_TRUE(
        std::any_of(below.begin(), below.end(), [&](const CommandProcess &p) { return p.inner == inner; }))
        << "no process " << inner << " found below the emulator";
  // Far longer than a signal takes to arrive, far shorter than the sleeps.
  constexpr auto DEATH_BOUND = std::chrono::seconds(60);
  const auto killed = std::chrono::steady_clock::now();
  const auto all_gone = [&] {
    return std::all_of(below.begin(), below.end(),
                       [](const CommandProcess &p) { return process_gone(p.pid); });
  };
  while (!all_gone() && std::chrono::steady_clock::now() - killed < DEATH_BOUND)
    usleep(10000);
  for (const CommandProcess &process : below) {
    EXPECT_TRUE(process_gone(process.pid)) << "process " << process.inner << " outlived the emulator";
    if (!process_gone(process.pid))
      kill(process.pid, SIGKILL);
  }
}

} // namespace
