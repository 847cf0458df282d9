#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "fresh_process.h"
#include "serial.h"
#include "syscall_wraps.h"

namespace {

using Events = std::vector<std::string>;

// The port is the slave side of a fresh pseudo-terminal; the test plays the
// module on the master side.
class Link : public ::testing::Test {
protected:
  int master = -1;

  void SetUp() override
  {
    wraps_reset();
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    script.redirect = ptsname(master);
  }

  void TearDown() override
  {
    port_close();
    close(master);
  }

  void open_port()
  {
    script.skip_sleeps = true;
    ASSERT_GT(port_open(2), 0);
    ASSERT_EQ(port_is_open(), 1);
    events.clear();
  }

  // Waits, with a generous bound, until the port has bytes to read.
  void await_input()
  {
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 10000), 1);
  }

  std::vector<unsigned char> drain_master(size_t expected)
  {
    std::vector<unsigned char> got;
    while (got.size() < expected) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 10000) != 1)
        break;
      unsigned char buffer[64];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0)
        break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }
};

TEST_F(Link, OpenMakesThePortRawAt9600AndFlushesThreeTimes)
{
  script.skip_sleeps = true;
  const int result = port_open(2);
  EXPECT_GT(result, 0);
  EXPECT_EQ(result, fd);
  EXPECT_STREQ(devicename, "/dev/ttyS1");
  EXPECT_EQ(events, (Events{"open /dev/ttyS1", "tcflush 0", "tcsetattr", "tcflush 2", "usleep 100000",
                            "tcflush 2", "usleep 100000", "tcflush 2", "usleep 100000"}));
  EXPECT_EQ(newtio.c_cflag, static_cast<tcflag_t>(B9600 | CS8 | CREAD | HUPCL | CLOCAL));
  EXPECT_EQ(newtio.c_cflag & ~static_cast<tcflag_t>(CBAUD), 0xCB0U);

  struct termios applied {};
  ASSERT_EQ(tcgetattr(fd, &applied), 0);
  EXPECT_EQ(cfgetospeed(&applied), static_cast<speed_t>(B9600));
  EXPECT_EQ(applied.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(applied.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0U);
  EXPECT_NE(applied.c_cflag & CREAD, 0U);
  EXPECT_NE(applied.c_cflag & CLOCAL, 0U);
  EXPECT_EQ(applied.c_iflag, static_cast<tcflag_t>(IGNPAR));
  EXPECT_EQ(applied.c_oflag, 0U);
  EXPECT_EQ(applied.c_lflag, 0U);
  EXPECT_EQ(applied.c_cc[VMIN], 1);
  EXPECT_EQ(applied.c_cc[VTIME], 0);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, O_NONBLOCK);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC) << "no child process inherits the port";
}

TEST_F(Link, PortNumberCountsFromOne)
{
  script.skip_sleeps = true;
  EXPECT_GT(port_open(1), 0);
  EXPECT_STREQ(devicename, "/dev/ttyS0");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0], "open /dev/ttyS0");
}

