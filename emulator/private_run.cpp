#include "private_run.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t PATH_SIZE = 4096;
constexpr const char *RUN = "/run";
constexpr const char *SHARE_NAME = "lcm-panel";

int fd_path(int descriptor, const char *name, std::array<char, PATH_SIZE> *path)
{
  const int length = name == nullptr
                         ? snprintf(path->data(), path->size(), "/proc/self/fd/%d", descriptor)
                         : snprintf(path->data(), path->size(), "/proc/self/fd/%d/%s", descriptor, name);
  if (length < 0 || static_cast<size_t>(length) >= path->size()) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return 0;
}

// One entry of the machine's /run, bound back under the same name. An entry
// that cannot be bound is left out: the command then does without it, which
// is no reason to refuse the run.
void bind_back(int old_run, const char *name)
{
  struct stat status {};
  if (fstatat(old_run, name, &status, AT_SYMLINK_NOFOLLOW) < 0)
    return;
  std::array<char, PATH_SIZE> target{};
  if (snprintf(target.data(), target.size(), "%s/%s", RUN, name) >= static_cast<int>(target.size()))
    return;
  if (S_ISLNK(status.st_mode)) {
    std::array<char, PATH_SIZE> to{};
    const ssize_t length = readlinkat(old_run, name, to.data(), to.size() - 1);
    if (length > 0)
      (void)symlink(to.data(), target.data());
    return;
  }
  std::array<char, PATH_SIZE> source{};
  if (fd_path(old_run, name, &source) < 0)
    return;
  if (S_ISDIR(status.st_mode)) {
    if (mkdir(target.data(), status.st_mode & 07777) < 0)
      return;
  } else {
    const int made = open(target.data(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (made < 0)
      return;
    close(made);
  }
  if (mount(source.data(), target.data(), nullptr, MS_BIND | MS_REC, nullptr) < 0) {
    if (S_ISDIR(status.st_mode))
      rmdir(target.data());
    else
      unlink(target.data());
  }
}

int bind_back_all(int old_run)
{
  const int listing = openat(old_run, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0)
    return -1;
  DIR *directory = fdopendir(listing);
  if (directory == nullptr) {
    close(listing);
    return -1;
  }
  // The child runs one thread: nothing else reads this directory stream.
  while (const dirent *entry = readdir(directory)) { // NOLINT(concurrency-mt-unsafe)
    const char *name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0 || strcmp(name, SHARE_NAME) == 0)
      continue;
    bind_back(old_run, name);
  }
  closedir(directory);
  return 0;
}

int mount_share(int share)
{
  std::array<char, PATH_SIZE> source{};
  std::array<char, PATH_SIZE> target{};
  snprintf(target.data(), target.size(), "%s/%s", RUN, SHARE_NAME);
  if (fd_path(share, nullptr, &source) < 0 || mkdir(target.data(), 0755) < 0)
    return -1;
  return mount(source.data(), target.data(), nullptr, MS_BIND, nullptr);
}

} // namespace

int emu_private_run(const char *share_folder, const char **failure)
{
  // Both are opened first: the share folder may itself lie under /run.
  const int old_run = open(RUN, O_PATH | O_DIRECTORY | O_CLOEXEC);
  const int share = open(share_folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
  int result = -1;
  if (old_run < 0)
    *failure = "opening /run";
  else if (share < 0)
    *failure = "opening the emulator's folder for the panel's socket";
  else if (mount("lcm-emu", RUN, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=1m") < 0)
    *failure = "mounting a tmpfs over /run";
  else if (bind_back_all(old_run) < 0)
    *failure = "reading the machine's /run";
  else if (mount_share(share) < 0)
    *failure = "binding the emulator's folder onto /run/lcm-panel";
  else
    result = 0;
  const int saved = errno;
  if (old_run >= 0)
    close(old_run);
  if (share >= 0)
    close(share);
  errno = saved;
  return result;
}
