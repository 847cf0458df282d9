// The socket of the program that holds the port is named after the device
// itself: every path to one device finds the same socket, and what the
// port's open refuses finds none.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "lcm.h"

namespace {

class SharePath : public ::testing::Test {
protected:
  std::string folder;
  std::string chosen_socket;
  int master = -1;

  void SetUp() override
  {
    // Every test program has a socket of its own chosen; these tests want the
    // name the device gives.
    chosen_socket = getenv("LCM_PANEL_SOCKET");
    ASSERT_EQ(unsetenv("LCM_PANEL_SOCKET"), 0);
    char pattern[] = "/tmp/lcm-share-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
  }

  void TearDown() override
  {
    ASSERT_EQ(setenv("LCM_PANEL_SOCKET", chosen_socket.c_str(), 1), 0);
    ASSERT_EQ(unsetenv("LCM_DEVICE"), 0);
    if (master >= 0)
      close(master);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  // The path lcm_share_path gives for the device, or "-1 ERRNO".
  static std::string share_for(const std::string &device)
  {
    EXPECT_EQ(setenv("LCM_DEVICE", device.c_str(), 1), 0);
    char path[108];
    errno = 0;
    if (lcm_share_path(path, sizeof path) < 0)
      return "-1 " + std::to_string(errno);
    return path;
  }

  std::string link_to(const std::string &target, const std::string &name) const
  {
    std::string path = folder + "/" + name;
    EXPECT_EQ(symlink(target.c_str(), path.c_str()), 0);
    return path;
  }

  std::string new_pty_slave()
  {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    return ptsname(master);
  }
};

TEST_F(SharePath, EveryPathToADeviceInDevGivesItsNameThere)
{
  EXPECT_EQ(share_for("/dev/null"), "/run/lcm-panel/null.sock");
  const std::string link = link_to("/dev/null", "lcd");
  EXPECT_EQ(share_for(link), "/run/lcm-panel/null.sock");
  EXPECT_EQ(share_for(link_to(link, "by-id-usb-0403-6001")), "/run/lcm-panel/null.sock") << "links of links";
  EXPECT_EQ(share_for("/dev/../dev/./tty"), "/run/lcm-panel/tty.sock");
}

// A device /dev has no node of that name for (a pseudo-terminal's slave in
// /dev/pts) is named by its number, which no other device shares.
TEST_F(SharePath, DeviceWithoutANameOfItsOwnInDevIsNamedByItsNumber)
{
  const std::string slave = new_pty_slave();
  struct stat node {};
  ASSERT_EQ(stat(slave.c_str(), &node), 0);
  const std::string expected = "/run/lcm-panel/char-" + std::to_string(major(node.st_rdev)) + "-" +
                               std::to_string(minor(node.st_rdev)) + ".sock";
  EXPECT_EQ(share_for(slave), expected);
  EXPECT_EQ(share_for(link_to(slave, "ttyS1")), expected) << "not the last part of the path";
}

TEST_F(SharePath, WhatTheOpenRefusesHasNoSocket)
{
  const std::string plain = folder + "/ttyS1";
  std::ofstream(plain) << "a plain file";
  const std::string eighty = folder + "/" + std::string(80 - folder.size() - 1 - 6, 'x') + "/ttyS1";
  ASSERT_EQ(eighty.size(), 80U);
  EXPECT_EQ(share_for(plain), "-1 " + std::to_string(ENOTTY));
  EXPECT_EQ(share_for(folder), "-1 " + std::to_string(ENOTTY));
  EXPECT_EQ(share_for(link_to(plain, "lcd")), "-1 " + std::to_string(ENOTTY));
  EXPECT_EQ(share_for(folder + "/missing"), "-1 " + std::to_string(ENOENT));
  EXPECT_EQ(share_for(eighty), "-1 " + std::to_string(ENAMETOOLONG));
}

TEST_F(SharePath, ChosenSocketWinsAndMustFit)
{
  ASSERT_EQ(setenv("LCM_PANEL_SOCKET", (folder + "/panel.sock").c_str(), 1), 0);
  EXPECT_EQ(share_for(folder + "/missing"), folder + "/panel.sock");
  ASSERT_EQ(setenv("LCM_PANEL_SOCKET", (folder + "/" + std::string(120, 's')).c_str(), 1), 0);
  EXPECT_EQ(share_for("/dev/null"), "-1 " + std::to_string(ENAMETOOLONG));
  ASSERT_EQ(setenv("LCM_PANEL_SOCKET", "", 1), 0);
  EXPECT_EQ(share_for("/dev/null"), "/run/lcm-panel/null.sock") << "empty is unset";
}

} // namespace
