// A program run under lcm-emu while a test talks to it: its standard output
// and error on pipes, its input on a pipe or /dev/null.
//
//   session_spawn(&session, words, with_input)  start words (lcm-emu and its arguments)
//   collect_until(&session, done)                read both streams until done(session) holds,
//                                                both end or the patience runs out; done(session)
//   wait_for_exit(&session)                      read to the end and reap; the exit status, -1 when
//                                                a signal ended it or it had to be killed
//   Scratch scratch; scratch.file(name)          a folder of the test's own, removed afterwards
//   read_file(path)                              a file's bytes, empty when it cannot be read
//   box(row0, row1)                              the screen lcm-emu draws at the end
//   trace_tail(err)                              the last 40 lines of a run's standard error, for a
//                                                failure's message (a trace runs to thousands)
//   StopSignalsBlocked blocked;                  what is spawned meanwhile starts with SIGTERM,
//                                                SIGINT and SIGHUP blocked
#ifndef LCM_TESTS_E2E_EMULATOR_SESSION_H
#define LCM_TESTS_E2E_EMULATOR_SESSION_H

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct EmulatorSession {
  pid_t pid = -1;
  int input = -1;
  int output = -1;
  int errors = -1;
  std::string out;
  std::string err;
};

// Generous: the emulator may share two busy cores with sanitizer builds.
inline constexpr auto SESSION_PATIENCE = std::chrono::seconds(30);

inline void session_spawn(EmulatorSession *session, std::vector<std::string> words, bool with_input)
{
  // A program that stops reading its input must not end the test.
  signal(SIGPIPE, SIG_IGN);
  std::vector<char *> argv;
  for (std::string &word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  int to_child[2] = {-1, -1};
  int from_child[2];
  int errors_from_child[2];
  if (with_input) {
    ASSERT_EQ(pipe2(to_child, O_CLOEXEC), 0);
  }
  ASSERT_EQ(pipe2(from_child, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(errors_from_child, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (with_input)
    posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errors_from_child[1], 2);
  ASSERT_EQ(posix_spawn(&session->pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  if (with_input)
    close(to_child[0]);
  close(from_child[1]);
  close(errors_from_child[1]);
  session->input = to_child[1];
  session->output = from_child[0];
  session->errors = errors_from_child[0];
}

// A template, so that done sees the test's own kind of session.
template <typename Session, typename Condition> bool collect_until(Session *session, Condition done)
{
  EmulatorSession *streams = session;
  const auto deadline = std::chrono::steady_clock::now() + SESSION_PATIENCE;
  while (!done(*session) && std::chrono::steady_clock::now() < deadline &&
         (streams->output >= 0 || streams->errors >= 0)) {
    pollfd fds[2] = {{streams->output, POLLIN, 0}, {streams->errors, POLLIN, 0}};
    if (poll(fds, 2, 100) < 0 && errno != EINTR)
      return false;
    for (int i = 0; i < 2; i++) {
      if (fds[i].revents == 0)
        continue;
      int *descriptor = i == 0 ? &streams->output : &streams->errors;
      std::string *text = i == 0 ? &streams->out : &streams->err;
      char buffer[8192];
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

// The input, if any, stays open.
inline int wait_for_exit(EmulatorSession *session)
{
  collect_until(session, [](const EmulatorSession &s) { return s.output < 0 && s.errors < 0; });
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + SESSION_PATIENCE;
  while (waitpid(session->pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(session->pid, SIGKILL);
      waitpid(session->pid, &status, 0);
      ADD_FAILURE() << "lcm-emu did not end";
      return -1;
    }
    usleep(10000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// For the wire file, named pipes, sockets and page commands' notes.
struct Scratch {
  std::string path;
  Scratch() : path(::testing::TempDir() + "lcm_test.XXXXXX")
  {
    EXPECT_NE(mkdtemp(path.data()), nullptr);
  }
  ~Scratch()
  {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  std::string file(const char *name) const
  {
    return path + "/" + name;
  }
};

inline std::string read_file(const std::string &path)
{
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::string box(const std::string &row0, const std::string &row1)
{
  const std::string edge = "+----------------+\n";
  return edge + "|" + row0 + std::string(16 - row0.size(), ' ') + "|\n|" + row1 +
         std::string(16 - row1.size(), ' ') + "|\n" + edge;
}

inline std::string trace_tail(const std::string &err, size_t lines = 40)
{
  // The newline that ends the last line does not count.
  size_t start = !err.empty() ? err.size() - 1 : 0;
  size_t seen = 0;
  while (start > 0 && seen < lines) {
    start = err.rfind('\n', start - 1);
    if (start == std::string::npos)
      return err;
    seen++;
  }
  if (seen < lines)
    return err;
  return "(the last " + std::to_string(lines) + " lines of standard error)\n" + err.substr(start + 1);
}

// As some service managers and shells leave them; the mask is the test
// thread's, so only what is spawned while this lives inherits it.
struct StopSignalsBlocked {
  sigset_t previous{};
  StopSignalsBlocked()
  {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP})
      sigaddset(&stops, signal_number);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
  }
  ~StopSignalsBlocked()
  {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  StopSignalsBlocked(const StopSignalsBlocked &) = delete;
  StopSignalsBlocked &operator=(const StopSignalsBlocked &) = delete;
};

#endif
