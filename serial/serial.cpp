#include "serial.h"
#include "serial_internal.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

int fd;
char devicename[80];
char message[256];
struct termios oldtio;
struct termios newtio;
int BAUD;
int DATABITS;
int PARITYON;
int STOPBITS;

namespace {

// fd keeps 0 after a failed open, and 0 may also be a real port when standard
// input was closed, so whether the port is usable is kept apart.
int port_opened;
// Set once output could not leave and was dropped; the close then drops
// whatever was queued since instead of waiting for it again.
bool output_stuck;
bool exit_close_registered;
// Set once, from any thread or a signal handler, by a program that stops.
std::atomic<bool> waits_stopped{false};

constexpr const char *DEVICE_VARIABLE = "LCM_DEVICE";

constexpr useconds_t FLUSH_PAUSE_US = 100000;
constexpr int FLUSH_COUNT = 3;
// Every wait below is bounded by the monotonic clock, not by counting its
// pauses: on a loaded machine each pause takes longer, the wait does not.
constexpr long long SECOND_US = 1000000;
// A port that stays busy is waited out for about a second.
constexpr useconds_t BUSY_PAUSE_US = 10000;
constexpr long long BUSY_BOUND_US = SECOND_US;
constexpr useconds_t PARTIAL_PAUSE_US = 1;
constexpr int INTERRUPTED_CALL_TRIES = 4;
// A reply is waited for about a second.
constexpr useconds_t POLL_PAUSE_US = 1000;
constexpr long long POLL_BOUND_US = SECOND_US;
// Another program holding the port is waited for about 2 s.
constexpr useconds_t LOCK_PAUSE_US = 10000;
constexpr long long LOCK_BOUND_US = 2 * SECOND_US;
// The output is waited on for about a second.
constexpr useconds_t DRAIN_PAUSE_US = 1000;
constexpr long long DRAIN_BOUND_US = SECOND_US;
// The first descriptor that is none of the standard streams.
constexpr int FIRST_FREE_DESCRIPTOR = 3;

long long port_clock_us()
{
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * SECOND_US + now.tv_nsec / 1000;
}

// Tries until the attempt settles (1 done, -1 failed, errno kept) or bound_us
// has passed since the first try, pausing between tries; 0 when the time ran
// out with the attempt still unsettled. Its last try comes after the bound.
// A stoppable wait also ends as unsettled, after a try, once the program
// has stopped waiting.
template <typename Attempt>
int port_retry(long long bound_us, useconds_t pause_us, bool stoppable, Attempt attempt)
{
  const long long start = port_clock_us();
  for (;;) {
    const int settled = attempt();
    if (settled != 0)
      return settled;
    if (port_clock_us() - start >= bound_us || (stoppable && waits_stopped.load(std::memory_order_relaxed)))
      return 0;
    usleep(pause_us);
  }
}

// A terminal's write gives way to a signal before it has taken a byte, and
// so does a flush held by whatever stands behind the line (the emulator
// holds one until it has read what was written before): the signal that
// stops a program must not cut its last screen. The call is made again, a
// few times at most; its last result is returned.
template <typename Call> auto port_past_signals(Call call)
{
  auto result = call();
  for (int tries = 1; result < 0 && errno == EINTR && tries < INTERRUPTED_CALL_TRIES; tries++)
    result = call();
  return result;
}

int port_flush(int queue)
{
  return port_past_signals([queue] { return tcflush(fd, queue); });
}

// Output that cannot leave is dropped: a close would otherwise wait for it
// for the driver's closing_wait (30 s by default).
void port_give_up_output()
{
  (void)port_flush(TCOFLUSH);
  output_stuck = true;
}

// 1 when the transmitter has sent its last bit. A pseudo-terminal cannot
// tell (ENOTTY; EINVAL from some drivers), and then the empty output queue
// alone stands.
int port_transmitter_empty()
{
  unsigned int status = 0;
  if (ioctl(fd, TIOCSERGETLSR, &status) < 0)
    return errno == ENOTTY || errno == EINVAL ? 1 : -1;
  return (status & TIOCSER_TEMT) != 0 ? 1 : 0;
}

// The queue does not count the bytes already handed to the UART (its FIFO
// and shift register); the transmitter's own state does.
int port_output_sent()
{
  int queued = 0;
  if (ioctl(fd, TIOCOUTQ, &queued) < 0)
    return -1;
  if (queued > 0)
    return 0;
  return port_transmitter_empty();
}

// All line settings are decided here and applied once.
void port_build_settings()
{
  newtio = oldtio;
  newtio.c_iflag = IGNPAR;
  newtio.c_oflag = 0;
  newtio.c_cflag = static_cast<tcflag_t>(BAUD | DATABITS | CREAD | HUPCL | CLOCAL);
  newtio.c_lflag = 0;
  newtio.c_cc[VTIME] = 0;
  newtio.c_cc[VMIN] = 1;
}

// Every failed open ends here: one line naming the device, the port counted
// as not open, errno kept for the caller.
int port_open_failed(const char *path, int error, const char *reason)
{
  fprintf(stderr, "%s: %s\n", path, reason);
  snprintf(message, sizeof message, "Open %s fail!!\r\n", path);
  fd = 0;
  port_opened = 0;
  errno = error;
  return 0;
}

int port_open_failed(int error)
{
  std::array<char, 128> reason{};
  return port_open_failed(devicename, error, strerror_r(error, reason.data(), reason.size()));
}

// With a standard stream closed, the open lands on its number, and the
// program's own messages would go to the module.
int port_move_above_standard(int opened)
{
  if (opened >= FIRST_FREE_DESCRIPTOR)
    return opened;
  const int moved = fcntl(opened, F_DUPFD_CLOEXEC, FIRST_FREE_DESCRIPTOR);
  const int error = errno;
  close(opened);
  errno = error;
  return moved;
}

// 0 once the lock is held, or -1 with errno (EBUSY when another holds it).
int port_lock(int descriptor)
{
  const int settled = port_retry(LOCK_BOUND_US, LOCK_PAUSE_US, false, [descriptor] {
    if (flock(descriptor, LOCK_EX | LOCK_NB) == 0)
      return 1;
    return errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
  });
  if (settled == 0)
    errno = EBUSY;
  return settled > 0 ? 0 : -1;
}

// Opens, moves and checks the device; the descriptor, or -1 after the
// failure line has been printed.
int port_open_checked()
{
  int opened = open(devicename, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (opened >= 0)
    opened = port_move_above_standard(opened);
  if (opened < 0) {
    port_open_failed(errno);
    return -1;
  }
  if (isatty(opened) != 1) {
    close(opened);
    port_open_failed(devicename, ENOTTY, "not a serial port");
    return -1;
  }
  if (port_lock(opened) < 0) {
    const int error = errno;
    std::array<char, 128> busy{};
    if (error == EBUSY)
      port_describe_busy(opened, busy.data(), busy.size());
    close(opened);
    if (error == EBUSY)
      port_open_failed(devicename, error, busy.data());
    else
      port_open_failed(error);
    return -1;
  }
  return opened;
}

// The program ends with the port closed by the link, so that output that
// cannot leave is dropped first, whichever way main ends.
void port_close_at_exit()
{
  port_close();
}

} // namespace

const char *port_name(std::uint16_t port_number)
{
  // Read once per call; nothing in the programs changes it while they run.
  const char *chosen = getenv(DEVICE_VARIABLE); // NOLINT(concurrency-mt-unsafe)
  if (chosen != nullptr && chosen[0] != '\0')
    return chosen;
  // Per thread, so that two threads asking at once do not write one buffer.
  thread_local std::array<char, sizeof devicename> fixed{};
  snprintf(fixed.data(), fixed.size(), "/dev/ttyS%01d", port_number - 1);
  return fixed.data();
}

int port_open(std::uint16_t port_number)
{
  // One port per process: a second open replaces the first, whose lock
  // would otherwise keep the new one out.
  port_close();
  const char *path = port_name(port_number);
  // A path cut to fit would name another device.
  if (strlen(path) >= sizeof devicename) {
    devicename[0] = '\0';
    std::array<char, 64> reason{};
    snprintf(reason.data(), reason.size(), "the device path is longer than %zu bytes", sizeof devicename - 1);
    return port_open_failed(path, ENAMETOOLONG, reason.data());
  }
  snprintf(devicename, sizeof devicename, "%s", path);
  DATABITS = CS8;
  BAUD = B9600;
  PARITYON = 0;
  STOPBITS = 0;

  const int opened = port_open_checked();
  if (opened < 0)
    return 0;
  fd = opened;
  port_opened = 1;
  output_stuck = false;
  if (!exit_close_registered)
    exit_close_registered = atexit(port_close_at_exit) == 0;
  tcgetattr(fd, &oldtio);
  port_build_settings();
  (void)port_flush(TCIFLUSH);
  tcsetattr(fd, TCSANOW, &newtio);
  for (int i = 0; i < FLUSH_COUNT; i++) {
    (void)port_flush(TCIOFLUSH);
    usleep(FLUSH_PAUSE_US);
  }
  return fd;
}

int port_is_open()
{
  return port_opened;
}

void port_stop_waiting()
{
  waits_stopped.store(true, std::memory_order_relaxed);
}

// A port that stays busy is waited out afresh after every partial success.
int port_write(const unsigned char *data, int length)
{
  if (!port_opened) {
    errno = EBADF;
    return -1;
  }
  if (length < 0) {
    errno = EINVAL;
    return -1;
  }
  int done = 0;
  for (;;) {
    ssize_t written = 0;
    const int settled = port_retry(BUSY_BOUND_US, BUSY_PAUSE_US, true, [&] {
      written = port_past_signals([&] { return write(fd, data + done, static_cast<size_t>(length - done)); });
      if (written >= 0)
        return 1;
      return errno == EAGAIN || errno == EINTR ? 0 : -1;
    });
    if (settled < 0)
      return -1;
    if (settled == 0) {
      port_give_up_output();
      return done;
    }
    done += static_cast<int>(written);
    if (done >= length)
      return done;
    usleep(PARTIAL_PAUSE_US);
  }
}

int port_read(unsigned char *buffer, int length)
{
  if (!port_opened) {
    errno = EBADF;
    return -1;
  }
  int waiting = 0;
  const int settled = port_retry(POLL_BOUND_US, POLL_PAUSE_US, true, [&] {
    if (ioctl(fd, FIONREAD, &waiting) < 0)
      return -1;
    return waiting >= length ? 1 : 0;
  });
  if (settled < 0)
    return -1;
  // Silence takes what has arrived so far.
  const int count = settled > 0 ? length : waiting;
  if (count <= 0)
    return 0;
  return static_cast<int>(read(fd, buffer, static_cast<size_t>(count)));
}

int port_discard_input()
{
  if (!port_opened) {
    errno = EBADF;
    return -1;
  }
  return port_flush(TCIFLUSH);
}

// A line that hung up fails the query itself (EIO on a terminal).
int port_drain()
{
  if (!port_opened) {
    errno = EBADF;
    return -1;
  }
  const int settled = port_retry(DRAIN_BOUND_US, DRAIN_PAUSE_US, false, port_output_sent);
  if (settled < 0)
    return -1;
  if (settled == 0) {
    port_give_up_output();
    errno = ETIMEDOUT;
    return -1;
  }
  output_stuck = false;
  return 0;
}

// Healthy output is let go as the close would; output that already could not
// leave is dropped without a second wait.
void port_close()
{
  if (port_opened) {
    if (output_stuck)
      (void)port_flush(TCOFLUSH);
    else
      (void)port_drain();
    close(fd);
  }
  port_opened = 0;
  output_stuck = false;
}
