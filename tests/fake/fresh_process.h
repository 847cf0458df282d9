// Runs a test body in a child process, for tests that need a driver that has
// not started yet (the driver starts once per process). The child's failures
// print as usual and turn into its exit status, which the parent checks.
#ifndef LCM_TESTS_FRESH_PROCESS_H
#define LCM_TESTS_FRESH_PROCESS_H

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

template <typename Body> void in_fresh_process(Body body)
{
  fflush(stdout);
  fflush(stderr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    body();
    fflush(stdout);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's checks failed (see above)";
}

#endif
