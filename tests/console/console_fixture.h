// Shared by the console tests: a started driver with a clean record, and a
// console session fed from a string with its standard output captured.
#ifndef LCM_TESTS_CONSOLE_FIXTURE_H
#define LCM_TESTS_CONSOLE_FIXTURE_H

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "bytes.h"

#include "console.h"
#include "fake_port.h"
#include "lcm.h"

class ConsoleTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    // The first operation of the process starts the driver; start it here so
    // that every test sees only its own bytes.
    (void)lcm_clear();
    fake_reset();
  }
  void TearDown() override
  {
    (void)watcher_stop();
  }
};

inline const std::string MENU_END = "An empty line shows this menu again.\n";

struct SessionResult {
  int status;
  std::string out; // after the opening menu
  std::string err;
};

inline SessionResult console_session_result(std::string input)
{
  FILE *stream = input.empty() ? fopen("/dev/null", "r") : fmemopen(input.data(), input.size(), "r");
  EXPECT_NE(stream, nullptr);
  if (!stream)
    return {-1, {}, {}};
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = console_run(stream);
  std::string output = ::testing::internal::GetCapturedStdout();
  std::string errors = ::testing::internal::GetCapturedStderr();
  fclose(stream);
  const size_t menu_end = output.find(MENU_END);
  EXPECT_NE(menu_end, std::string::npos) << output;
  if (menu_end != std::string::npos)
    output = output.substr(menu_end + MENU_END.size());
  return {status, output, errors};
}

// What a session in which everything worked printed after its opening menu.
inline std::string console_session(const std::string &input)
{
  const SessionResult result = console_session_result(input);
  EXPECT_EQ(result.status, 0) << input;
  EXPECT_EQ(result.err, "") << input;
  return result.out;
}

// Conditions are polled with a generous bound, for a busy machine.
template <typename Condition> bool wait_until(Condition done)
{
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}

inline size_t count_commands(const Bytes &sent, unsigned char code)
{
  size_t count = 0;
  for (size_t i = 0; i + 1 < sent.size(); i++)
    count += sent[i] == 0xFE && sent[i + 1] == code ? 1 : 0;
  return count;
}

inline bool key_queries_at_least(size_t count)
{
  return count_commands(fake_sent(), 0x0B) >= count;
}

#endif
