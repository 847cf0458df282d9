#include "private_dev.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <csignal>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr size_t PATH_SIZE = 256;
constexpr const char *DEVICE_PATH = "/dev/ttyS1";

int write_file(const char *path, const char *text)
{
  const int file = open(path, O_WRONLY | O_CLOEXEC);
  if (file < 0)
    return -1;
  const auto length = static_cast<ssize_t>(strlen(text));
  const ssize_t written = write(file, text, static_cast<size_t>(length));
  const int saved = errno;
  close(file);
  errno = saved;
  return written == length ? 0 : -1;
}

// Inside the new user namespace the process keeps its own uid and gid, so the
// command sees the same identity as outside.
int map_identity(uid_t uid, gid_t gid, const char **failure)
{
  std::array<char, 64> line{};
  if (write_file("/proc/self/setgroups", "deny") < 0 && errno != ENOENT) {
    *failure = "writing /proc/self/setgroups";
    return -1;
  }
  snprintf(line.data(), line.size(), "%u %u 1\n", static_cast<unsigned>(uid), static_cast<unsigned>(uid));
  if (write_file("/proc/self/uid_map", line.data()) < 0) {
    *failure = "writing /proc/self/uid_map";
    return -1;
  }
  snprintf(line.data(), line.size(), "%u %u 1\n", static_cast<unsigned>(gid), static_cast<unsigned>(gid));
  if (write_file("/proc/self/gid_map", line.data()) < 0) {
    *failure = "writing /proc/self/gid_map";
    return -1;
  }
  return 0;
}

// A process that may mount needs only a mount namespace; should that still be
// refused, a user namespace around it is the last resort.
int enter_namespaces(const PrivateSpace &space, const char **failure)
{
  if (space.in_user_namespace)
    return map_identity(space.uid, space.gid, failure);
  if (unshare(CLONE_NEWNS) == 0)
    return 0;
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) < 0) {
    *failure = "neither a mount namespace nor a user namespace is allowed here (unshare)";
    return -1;
  }
  return map_identity(space.uid, space.gid, failure);
}

int old_path(int old_dev, const char *name, std::array<char, PATH_SIZE> *path)
{
  const int length = snprintf(path->data(), path->size(), "/proc/self/fd/%d/%s", old_dev, name);
  if (length < 0 || static_cast<size_t>(length) >= path->size()) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return 0;
}

