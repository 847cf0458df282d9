// Who holds the port's lock, as the system's lock table tells it: the name
// in the line of a failed open ("in use by another program (pid 4, lcm-panel)"),
// and the program another may hand its text to.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "serial.h"
#include "serial_internal.h"

namespace {

// /proc/locks is read only this far when the holder of the port is named.
constexpr size_t LOCKS_READ_LIMIT = 65536;

// Reads a whole small file such as /proc/N/comm; the count read, or -1.
ssize_t port_read_file(const char *path, char *buffer, size_t size)
{
  const int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0)
    return -1;
  const ssize_t count = read(file, buffer, size);
  close(file);
  return count;
}

// Splits a line of /proc/locks into its blank-separated fields; the count found.
int port_lock_fields(char *line, std::array<char *, 6> *fields)
{
  int count = 0;
  char *rest = nullptr;
  for (char *field = strtok_r(line, " \t", &rest);
       field != nullptr && count < static_cast<int>(fields->size()); field = strtok_r(nullptr, " \t", &rest))
    (*fields)[static_cast<size_t>(count++)] = field;
  return count;
}

// One line of /proc/locks, e.g. "1: FLOCK  ADVISORY  WRITE 1234 00:05:17 0 EOF":
// the holder's pid when the line is a granted flock on the given inode by a
// process this /proc can name, else 0.
// The device is written as hexadecimal major:minor, the inode in decimal.
long port_lock_line_holder(char *line, const struct stat &port)
{
  std::array<char *, 6> fields{};
  if (port_lock_fields(line, &fields) != static_cast<int>(fields.size()) || strcmp(fields[1], "FLOCK") != 0)
    return 0;
  char *end = nullptr;
  const long pid = strtol(fields[4], &end, 10);
  if (*end != '\0')
    return 0;
  const unsigned long major_number = strtoul(fields[5], &end, 16);
  if (*end != ':')
    return 0;
  const unsigned long minor_number = strtoul(end + 1, &end, 16);
  if (*end != ':')
    return 0;
  const unsigned long long inode = strtoull(end + 1, &end, 10);
  if (*end != '\0' || major_number != major(port.st_dev) || minor_number != minor(port.st_dev) ||
      inode != port.st_ino)
    return 0;
  // 0 is a holder outside this PID namespace.
  return pid > 0 ? pid : 0;
}

// The lock table counts pids as the PID namespace of the /proc it is read
// from; they are this process's only when /proc/self names this process.
bool port_proc_counts_our_pids()
{
  std::array<char, 32> self{};
  const ssize_t length = readlink("/proc/self", self.data(), self.size() - 1);
  if (length <= 0)
    return false;
  char *end = nullptr;
  const long pid = strtol(self.data(), &end, 10);
  return end == self.data() + length && pid == static_cast<long>(getpid());
}

// Reads the lock table until a line names the node's holder: its pid; 0 when
// the whole table names none; -1 with errno when it cannot be read through
// (EFBIG past LOCKS_READ_LIMIT).
long port_scan_locks(int locks, const struct stat &port)
{
  std::array<char, 4096> buffer{};
  size_t kept = 0;
  for (size_t total = 0; total < LOCKS_READ_LIMIT;) {
    const ssize_t count = read(locks, buffer.data() + kept, buffer.size() - 1 - kept);
    if (count <= 0)
      return count;
    total += static_cast<size_t>(count);
    kept += static_cast<size_t>(count);
    buffer[kept] = '\0';
    char *line = buffer.data();
    for (char *end = strchr(line, '\n'); end != nullptr; end = strchr(line, '\n')) {
      *end = '\0';
      const long holder = port_lock_line_holder(line, port);
      if (holder > 0)
        return holder;
      line = end + 1;
    }
    // A line that fills the whole buffer is not one of the table's.
    if (line == buffer.data() && kept == buffer.size() - 1)
      line += kept;
    kept -= static_cast<size_t>(line - buffer.data());
    memmove(buffer.data(), line, kept);
  }
  errno = EFBIG;
  return -1;
}

// The process that holds the lock on the node, as the system's lock table
// tells it; 0 when none does, -1 with errno when the table cannot tell.
long port_lock_holder(const struct stat &port)
{
  if (!port_proc_counts_our_pids()) {
    errno = ESRCH;
    return -1;
  }
  const int locks = open("/proc/locks", O_RDONLY | O_CLOEXEC);
  if (locks < 0)
    return -1;
  const long holder = port_scan_locks(locks, port);
  const int error = errno;
  close(locks);
  errno = error;
  return holder;
}

} // namespace

long port_holder(const char *path)
{
  struct stat port {};
  if (port_device(path, &port) < 0)
    return -1;
  return port_lock_holder(port);
}

// "in use by another program", with the holder's pid and name when known.
void port_describe_busy(int descriptor, char *reason, size_t size)
{
  struct stat port {};
  const long holder = fstat(descriptor, &port) == 0 ? port_lock_holder(port) : -1;
  if (holder <= 0) {
    snprintf(reason, size, "in use by another program");
    return;
  }
  std::array<char, 64> path{};
  std::array<char, 32> name{};
  snprintf(path.data(), path.size(), "/proc/%ld/comm", holder);
  const ssize_t count = port_read_file(path.data(), name.data(), name.size() - 1);
  if (count <= 0) {
    snprintf(reason, size, "in use by another program (pid %ld)", holder);
    return;
  }
  name[static_cast<size_t>(count)] = '\0';
  name[strcspn(name.data(), "\n")] = '\0';
  // A process names itself: nothing of it may act on the user's terminal.
  for (char *c = name.data(); *c != '\0'; c++)
    *c = *c >= ' ' && *c <= '~' ? *c : '?';
  snprintf(reason, size, "in use by another program (pid %ld, %s)", holder, name.data());
}
