// lcm-console run for real through lcm-emu, which gives it a private
// /dev/ttyS1 on an emulated module and draws the module's screen at the end.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bytes.h"
#include "needs_namespaces.h"

namespace {

using Clock = std::chrono::steady_clock;

// Generous: the emulator may share two busy cores with sanitizer builds.
constexpr auto PATIENCE = std::chrono::seconds(20);

const std::string MENU_END = "An empty line shows this menu again.\n";

struct Session {
  pid_t pid = -1;
  int input = -1;
  int output = -1;
  int errors = -1;
  std::string out;
  std::string err;
};

void launch(Session *session, const std::vector<std::string> &emulator_options)
{
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> words = {LCM_EMU_PATH};
  words.insert(words.end(), emulator_options.begin(), emulator_options.end());
  words.insert(words.end(), {"--", LCM_CONSOLE_PATH});
  std::vector<char *> argv;
  for (std::string &word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  int to_child[2];
  int from_child[2];
  int errors_from_child[2];
  ASSERT_EQ(pipe2(to_child, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(from_child, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(errors_from_child, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errors_from_child[1], 2);
  ASSERT_EQ(posix_spawn(&session->pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(to_child[0]);
  close(from_child[1]);
  close(errors_from_child[1]);
  session->input = to_child[1];
  session->output = from_child[0];
  session->errors = errors_from_child[0];
}

void send(Session *session, const std::string &text)
{
  ASSERT_EQ(write(session->input, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// Collects both output streams until the condition holds, both streams end
// or the patience runs out.
template <typename Condition> bool collect_until(Session *session, Condition done)
{
  const auto deadline = Clock::now() + PATIENCE;
  while (!done(*session) && Clock::now() < deadline && (session->output >= 0 || session->errors >= 0)) {
    pollfd fds[2] = {{session->output, POLLIN, 0}, {session->errors, POLLIN, 0}};
    if (poll(fds, 2, 100) < 0 && errno != EINTR)
      return false;
    for (int i = 0; i < 2; i++) {
      if (fds[i].revents == 0)
        continue;
      int *descriptor = i == 0 ? &session->output : &session->errors;
      std::string *text = i == 0 ? &session->out : &session->err;
      char buffer[4096];
      const ssize_t count = read(*descriptor, buffer, sizeof buffer);
      if (count > 0) {
        text->append(buffer, static_cast<size_t>(count));
      } else {
        close(*descriptor);
        *descriptor = -1;
      }
    }
  }
  return done(*session);
}

// Ends the input, reads everything and returns the exit status (-1 when the
// emulator had to be killed).
int finish(Session *session)
{
  close(session->input);
  collect_until(session, [](const Session &s) { return s.output < 0 && s.errors < 0; });
  int status = 0;
  const auto deadline = Clock::now() + PATIENCE;
  while (waitpid(session->pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(session->pid, SIGKILL);
      waitpid(session->pid, &status, 0);
      return -1;
    }
    usleep(10000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string after_menu(const std::string &output)
{
  const size_t end = output.find(MENU_END);
  return end == std::string::npos ? output : output.substr(end + MENU_END.size());
}

TEST(ConsoleE2e, PipedSessionThroughEveryOperation)
{
  SKIP_WITHOUT_NAMESPACES();
  const std::string wire = ::testing::TempDir() + "console_e2e_wire.bin";
  Session session;
  launch(&session, {"--wire", wire});
  send(&session, "cursor_home\nshow_position\ninput_position\n1\n5\nshow_position\n"
                 "cursor_next\nshow_position\ncursor_prev\ncursor_backspace\nshow_position\n"
                 "display_off\ndisplay_on\nhide_cursor\nclear_screen\nshow_cursor\nno_such_entry\n7\nquit\n");
  EXPECT_EQ(finish(&session), 0) << session.err;
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
                                     "Unknown entry: no_such_entry\n"
                                     "Cursor is moved to home position now!\n"
                                     "+----------------+\n"
                                     "|                |\n"
                                     "|                |\n"
                                     "+----------------+\n"
                                     "cursor row 0 column 0\n");

  std::ifstream file(wire, std::ios::binary);
  const Bytes sent((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
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

// A module that never answers: announcements still print, each followed by a
// line saying so, and the watcher's unanswered queries name no button.
TEST(ConsoleE2e, SilentModuleIsReportedAndNamesNoButton)
{
  SKIP_WITHOUT_NAMESPACES();
  Session session;
  launch(&session, {"--silent", "--trace"});
  send(&session, "show_position\ncursor_next\nstart_watcher\n");
  EXPECT_TRUE(collect_until(&session, [](const Session &s) {
    const size_t first = s.err.find("FE 0B");
    return first != std::string::npos && s.err.find("FE 0B", first + 1) != std::string::npos;
  })) << session.err;
  send(&session, "quit\n");
  EXPECT_EQ(finish(&session), 0) << session.err;
  const std::string output = after_menu(session.out);
  EXPECT_EQ(output.substr(0, output.find("+---")), "The display module did not answer!\n"
                                                   "Cursor is moved to next column now!\n"
                                                   "The display module did not answer!\n"
                                                   "Button watcher is started now!\n");
}

} // namespace