int bind_file(int old_dev, const char *name, const char *target)
{
  std::array<char, PATH_SIZE> source{};
  if (old_path(old_dev, name, &source) < 0)
    return -1;
  const int made = open(target, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (made < 0)
    return -1;
  close(made);
  return mount(source.data(), target, nullptr, MS_BIND, nullptr);
}

int bind_directory(int old_dev, const char *name, const char *target)
{
  std::array<char, PATH_SIZE> source{};
  if (old_path(old_dev, name, &source) < 0)
    return -1;
  if (mkdir(target, 0755) < 0)
    return -1;
  return mount(source.data(), target, nullptr, MS_BIND | MS_REC, nullptr);
}

// Nodes the machine lacks are left out rather than failing the run.
int bind_standard_nodes(int old_dev, const char **failure)
{
  constexpr std::array<const char *, 6> files = {"null", "zero", "full", "random", "urandom", "tty"};
  constexpr std::array<const char *, 2> directories = {"pts", "shm"};
  std::array<char, PATH_SIZE> target{};
  for (const char *name : files) {
    if (faccessat(old_dev, name, F_OK, 0) < 0)
      continue;
    snprintf(target.data(), target.size(), "/dev/%s", name);
    if (bind_file(old_dev, name, target.data()) < 0) {
      *failure = "binding a standard node into the private /dev";
      return -1;
    }
  }
  for (const char *name : directories) {
    if (faccessat(old_dev, name, F_OK, 0) < 0)
      continue;
    snprintf(target.data(), target.size(), "/dev/%s", name);
    if (bind_directory(old_dev, name, target.data()) < 0) {
      *failure = "binding a standard directory into the private /dev";
      return -1;
    }
  }
  return 0;
}

int make_links(const char **failure)
{
  constexpr std::array<std::pair<const char *, const char *>, 5> links = {{
      {"pts/ptmx", "/dev/ptmx"},
      {"/proc/self/fd", "/dev/fd"},
      {"/proc/self/fd/0", "/dev/stdin"},
      {"/proc/self/fd/1", "/dev/stdout"},
      {"/proc/self/fd/2", "/dev/stderr"},
  }};
  for (const auto &[to, from] : links) {
    if (symlink(to, from) < 0) {
      *failure = "making a link in the private /dev";
      return -1;
    }
  }
  return 0;
}

// The tmpfs hides /dev/pts/N, so the slave is reached through the old /dev.
int bind_device(int old_dev, const char *slave_path, const char **failure)
{
  constexpr const char *DEV_PREFIX = "/dev/";
  const size_t prefix_length = strlen(DEV_PREFIX);
  if (strncmp(slave_path, DEV_PREFIX, prefix_length) != 0) {
    errno = EINVAL;
    *failure = "finding the pseudo-terminal under /dev";
    return -1;
  }
  if (bind_file(old_dev, slave_path + prefix_length, DEVICE_PATH) < 0) {
    *failure = "binding the pseudo-terminal onto /dev/ttyS1";
    return -1;
  }
  return 0;
}

int populate_dev(const char *slave_path, bool with_device, const char **failure)
{
  const int old_dev = open("/dev", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (old_dev < 0) {
    *failure = "opening /dev";
    return -1;
  }
  int result = -1;
  if (mount("lcm-emu", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755,size=1m") < 0)
    *failure = "mounting a tmpfs over /dev";
  else if (bind_standard_nodes(old_dev, failure) == 0 && make_links(failure) == 0)
    result = with_device ? bind_device(old_dev, slave_path, failure) : 0;
  const int saved = errno;
  close(old_dev);
  errno = saved;
  return result;
}

// Mounting takes CAP_SYS_ADMIN, which root in some containers lacks.
bool may_mount()
{
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
  if (syscall(SYS_capget, &header, data.data()) < 0)
    return false;
  constexpr unsigned BITS = 32;
  return (data[CAP_SYS_ADMIN / BITS].effective & (1U << (CAP_SYS_ADMIN % BITS))) != 0;
}

// A sanitizer runtime may start a thread in a forked child, and the kernel
// refuses to move a threaded process into a new user namespace; a child
// cloned into its namespaces never has to move. fork() takes no namespaces.
pid_t clone_child(unsigned long namespaces)
{
  return static_cast<pid_t>(syscall(SYS_clone, namespaces | SIGCHLD, nullptr, nullptr, nullptr, 0));
}

} // namespace

pid_t emu_fork_private(PrivateSpace *space)
{
  space->uid = getuid();
  space->gid = getgid();
  space->in_user_namespace = !may_mount();
  const unsigned long namespaces = space->in_user_namespace ? CLONE_NEWUSER | CLONE_NEWNS : 0;
  space->own_pid_namespace = true;
  const pid_t child = clone_child(namespaces | CLONE_NEWPID);
  if (child >= 0 || (errno != EINVAL && errno != EPERM && errno != ENOSPC))
    return child;
  // Without a PID namespace the command still dies with the emulator, but
  // what it started in the background may not.
  space->own_pid_namespace = false;
  return space->in_user_namespace ? clone_child(namespaces) : fork();
}

int emu_private_dev(const PrivateSpace &space, const char *slave_path, bool with_device, const char **failure)
{
  if (enter_namespaces(space, failure) < 0)
    return -1;
  // Nothing mounted from here on may reach the machine's own mount table.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) < 0) {
    *failure = "making the mounts private";
    return -1;
  }
  return populate_dev(slave_path, with_device, failure);
}
