// Who holds the port's lock, told from the system's lock table: the pid a
// program may hand its text to, and the one named when the port is busy.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "serial.h"
#include "syscall_wraps.h"

namespace {

class Holder : public ::testing::Test {
protected:
  int master = -1;
  std::string slave;
  std::string folder;

  void SetUp() override
  {
    wraps_reset();
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    slave = ptsname(master);
    char pattern[] = "/tmp/lcm-holder-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
  }

  void TearDown() override
  {
    wraps_reset();
    close(master);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  // A descriptor of the slave's own, locked as the link locks the port.
  int lock_slave() const
  {
    const int held = open(slave.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(held, 0);
    EXPECT_EQ(flock(held, LOCK_EX), 0);
    return held;
  }

  // A lock table of the given lines, as /proc/locks shows them.
  std::string table(const std::string &lines) const
  {
    std::string path = folder + "/locks";
    std::ofstream(path) << lines;
    return path;
  }

  // The table's line for a flock on the slave held by pid.
  std::string line_for(long pid) const
  {
    struct stat node {};
    EXPECT_EQ(stat(slave.c_str(), &node), 0);
    char line[128];
    snprintf(line, sizeof line, "7: FLOCK  ADVISORY  WRITE %ld %02x:%02x:%lu 0 EOF\n", pid,
             major(node.st_dev), minor(node.st_dev), static_cast<unsigned long>(node.st_ino));
    return line;
  }
};

TEST_F(Holder, IsTheProcessHoldingTheLockOnTheDeviceWhateverPathLeadsToIt)
{
  EXPECT_EQ(port_holder(slave.c_str()), 0) << "nobody holds it";
  const int held = lock_slave();
  EXPECT_EQ(port_holder(slave.c_str()), getpid());
  const std::string link = folder + "/lcd";
  ASSERT_EQ(symlink(slave.c_str(), link.c_str()), 0);
  EXPECT_EQ(port_holder(link.c_str()), getpid()) << "a link leads to the same device";
  close(held);
  EXPECT_EQ(port_holder(link.c_str()), 0);

  // Another process: it says when it holds the lock and lets go when told.
  int ready[2];
  int done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int mine = open(slave.c_str(), O_RDWR | O_NOCTTY);
    const char byte = mine >= 0 && flock(mine, LOCK_EX) == 0 ? 'y' : 'n';
    (void)!write(ready[1], &byte, 1);
    char go = 0;
    (void)!read(done[0], &go, 1);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'y');
  EXPECT_EQ(port_holder(slave.c_str()), child);
  ASSERT_EQ(write(done[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(port_holder(slave.c_str()), 0) << "the lock went with its holder";
  for (const int end : {ready[0], ready[1], done[0], done[1]})
    close(end);
}

// What the port's open would refuse before opening is refused here too.
TEST_F(Holder, PathsTheOpenWouldRefuseAreRefused)
{
  const std::string regular = folder + "/ttyS1";
  std::ofstream(regular) << "not a port";
  const std::string pipe_path = folder + "/pipe";
  ASSERT_EQ(mkfifo(pipe_path.c_str(), 0600), 0);
  const std::string missing_79 = folder + "/" + std::string(79 - folder.size() - 1, 'm');
  ASSERT_EQ(missing_79.size(), 79U);
  const std::pair<std::string, int> cases[] = {{regular, ENOTTY},    {pipe_path, ENOTTY},
                                               {folder, ENOTTY},     {folder + "/none", ENOENT},
                                               {missing_79, ENOENT}, {missing_79 + "x", ENAMETOOLONG}};
  for (const auto &[path, error] : cases) {
    errno = 0;
    EXPECT_EQ(port_holder(path.c_str()), -1) << path;
    EXPECT_EQ(errno, error) << path;
  }
}

// A table that cannot be read, or whose pids are another namespace's, tells
// no holder; a holder outside this namespace (pid 0) is none.
TEST_F(Holder, TableThatCannotTellNamesNoHolder)
{
  const int held = lock_slave();
  script.proc_self = "4000000";
  errno = 0;
  EXPECT_EQ(port_holder(slave.c_str()), -1);
  EXPECT_EQ(errno, ESRCH);
  script.proc_self = std::to_string(getpid());
  EXPECT_EQ(port_holder(slave.c_str()), getpid());

  script.locks_table = folder + "/none";
  errno = 0;
  EXPECT_EQ(port_holder(slave.c_str()), -1);
  EXPECT_EQ(errno, ENOENT);

  script.locks_table = table("1: POSIX  ADVISORY  WRITE 77 00:05:17 0 EOF\n" + line_for(0) + line_for(4242));
  EXPECT_EQ(port_holder(slave.c_str()), 4242) << "the dev and inode are read as the table writes them";
  script.locks_table = table("1: FLOCK  ADVISORY  WRITE 99 00:00:1 0 EOF\n" + line_for(0));
  EXPECT_EQ(port_holder(slave.c_str()), 0);

  std::string filler;
  while (filler.size() <= 65536 + 8192)
    filler += "1: FLOCK  ADVISORY  WRITE 99 00:00:1 0 EOF\n";
  script.locks_table = table(filler + line_for(4242));
  errno = 0;
  EXPECT_EQ(port_holder(slave.c_str()), -1) << "a table too long to read through tells nothing";
  EXPECT_EQ(errno, EFBIG);
  close(held);
}

TEST_F(Holder, BusyPortIsNotPinnedOnAPidOfAnotherNamespace)
{
  script.redirect = slave;
  script.skip_sleeps = true;
  script.proc_self = "4000000";
  const int held = lock_slave();
  testing::internal::CaptureStderr();
  EXPECT_EQ(port_open(2), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "/dev/ttyS1: in use by another program\n");
  close(held);
}

} // namespace