TEST_F(Link, MissingDeviceIsReportedAndHoldsTrafficBack)
{
  script.redirect.clear();
  const bool stdin_was_open = fcntl(0, F_GETFD) != -1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(port_open(2), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "/dev/ttyS1: No such file or directory\n");
  EXPECT_STREQ(message, "Open /dev/ttyS1 fail!!\r\n");
  EXPECT_EQ(fd, 0);
  EXPECT_EQ(port_is_open(), 0);

  const unsigned char bytes[2] = {0xFE, 0x03};
  unsigned char reply = 0x55;
  errno = 0;
  EXPECT_EQ(port_write(bytes, 2), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(port_read(&reply, 1), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(port_discard_input(), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(port_drain(), -1);
  EXPECT_EQ(errno, EBADF);
  port_close();
  EXPECT_EQ(events, (Events{"open /dev/ttyS1"})) << "nothing may reach descriptor 0";
  EXPECT_EQ(reply, 0x55);
  EXPECT_EQ(fcntl(0, F_GETFD) != -1, stdin_was_open) << "standard input must stay open";
}

TEST_F(Link, BytesTravelIntactBothWays)
{
  open_port();
  const unsigned char sent[] = {0xFE, 0x09, 0x40, 0x0A, 0x0D, 0x00, 0x11, 0x13};
  EXPECT_EQ(port_write(sent, sizeof sent), static_cast<int>(sizeof sent));
  EXPECT_EQ(drain_master(sizeof sent), std::vector<unsigned char>(sent, sent + sizeof sent));

  const unsigned char replies[] = {0x0D, 0x0A, 0xFE};
  ASSERT_EQ(write(master, replies, sizeof replies), static_cast<ssize_t>(sizeof replies));
  await_input();
  script.skip_sleeps = false;
  std::vector<unsigned char> got;
  for (int i = 0; i < 3; i++) {
    unsigned char byte = 0;
    ASSERT_EQ(port_read(&byte, 1), 1);
    got.push_back(byte);
  }
  EXPECT_EQ(got, std::vector<unsigned char>(replies, replies + 3));
}

TEST_F(Link, ReadTakesAWaitingByteAtOnce)
{
  open_port();
  const unsigned char reply = 0x45;
  ASSERT_EQ(write(master, &reply, 1), 1);
  await_input();
  events.clear();
  unsigned char byte = 0;
  EXPECT_EQ(port_read(&byte, 1), 1);
  EXPECT_EQ(byte, 0x45);
  EXPECT_EQ(events, (Events{"ioctl", "read 1"}));
}

TEST_F(Link, ReadOfSilenceGivesUpAfterAboutASecond)
{
  open_port();
  unsigned char byte = 0x77;
  EXPECT_EQ(port_read(&byte, 1), 0);
  EXPECT_EQ(byte, 0x77);
  EXPECT_EQ(count_events("ioctl"), 1001);
  EXPECT_EQ(count_events("usleep 1000"), 1000);
  EXPECT_EQ(events.size(), 2001U) << "no read call for nothing";
}

// A stopping program waits neither for a reply nor for a busy port; the
// flag is for good, so the check runs in a process of its own.
TEST_F(Link, StoppedWaitsEndAfterOneTry)
{
  open_port();
  in_fresh_process([] {
    port_stop_waiting();
    unsigned char byte = 0x77;
    EXPECT_EQ(port_read(&byte, 1), 0);
    EXPECT_EQ(events, (Events{"ioctl"}));
    events.clear();
    script.writes_busy = true;
    const unsigned char bytes[2] = {1, 2};
    EXPECT_EQ(port_write(bytes, 2), 0);
    EXPECT_EQ(events, (Events{"write 2", "tcflush " + std::to_string(TCOFLUSH)}));
  });
}

TEST_F(Link, FailedByteCountEndsTheReadAtOnce)
{
  open_port();
  script.fionread_error = EIO;
  unsigned char byte = 0x77;
  errno = 0;
  EXPECT_EQ(port_read(&byte, 1), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(events, (Events{"ioctl"}));
  EXPECT_EQ(byte, 0x77);
}

TEST_F(Link, BusyPortIsWaitedOutForAboutASecond)
{
  open_port();
  script.writes_busy = true;
  const unsigned char bytes[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(port_write(bytes, 5), 0);
  EXPECT_EQ(count_events("write 5"), 101);
  EXPECT_EQ(count_events("usleep 10000"), 100);
  ASSERT_EQ(events.size(), 202U);
  EXPECT_EQ(events.back(), "tcflush " + std::to_string(TCOFLUSH)) << "what could not leave is dropped";
}

TEST_F(Link, PartialWriteIsFinished)
{
  open_port();
  script.write_plan = {3};
  const unsigned char bytes[5] = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(port_write(bytes, 5), 5);
  EXPECT_EQ(events, (Events{"write 5", "usleep 1", "write 2"}));
  EXPECT_EQ(drain_master(5), std::vector<unsigned char>(bytes, bytes + 5));
}

// A signal (the one that stops the program, say) before the write took a
// byte is no failure, even while the waits are stopped; nor is one that
// cuts a flush short.
TEST_F(Link, InterruptedWriteOrFlushIsTriedAgainAtOnce)
{
  open_port();
  const unsigned char bytes[5] = {'h', 'e', 'l', 'l', 'o'};
  in_fresh_process([&bytes] {
    port_stop_waiting();
    script.write_plan = {WRITE_INTERRUPTED, 3, WRITE_INTERRUPTED};
    EXPECT_EQ(port_write(bytes, 5), 5);
    EXPECT_EQ(events, (Events{"write 5", "write 5", "usleep 1", "write 2", "write 2"}));
  });
  EXPECT_EQ(drain_master(5), std::vector<unsigned char>(bytes, bytes + 5));
  script.flushes_interrupted = 2;
  EXPECT_EQ(port_discard_input(), 0);
  EXPECT_EQ(count_events("tcflush " + std::to_string(TCIFLUSH)), 3);
}

TEST_F(Link, EmptyAndNegativeWrites)
{
  open_port();
  const unsigned char byte = 0;
  EXPECT_EQ(port_write(&byte, 0), 0);
  EXPECT_EQ(events, (Events{"write 0"}));
  errno = 0;
  EXPECT_EQ(port_write(&byte, -1), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(events.size(), 1U);
}

TEST_F(Link, WriteErrorsOtherThanBusyFailAtOnce)
{
  open_port();
  close(master);
  master = -1;
  const unsigned char bytes[3] = {1, 2, 3};
  // With the master gone the line is hung up.
  errno = 0;
  EXPECT_EQ(port_write(bytes, 3), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(count_events("usleep 10000"), 0);
}

TEST_F(Link, BusyAllowanceStartsAfreshAfterAPartialWrite)
{
  open_port();
  script.write_plan.assign(100, WRITE_BUSY);
  script.write_plan.push_back(3);
  script.write_plan.insert(script.write_plan.end(), 100, WRITE_BUSY);
  const unsigned char bytes[5] = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(port_write(bytes, 5), 5);
  EXPECT_EQ(count_events("usleep 10000"), 200);
  EXPECT_EQ(count_events("usleep 1"), 1);
  EXPECT_EQ(drain_master(5), std::vector<unsigned char>(bytes, bytes + 5));
}

TEST_F(Link, DrainWaitsUntilTheOutputQueueIsEmpty)
{
  open_port();
  script.output_queued = {3, 1, 0};
  EXPECT_EQ(port_drain(), 0);
  EXPECT_EQ(events, (Events{"outq", "usleep 1000", "outq", "usleep 1000", "outq", "lsr"}));

  events.clear();
  script.output_queued = {4};
  errno = 0;
  EXPECT_EQ(port_drain(), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_EQ(count_events("outq"), 1001);
  EXPECT_EQ(count_events("usleep 1000"), 1000);

  events.clear();
  script.output_queued = {2};
  script.outq_error = EIO;
  errno = 0;
  EXPECT_EQ(port_drain(), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(events, (Events{"outq"}));
}

// A pseudo-terminal reports no output queue at all; what it does show is
// the hang-up when the other side closes.
TEST_F(Link, DrainOfAHungUpLineFails)
{
  open_port();
  EXPECT_EQ(port_drain(), 0);
  close(master);
  master = -1;
  errno = 0;
  EXPECT_EQ(port_drain(), -1);
  EXPECT_EQ(errno, EIO);
}

// The output queue leaves out the bytes already in the UART; the line
// status tells when the transmitter has sent its last bit.
TEST_F(Link, DrainWaitsForTheTransmitterWhereTheDriverTellsIt)
{
  open_port();
  script.output_queued = {2, 0};
  script.line_status = {0, 0, TIOCSER_TEMT};
  EXPECT_EQ(port_drain(), 0);
  EXPECT_EQ(events, (Events{"outq", "usleep 1000", "outq", "lsr", "usleep 1000", "outq", "lsr", "usleep 1000",
                            "outq", "lsr"}));

  // A pseudo-terminal has no line status: the empty queue alone stands.
  events.clear();
  script.output_queued.clear();
  script.line_status.clear();
  EXPECT_EQ(port_drain(), 0);
  EXPECT_EQ(events, (Events{"outq", "lsr"}));

  events.clear();
  script.lsr_error = EIO;
  errno = 0;
  EXPECT_EQ(port_drain(), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(events, (Events{"outq", "lsr"}));
}

// Bytes held in a stuck transmitter would make the close wait for the
// driver's closing_wait: the drain that gives up drops them, and the close
// after it does not wait a second time.
TEST_F(Link, OutputThatCannotLeaveIsDroppedBeforeTheClose)
{
  const std::string drop = "tcflush " + std::to_string(TCOFLUSH);
  open_port();
  script.line_status = {0};
  errno = 0;
  EXPECT_EQ(port_drain(), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_EQ(count_events("usleep 1000"), 1000);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), drop);
  events.clear();
  port_close();
  EXPECT_EQ(events, (Events{drop}));

  // A healthy line is let go as it is: nothing dropped.
  open_port();
  script.line_status = {TIOCSER_TEMT};
  port_close();
  EXPECT_EQ(events, (Events{"outq", "lsr"}));
  EXPECT_EQ(port_is_open(), 0);
}

// A program that ends without closing the port, its output stuck: the link
// closes the port at exit and drops that output first. The terminal's packet
// mode shows the drop to the test, on the module's side of the line.
TEST_F(Link, ExitDropsOutputThatCannotLeave)
{
  int opened[2];
  int go[2];
  ASSERT_EQ(pipe(opened), 0);
  ASSERT_EQ(pipe(go), 0);
  fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    script.skip_sleeps = true;
    script.line_status = {0};
    const char result = port_open(2) > 0 ? 'y' : 'n';
    char ignored = 0;
    if (write(opened[1], &result, 1) != 1 || read(go[0], &ignored, 1) != 1)
      _exit(2);
    exit(0);
  }
  char result = 0;
  ASSERT_EQ(read(opened[0], &result, 1), 1);
  ASSERT_EQ(result, 'y');
  int packet_mode = 1;
  ASSERT_EQ(ioctl(master, TIOCPKT, &packet_mode), 0);
  ASSERT_EQ(write(go[1], &result, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  for (const int end : {opened[0], opened[1], go[0], go[1]})
    close(end);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::vector<unsigned char> packet = drain_master(1);
  ASSERT_FALSE(packet.empty()) << "the port was closed without a drop";
  EXPECT_NE(packet[0] & TIOCPKT_FLUSHWRITE, 0) << int{packet[0]};
}

// A loaded machine sleeps longer than asked; each wait still ends when its
// time on the monotonic clock is up, after fewer pauses.
TEST_F(Link, WaitsAreBoundedByTheClockNotByCountingPauses)
{
  open_port();
  script.sleep_stretch = 4;
  unsigned char byte = 0;
  EXPECT_EQ(port_read(&byte, 1), 0);
  EXPECT_EQ(count_events("ioctl"), 251);

  events.clear();
  script.output_queued = {1};
  EXPECT_EQ(port_drain(), -1);
  EXPECT_EQ(count_events("outq"), 251);

  events.clear();
  script.writes_busy = true;
  EXPECT_EQ(port_write(&byte, 1), 0);
  EXPECT_EQ(count_events("write 1"), 26);
  port_close();

  // Another program holds the port: about 2 s, in pauses of 10 ms stretched to 40.
  const int holder = open(script.redirect.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  events.clear();
  testing::internal::CaptureStderr();
  errno = 0;
  EXPECT_EQ(port_open(2), 0);
  EXPECT_EQ(errno, EBUSY);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.rfind("/dev/ttyS1: in use by another program (pid " + std::to_string(getpid()), 0), 0U)
      << said;
  EXPECT_EQ(count_events("usleep 10000"), 50);
  close(holder);
}

// LCM_DEVICE names the device: opened whole up to the 79 bytes the device
// name holds, refused beyond, never cut to another path; empty is unset.
TEST_F(Link, DeviceNamedByTheEnvironmentIsOpenedWholeOrRefused)
{
  const std::string longest = "/dev/ttyS-" + std::string(69, 'x');
  ASSERT_EQ(longest.size(), sizeof devicename - 1);
  script.skip_sleeps = true;
  for (const auto &[value, opened] :
       {std::pair{std::string(), "/dev/ttyS1"}, std::pair{longest, longest.c_str()}}) {
    ASSERT_EQ(setenv("LCM_DEVICE", value.c_str(), 1), 0);
    events.clear();
    EXPECT_GT(port_open(2), 0) << value;
    EXPECT_STREQ(devicename, opened);
    EXPECT_EQ(events.at(0), std::string("open ") + opened);
    port_close();
  }

  const std::string too_long = longest + "y";
  ASSERT_EQ(setenv("LCM_DEVICE", too_long.c_str(), 1), 0);
  events.clear();
  testing::internal::CaptureStderr();
  errno = 0;
  EXPECT_EQ(port_open(2), 0);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), too_long + ": the device path is longer than 79 bytes\n");
  EXPECT_TRUE(events.empty()) << "nothing is opened, least of all a cut path";
  EXPECT_STREQ(port_name(2), too_long.c_str());
  ASSERT_EQ(unsetenv("LCM_DEVICE"), 0);
}

TEST_F(Link, SessionLeaderDoesNotGetThePortAsItsTerminal)
{
  script.skip_sleeps = true;
  in_fresh_process([] {
    ASSERT_GE(setsid(), 0);
    ASSERT_GT(port_open(2), 0);
    errno = 0;
    EXPECT_EQ(tcgetsid(fd), -1) << "the port became the controlling terminal of session " << tcgetsid(fd);
    EXPECT_EQ(errno, ENOTTY);
  });
}

} // namespace
