// lcm-console run for real through lcm-emu, which gives it a private
// /dev/ttyS1 on an emulated module and draws the module's screen at the end.
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "bytes.h"
#include "emulator_session.h"
#include "needs_namespaces.h"

namespace {

const std::string MENU_END = "An empty line shows this menu again.\n";

using Session = EmulatorSession;

void launch(Session *session, const std::vector<std::string> &emulator_options,
            const std::vector<std::string> &console_arguments = {})
{
  std::vector<std::string> words = {LCM_EMU_PATH};
  words.insert(words.end(), emulator_options.begin(), emulator_options.end());
  words.insert(words.end(), {"--", LCM_CONSOLE_PATH});
  words.insert(words.end(), console_arguments.begin(), console_arguments.end());
  session_spawn(session, words, true);
}

void send(Session *session, const std::string &text)
{
  ASSERT_EQ(write(session->input, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// Ends the input, then as wait_for_exit.
int finish(Session *session)
{
  close(session->input);
  session->input = -1;
  return wait_for_exit(session);
}

// The console's own lines on standard error, without the emulator's trace.
std::string console_errors(const std::string &errors)
{
  std::string lines;
  size_t at = 0;
  while (at < errors.size()) {
    size_t end = errors.find('\n', at);
    end = end == std::string::npos ? errors.size() : end + 1;
    if (errors.compare(at, 12, "lcm-console:") == 0)
      lines += errors.substr(at, end - at);
    at = end;
  }
  return lines;
}

// A file for the emulator's --wire, named for this process so that runs of
// other builds at the same time keep to their own.
std::string wire_file(const char *name)
{
  return ::testing::TempDir() + name + "." + std::to_string(getpid()) + ".bin";
}

// The bytes of a finished run's wire file, which is then removed.
Bytes take_wire_bytes(const std::string &path)
{
  std::ifstream file(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  return bytes;
}

bool ends_with(const Bytes &bytes, const Bytes &tail)
{
  return bytes.size() >= tail.size() &&
         std::equal(tail.begin(), tail.end(), bytes.end() - static_cast<long>(tail.size()));
}

size_t count_of(const std::string &text, const std::string &part);

std::string after_menu(const std::string &output)
{
  const size_t end = output.find(MENU_END);
  return end == std::string::npos ? output : output.substr(end + MENU_END.size());
}

TEST(ConsoleE2e, PipedSessionThroughEveryOperation)
{
  SKIP_WITHOUT_NAMESPACES();
  const std::string wire = wire_file("console_e2e_wire");
  Session session;
  launch(&session, {"--wire", wire});
  send(&session, "cursor_home\nshow_position\ninput_position\n1\n5\nshow_position\n"
                 "cursor_next\nshow_position\ncursor_prev\ncursor_backspace\nshow_position\n"
                 "display_off\ndisplay_on\nhide_cursor\nclear_screen\nshow_cursor\n7\nquit\n");
  EXPECT_EQ(finish(&session), 0) << session.err;
  EXPECT_EQ(session.err, "");
  EXPECT_EQ(after_menu(session.out), "Cursor is moved to home position now!\n"
                                     "Cursor is located on row 0, column 0 now.\n"
                                     "Please input row:[0,1]\n"
                                     "Please input column:[0-15]\n"
                                     "Cursor is located on row 1, column 5 now.\n"
                                     "Cursor is moved to next column now!\n"
                                     "Cursor is located on row 1, column 6 now.\n"
                                     "Cursor is moved to previous column now!\n"
                                     "Cursor is backspaced now!\n"
                                     "row = 1, column = 4\n"
                                     "Cursor is located on row 1, column 4 now.\n"
                                     "Turn display off now!\n"
                                     "Turn display on now!\n"
                                     "Don't show cursor now!\n"
                                     "LCM is cleared!\n"
                                     "Show cursor now!\n"
                                     "Cursor is moved to home position now!\n"
                                     "+----------------+\n"
                                     "|                |\n"
                                     "|                |\n"
                                     "+----------------+\n"
                                     "cursor row 0 column 0\n");

  const Bytes sent = take_wire_bytes(wire);
  const Bytes expected =
      INIT_SEQUENCE + Bytes{0xFE, 0x0A, 0xFE, 0x09, 0x00} + Bytes{0xFE, 0x0A} + Bytes{0xFE, 0x09, 0x45} +
      Bytes{0xFE, 0x0A} + Bytes{0xFE, 0x0A, 0xFE, 0x09, 0x46} + Bytes{0xFE, 0x0A} +
      Bytes{0xFE, 0x0A, 0xFE, 0x09, 0x45} +
      Bytes{0xFE, 0x0A, 0xFE, 0x09, 0x44, 0xFE, 0x0A, 0x20, 0xFE, 0x09, 0x44} + Bytes{0xFE, 0x0A} +
      Bytes{0xFE, 0x02, 0xFE, 0x01, 0xFE, 0x06, 0xFE, 0x03, 0xFE, 0x05} + Bytes{0xFE, 0x0A, 0xFE, 0x09, 0x00};
  EXPECT_EQ(sent, expected);
}

TEST(ConsoleE2e, UpPressWhileTheWatcherRunsIsNamedAndEchoed)
{
  SKIP_WITHOUT_NAMESPACES();
  Session session;
  launch(&session, {"--press", "up@500+1500"});
  send(&session, "clear_screen\nstart_watcher\n");
  EXPECT_TRUE(collect_until(&session,
                            [](const Session &s) { return s.out.find("Up button\n") != std::string::npos; }))
      << session.out << session.err;
  send(&session, "quit\n");
  EXPECT_EQ(finish(&session), 0) << session.err;

  const std::string output = after_menu(session.out);
  EXPECT_EQ(output.rfind("LCM is cleared!\n", 0), 0U) << output;
  EXPECT_NE(output.find("Button watcher is started now!\n"), std::string::npos) << output;
  for (const char *other : {"Down button", "Right button", "Left button"})
    EXPECT_EQ(output.find(other), std::string::npos) << output;
  const std::string screen = "+----------------+\n"
                             "|                |\n"
                             "| Up pushed      |\n"
                             "+----------------+\n";
  EXPECT_NE(output.find(screen), std::string::npos) << output;
}

// A module that never answers: announcements still print on standard output,
// each failure is a line on standard error, the watcher's unanswered queries
// name no button and are told of once, and the session fails.
TEST(ConsoleE2e, SilentModuleIsReportedOnStandardErrorAndTheSessionFails)
{
  SKIP_WITHOUT_NAMESPACES();
  Session session;
  launch(&session, {"--silent", "--trace"});
  send(&session, "show_position\ncursor_next\nstart_watcher\n");
  EXPECT_TRUE(collect_until(&session, [](const Session &s) {
    size_t queries = 0;
    for (size_t at = s.err.find("FE 0B"); at != std::string::npos; at = s.err.find("FE 0B", at + 1))
      queries++;
    return queries >= 3;
  })) << session.err;
  send(&session, "quit\n");
  EXPECT_EQ(finish(&session), 1) << session.err;
  const std::string output = after_menu(session.out);
  EXPECT_EQ(output.substr(0, output.find("+---")), "Cursor is moved to next column now!\n"
                                                   "Button watcher is started now!\n");
  EXPECT_EQ(console_errors(session.err), "lcm-console: /dev/ttyS1: the display module did not answer\n"
                                         "lcm-console: /dev/ttyS1: the display module did not answer\n"
                                         "lcm-console: /dev/ttyS1: the display module does not answer "
                                         "button queries\n");
}

TEST(ConsoleE2e, WithoutAPortEveryEntryFailsOnStandardError)
{
  SKIP_WITHOUT_NAMESPACES();
  Session session;
  launch(&session, {"--no-device"});
  send(&session, "show_cursor\nstart_watcher\nquit\n");
  EXPECT_EQ(finish(&session), 1) << session.err;
  const std::string output = after_menu(session.out);
  EXPECT_EQ(output.substr(0, output.find("+---")), "Show cursor now!\n");
  EXPECT_EQ(session.err,
            "/dev/ttyS1: No such file or directory\n"
            "lcm-console: /dev/ttyS1: the port is not open\n"
            "lcm-console: /dev/ttyS1: the port is not open; the button watcher is not started\n");
}

// Numbers are whole decimal tokens within int's range: the rest are refused
// and send nothing, and the session fails; the good ones still go out.
TEST(ConsoleE2e, OnlyWholeNumbersPlaceTheCursor)
{
  SKIP_WITHOUT_NAMESPACES();
  const std::string wire = wire_file("console_e2e_numbers");
  Session session;
  launch(&session, {"--wire", wire});
  std::string input;
  for (const char *bad : {"4294967301", "99999999999", "1e3", "0x10", "", "5x"}) {
    input += std::string("input_position\n") + bad + "\n";
    input += std::string("input_position\n0\n") + bad + "\n";
  }
  input += "input_position\n1 5\ninput_position\n -0 3 \ninput_position\n+1 2\n";
  send(&session, input + "quit\n");
  EXPECT_EQ(finish(&session), 1) << session.err;
  EXPECT_EQ(session.err, "");
  const std::string output = after_menu(session.out);
  size_t refused = 0;
  for (size_t at = output.find("Input data incorrect!!\n"); at != std::string::npos;
       at = output.find("Input data incorrect!!\n", at + 1))
    refused++;
  EXPECT_EQ(refused, 12U) << output;
  EXPECT_EQ(take_wire_bytes(wire),
            (INIT_SEQUENCE + Bytes{0xFE, 0x09, 0x45, 0xFE, 0x09, 0x03, 0xFE, 0x09, 0x42}));
}

// Two seconds of silence in the middle of a watcher run: one line when the
// module goes quiet, one when it answers again, and a later press still shows.
TEST(ConsoleE2e, WatcherSaysOnceWhenTheModuleGoesQuietAndOnceWhenItIsBack)
{
  SKIP_WITHOUT_NAMESPACES();
  Session session;
  launch(&session, {"--silent-between", "1500-3500", "--press", "up@5000+1000"});
  send(&session, "start_watcher\n");
  EXPECT_TRUE(collect_until(&session,
                            [](const Session &s) { return s.out.find("Up button\n") != std::string::npos; }))
      << session.out << session.err;
  send(&session, "quit\n");
  EXPECT_EQ(finish(&session), 1) << "the silence was a failure";
  EXPECT_EQ(session.err, "lcm-console: /dev/ttyS1: the display module does not answer button queries\n"
                         "lcm-console: /dev/ttyS1: the display module answers button queries again\n");
  const std::string output = after_menu(session.out);
  EXPECT_EQ(output.rfind("Button watcher is started now!\nUp button\n", 0), 0U) << output;
  EXPECT_NE(output.find("| Up pushed      |\n"), std::string::npos) << output;
}

// A stop by signal lets the watcher finish the echo in hand: row 1 holds the
// whole echo, the line ends with it, and the status is 128 + the signal.
TEST(ConsoleE2e, SigtermDuringAHeldButtonsEchoLeavesTheWholeEcho)
{
  SKIP_WITHOUT_NAMESPACES();
  const std::string wire = wire_file("console_e2e_sigterm");
  Session session;
  launch(&session, {"--wire", wire, "--press", "up@300+60000"});
  send(&session, "start_watcher\n");
  // The line is printed just before row 1 is wiped: the signal lands amid the echo.
  EXPECT_TRUE(collect_until(&session,
                            [](const Session &s) { return s.out.find("Up button\n") != std::string::npos; }))
      << session.out << session.err;
  kill(session.pid, SIGTERM);
  EXPECT_EQ(wait_for_exit(&session), 128 + SIGTERM) << session.err;
  EXPECT_EQ(session.err, "");
  EXPECT_NE(session.out.find("| Up pushed      |\n"), std::string::npos) << session.out;
  EXPECT_TRUE(ends_with(take_wire_bytes(wire), text_bytes(" Up pushed ")));
  close(session.input);
}

TEST(ConsoleE2e, SignalsWhileWaitingForInputEndTheConsoleAtOnce)
{
  SKIP_WITHOUT_NAMESPACES();
  for (const int signal_number : {SIGINT, SIGHUP}) {
    Session session;
    launch(&session, {});
    EXPECT_TRUE(
        collect_until(&session, [](const Session &s) { return s.out.find(MENU_END) != std::string::npos; }));
    kill(session.pid, signal_number);
    EXPECT_EQ(wait_for_exit(&session), 128 + signal_number) << session.err;
    EXPECT_EQ(session.err, "");
    close(session.input);
  }
}

TEST(ConsoleE2e, HelpAndVersionAnswerOnStandardOutputAndOtherArgumentsAreRefused)
{
  SKIP_WITHOUT_NAMESPACES();
  const std::string version = std::string(LCM_VERSION) + "\n";
  Session help;
  launch(&help, {}, {"--help"});
  EXPECT_EQ(finish(&help), 0);
  EXPECT_EQ(help.out.rfind("usage: ", 0), 0U) << help.out;
  EXPECT_EQ(help.err, "");
  Session console_version;
  launch(&console_version, {}, {"--version"});
  EXPECT_EQ(finish(&console_version), 0);
  EXPECT_EQ(console_version.out.rfind("lcm-console " + version, 0), 0U) << console_version.out;
  Session emulator_version;
  launch(&emulator_version, {"--version"});
  EXPECT_EQ(finish(&emulator_version), 0);
  EXPECT_EQ(emulator_version.out, "lcm-emu " + version);
  Session wrong;
  launch(&wrong, {}, {"--verbose"});
  EXPECT_EQ(finish(&wrong), 2);
  EXPECT_EQ(wrong.err.rfind("usage: ", 0), 0U) << wrong.err;
}

// With Up held, the watcher echoes on every pass while the foreground keeps
// placing the cursor on row 0: no echo may be split by a foreground command,
// which would wipe row 0 or leave row 1 blank. Row 0 keeps the 14 cells the
// start-up sequence wrote.
TEST(ConsoleE2e, EchoIsOneUnitWhileTheForegroundPlacesTheCursor)
{
  SKIP_WITHOUT_NAMESPACES();
  Session session;
  launch(&session, {"--press", "up@300+60000"});
  send(&session, "start_watcher\n");
  EXPECT_TRUE(collect_until(&session, [](const Session &s) { return count_of(s.out, "Up button\n") >= 1; }))
      << session.out << session.err;
  std::string placements;
  for (int i = 0; i < 400; i++)
    placements += "input_position\n0 3\n";
  send(&session, placements);
  const size_t echoes_before = count_of(session.out, "Up button\n");
  EXPECT_TRUE(collect_until(&session, [&](const Session &s) {
    return count_of(s.out, "Please input column") >= 400 &&
           count_of(s.out, "Up button\n") >= echoes_before + 3;
  })) << session.err;
  send(&session, "quit\n");
  EXPECT_EQ(finish(&session), 0) << session.err;
  const std::string screen = "+----------------+\n"
                             "|..............  |\n"
                             "| Up pushed      |\n"
                             "+----------------+\n";
  EXPECT_NE(session.out.find(screen), std::string::npos)
      << session.out.substr(session.out.rfind("+---") - 60);
}

// A closed standard input is an end of input: the console ends at once and
// never reads its own descriptors; a closed standard output fails the run.
TEST(ConsoleE2e, ClosedStandardInputEndsTheConsole)
{
  SKIP_WITHOUT_NAMESPACES();
  struct Case {
    const char *redirections;
    int status;
    const char *errors;
  };
  const Case cases[] = {{"<&- >/dev/null", 0, ""},
                        {"<&- >&-", 1, "lcm-console: standard output: Bad file descriptor\n"}};
  for (const Case &c : cases) {
    const std::string wire = wire_file("console_e2e_closed");
    Session session;
    session_spawn(&session,
                  {LCM_EMU_PATH, "--wire", wire, "--", "/bin/sh", "-c",
                   std::string("exec \"$0\" ") + c.redirections, LCM_CONSOLE_PATH},
                  true);
    EXPECT_EQ(wait_for_exit(&session), c.status) << c.redirections << session.err;
    EXPECT_EQ(session.err, c.errors) << c.redirections;
    EXPECT_EQ(session.out.rfind("+---", 0), 0U) << c.redirections << session.out;
    EXPECT_TRUE(take_wire_bytes(wire).empty()) << c.redirections;
    close(session.input);
  }
}

size_t count_of(const std::string &text, const std::string &part)
{
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    count++;
  return count;
}

// The first query's reply (0E, the cursor at row 0 column 14, which is also
// the Up button's code) comes long after the console gave up on it, while
// the console is idle. It must answer neither the watcher's button queries
// nor a later position query.
TEST(ConsoleE2e, LateReplyNeverAnswersALaterQuery)
{
  SKIP_WITHOUT_NAMESPACES();
  Session session;
  // Far beyond the console's read wait of about a second, even on a loaded machine.
  launch(&session, {"--trace", "--late-reply", "1:4000"});
  send(&session, "input_position\n0 14\nshow_position\n");
  EXPECT_TRUE(collect_until(
      &session, [](const Session &s) { return s.err.find("late reply 0E sent") != std::string::npos; }))
      << session.out << session.err;
  send(&session, "start_watcher\n");
  const size_t queries_before = count_of(session.err, "button query");
  EXPECT_TRUE(collect_until(&session, [&](const Session &s) {
    return count_of(s.err, "button query") >= queries_before + 20;
  })) << session.err;
  send(&session, "stop_watcher\ninput_position\n1 5\nshow_position\nquit\n");
  EXPECT_EQ(finish(&session), 1) << "the first query went unanswered";
  EXPECT_EQ(count_of(session.err, "lcm-console:"), 1U) << session.err;
  EXPECT_EQ(count_of(session.err, "lcm-console: /dev/ttyS1: the display module did not answer\n"), 1U);

  const std::string output = after_menu(session.out);
  EXPECT_EQ(output.substr(0, output.find("+---")), "Please input row:[0,1]\n"
                                                   "Please input column:[0-15]\n"
                                                   "Button watcher is started now!\n"
                                                   "Button watcher is stopped now!\n"
                                                   "Please input row:[0,1]\n"
                                                   "Please input column:[0-15]\n"
                                                   "Cursor is located on row 1, column 5 now.\n");
}

// A module that answers every query 1.2 s late, after the read wait: each
// late reply is waited out and dropped, so the first one (0E, the position
// after start-up and also the Up code) never shows as a press.
TEST(ConsoleE2e, ModuleThatAlwaysAnswersTooLateShowsNoPress)
{
  SKIP_WITHOUT_NAMESPACES();
  Session session;
  launch(&session, {"--trace", "--reply-delay", "1200"});
  send(&session, "start_watcher\n");
  EXPECT_TRUE(collect_until(&session, [](const Session &s) { return count_of(s.err, "button query") >= 3; }))
      << session.err;
  send(&session, "quit\n");
  EXPECT_EQ(finish(&session), 1);
  EXPECT_EQ(session.out.find("button\n"), std::string::npos) << session.out;
  EXPECT_EQ(
      count_of(session.err, "lcm-console: /dev/ttyS1: the display module does not answer button queries"), 1U)
      << session.err;
}

} // namespace
