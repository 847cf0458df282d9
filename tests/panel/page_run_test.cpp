// Page commands run for real: their output, their end, their timeout and
// the processes they leave behind.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "panel.h"

namespace {

using Clock = std::chrono::steady_clock;

long long now_ms()
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

std::string row_text(const PageRun &run, int row)
{
  const PanelRow &cells = run.output.rows[static_cast<size_t>(row)];
  const std::string text(cells.begin(), cells.end());
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

// Polls as the panel's loop does, until the run is over or 30 s have passed.
int run_to_end(const char *command, int timeout_ms, PageRun *run)
{
  EXPECT_EQ(page_run_start(run, command, now_ms(), timeout_ms), 0);
  const auto bound = Clock::now() + std::chrono::seconds(30);
  int state = PAGE_RUN_BUSY;
  while (state == PAGE_RUN_BUSY && Clock::now() < bound) {
    usleep(1000);
    state = page_run_poll(run, now_ms());
  }
  return state;
}

bool gone(const std::string &pid)
{
  std::ifstream file("/proc/" + pid + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return stat.empty() || stat.find(") Z ") != std::string::npos;
}

// Killed processes end a moment later; the panel collects its own.
bool gone_soon(const std::string &pid)
{
  const auto bound = Clock::now() + std::chrono::seconds(20);
  while (!gone(pid) && Clock::now() < bound)
    usleep(1000);
  page_run_reap();
  return gone(pid);
}

TEST(PageRun, PipelineOutputWhateverTheStatus)
{
  PageRun run;
  ASSERT_EQ(run_to_end("printf 'one\\ntwo\\nthree\\n' | cat; exit 3", 20000, &run), PAGE_RUN_DONE);
  EXPECT_EQ(row_text(run, 0), "one");
  EXPECT_EQ(row_text(run, 1), "two");
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 3) << run.status;
  EXPECT_EQ(run.pid, -1);
  EXPECT_EQ(run.pipe, -1);
}

TEST(PageRun, InputIsEmptyAndThePanelsDescriptorsStayOut)
{
  // Like the port would be if it were not closed on exec.
  const int inherited = open("/dev/null", O_RDONLY);
  ASSERT_GE(inherited, 3);
  const std::string command = "cat; if [ -e /proc/self/fd/" + std::to_string(inherited) +
                              " ]; then echo leaked; else echo closed; fi";
  PageRun run;
  ASSERT_EQ(run_to_end(command.c_str(), 20000, &run), PAGE_RUN_DONE);
  close(inherited);
  EXPECT_EQ(row_text(run, 0), "closed");
}

TEST(PageRun, OutputBeyondWhatAPipeHoldsIsReadAway)
{
  PageRun run;
  ASSERT_EQ(run_to_end("yes 0123456789abcdefghij | head -c 1000000", 20000, &run), PAGE_RUN_DONE);
  EXPECT_EQ(row_text(run, 0), "0123456789abcdef");
  EXPECT_EQ(row_text(run, 1), "0123456789abcdef");
}

TEST(PageRun, HangIsKilledAtItsTimeoutWithItsWholePipeline)
{
  PageRun run;
  const long long started = now_ms();
  ASSERT_EQ(run_to_end("echo $$; sleep 1000 & echo $!; wait", 300, &run), PAGE_RUN_TIMED_OUT);
  EXPECT_GE(now_ms() - started, 300);
  EXPECT_EQ(run.pid, -1);
  const std::string shell = row_text(run, 0);
  const std::string sleeper = row_text(run, 1);
  ASSERT_FALSE(shell.empty());
  ASSERT_FALSE(sleeper.empty());
  EXPECT_TRUE(gone_soon(shell));
  EXPECT_TRUE(gone_soon(sleeper));
  // The shell was the panel's own child: collected, not left a zombie.
  EXPECT_EQ(waitpid(std::stoi(shell), nullptr, WNOHANG), -1);
}

TEST(PageRun, ShellThatLeavesABackgroundJobIsDoneWhenItEnds)
{
  PageRun run;
  ASSERT_EQ(run_to_end("echo quick; sleep 1000 & echo $!", 20000, &run), PAGE_RUN_DONE);
  EXPECT_EQ(row_text(run, 0), "quick");
  EXPECT_TRUE(gone_soon(row_text(run, 1)));
}

// The collector takes what no run tracks (here a child that ended first)
// and leaves an ended command to its run, whose status it would lose.
TEST(PageRun, CollectorLeavesATrackedCommandToItsRun)
{
  const pid_t stray = fork();
  ASSERT_GE(stray, 0);
  if (stray == 0)
    _exit(0);
  siginfo_t ended{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(stray), &ended, WEXITED | WNOWAIT), 0);
  PageRun run;
  ASSERT_EQ(page_run_start(&run, "exit 4", now_ms(), 20000), 0);
  siginfo_t info{};
  const auto bound = Clock::now() + std::chrono::seconds(30);
  while (info.si_pid != run.pid && Clock::now() < bound) {
    usleep(1000);
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(run.pid), &info, WEXITED | WNOHANG | WNOWAIT), 0);
  }
  page_run_reap();
  EXPECT_EQ(waitpid(stray, nullptr, WNOHANG), -1);
  EXPECT_EQ(page_run_poll(&run, now_ms()), PAGE_RUN_DONE);
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 4) << run.status;
}

} // namespace
