#include "serial.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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

// fd keeps 0 after a failed open, and 0 may also be a real port when standard
// input was closed, so whether the port is usable is kept apart.
static int port_opened;

namespace {

constexpr useconds_t FLUSH_PAUSE_US = 100000;
constexpr int FLUSH_COUNT = 3;
constexpr useconds_t BUSY_PAUSE_US = 10000;
constexpr int BUSY_RETRIES = 100;
constexpr useconds_t PARTIAL_PAUSE_US = 1;
constexpr useconds_t POLL_PAUSE_US = 1000;
constexpr int POLL_COUNT = 1001;

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

} // namespace

int port_open(std::uint16_t port_number)
{
  snprintf(devicename, sizeof devicename, "/dev/ttyS%01d", port_number - 1);
  DATABITS = CS8;
  BAUD = B9600;
  PARITYON = 0;
  STOPBITS = 0;

  fd = open(devicename, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    perror(devicename);
    snprintf(message, sizeof message, "Open %s fail!!\r\n", devicename);
    fd = 0;
    port_opened = 0;
    return 0;
  }
  port_opened = 1;
  tcgetattr(fd, &oldtio);
  port_build_settings();
  tcflush(fd, TCIFLUSH);
  tcsetattr(fd, TCSANOW, &newtio);
  for (int i = 0; i < FLUSH_COUNT; i++) {
    tcflush(fd, TCIOFLUSH);
    usleep(FLUSH_PAUSE_US);
  }
  return fd;
}

int port_is_open()
{
  return port_opened;
}

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
  int retries = 0;
  for (;;) {
    ssize_t n = write(fd, data + done, static_cast<size_t>(length - done));
    if (n < 0) {
      if (errno != EAGAIN)
        return -1;
      if (retries >= BUSY_RETRIES)
        return done;
      usleep(BUSY_PAUSE_US);
      retries++;
      continue;
    }
    done += static_cast<int>(n);
    if (done >= length)
      return done;
    usleep(PARTIAL_PAUSE_US);
    retries = 0;
  }
}

int port_read(unsigned char *buffer, int length)
{
  if (!port_opened) {
    errno = EBADF;
    return -1;
  }
  int waiting = 0;
  for (int poll = 0; poll < POLL_COUNT; poll++) {
    if (ioctl(fd, FIONREAD, &waiting) < 0)
      return -1;
    if (waiting >= length) {
      waiting = length;
      break;
    }
    if (poll + 1 < POLL_COUNT)
      usleep(POLL_PAUSE_US);
  }
  if (waiting <= 0)
    return 0;
  return static_cast<int>(read(fd, buffer, static_cast<size_t>(waiting)));
}

void port_close()
{
  if (port_opened)
    close(fd);
  port_opened = 0;
}
