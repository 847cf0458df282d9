// --line: a line that already exists, served instead of a pseudo-terminal of
// the emulator's own. Either a serial device (a pseudo-terminal's slave counts
// as one), set up raw at 9600 8N1 as the link sets up its port, or the two
// named pipes a virtual machine's serial port offers as its host end: the
// machine reads what its guest receives from PATH.in and writes what the
// guest sends to PATH.out.
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "session.h"

namespace {

constexpr size_t DISCARD_CHUNK = 4096;
// The largest write the kernel makes whole or not at all (PIPE_BUF).
constexpr size_t LARGEST_WHOLE_WRITE = 4096;

bool is_fifo(const std::string &path)
{
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

// Bytes sent before the module was there are not taken, as a module powered
// on later never sees them.
void discard_waiting(int descriptor)
{
  std::array<unsigned char, DISCARD_CHUNK> buffer{};
  while (read(descriptor, buffer.data(), buffer.size()) > 0) {
  }
}

int fail(std::string *failure, const std::string &why, int error)
{
  *failure = why;
  errno = error;
  return -1;
}

// Raw 9600 8N1 without flow control, as the link sets up its port: no byte
// is changed on its way in or out.
int make_raw(int descriptor)
{
  termios settings{};
  if (tcgetattr(descriptor, &settings) < 0)
    return -1;
  settings.c_iflag = IGNPAR;
  settings.c_oflag = 0;
  settings.c_cflag = CS8 | CREAD | CLOCAL | HUPCL;
  settings.c_lflag = 0;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (cfsetispeed(&settings, B9600) < 0 || cfsetospeed(&settings, B9600) < 0)
    return -1;
  return tcsetattr(descriptor, TCSANOW, &settings);
}

int open_serial_device(Line *line, const std::string &path, std::string *failure)
{
  const int device = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (device < 0)
    return fail(failure,
                path + ": " + emu_error_text(errno) + " (and no named pipes " + path + ".in and " + path +
                    ".out)",
                errno);
  line->kind = LineKind::serial_device;
  line->receive = device;
  line->reply = device;
  if (isatty(device) != 1)
    return fail(failure,
                path + ": neither a serial device nor a pair of named pipes " + path + ".in and " + path +
                    ".out",
                ENOTTY);
  // Two emulators on one line would each take half of the bytes.
  if (flock(device, LOCK_EX | LOCK_NB) < 0)
    return fail(failure, path + ": in use by another program", errno);
  if (make_raw(device) < 0)
    return fail(failure, path + ": cannot set it raw at 9600 8N1: " + emu_error_text(errno), errno);
  if (tcflush(device, TCIOFLUSH) < 0)
    return fail(failure, path + ": " + emu_error_text(errno), errno);
  return 0;
}

// PATH.out is opened for reading without waiting for the sender: until one
// opens it, nothing is reported; once the last sender has closed it, a
// hang-up is. PATH.in is opened for reading and writing, which never waits
// either, and keeps replies for a sender that has not opened it yet.
int open_pipe_pair(Line *line, const std::string &path, std::string *failure)
{
  line->kind = LineKind::pipe_pair;
  line->sender_path = path + ".out";
  const std::string replies_path = path + ".in";
  line->receive = open(line->sender_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (line->receive < 0)
    return fail(failure, line->sender_path + ": " + emu_error_text(errno), errno);
  line->reply = open(replies_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (line->reply < 0)
    return fail(failure, replies_path + ": " + emu_error_text(errno), errno);
  discard_waiting(line->receive);
  return 0;
}

} // namespace

int emu_open_given_line(Line *line, const std::string &path, std::string *failure)
{
  if (is_fifo(path + ".in") && is_fifo(path + ".out"))
    return open_pipe_pair(line, path, failure);
  return open_serial_device(line, path, failure);
}

// A pipe holds the sender back only once its buffer is full; filled now, it
// makes the sender's very next byte wait. The filler lies behind every byte
// the sender put in before, none of which is read any more. Done only once a
// sender has written: the filler's close would otherwise look like the last
// sender leaving.
int emu_hold_sender(Line *line)
{
  line->sender_held = true;
  const int filler = open(line->sender_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (filler < 0)
    return -1;
  const std::array<unsigned char, LARGEST_WHOLE_WRITE> zeros{};
  // Down to single bytes, so that the last gap is filled too.
  for (size_t size = zeros.size(); size > 0; size /= 2) {
    while (write(filler, zeros.data(), size) > 0) {
    }
  }
  close(filler);
  return 0;
}
