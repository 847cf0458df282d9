// The folder of the emulator's own that the command sees as /run/lcm-panel:
// made before the command starts, watched so that a panel's socket made in
// it is told on standard error, and removed when the run ends.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "session.h"

namespace {

constexpr mode_t SHARE_MODE = 0755;
constexpr size_t EVENTS_SIZE = 4096;

bool is_socket(const std::string &path)
{
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

} // namespace

int emu_make_share_folder(Run *run)
{
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read before anything else runs
  const char *temporary = getenv("TMPDIR");
  std::string pattern =
      std::string(temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp") + "/lcm-emu-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    return -1;
  run->share_root = pattern;
  // Whoever may reach the socket is decided by the socket's own mode and
  // group, as under the machine's /run/lcm-panel.
  run->share_folder = pattern + "/lcm-panel";
  if (chmod(pattern.c_str(), SHARE_MODE) < 0 || mkdir(run->share_folder.c_str(), SHARE_MODE) < 0 ||
      chmod(run->share_folder.c_str(), SHARE_MODE) < 0)
    return -1;
  run->share_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (run->share_watch < 0 || inotify_add_watch(run->share_watch, run->share_folder.c_str(), IN_CREATE) < 0)
    return -1;
  return 0;
}

void emu_take_share_events(Run *run)
{
  alignas(inotify_event) std::array<char, EVENTS_SIZE> events{};
  for (;;) {
    const ssize_t count = read(run->share_watch, events.data(), events.size());
    if (count <= 0)
      return;
    for (ssize_t at = 0; at < count;) {
      const auto *event = reinterpret_cast<const inotify_event *>(events.data() + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->len == 0)
        continue;
      const std::string path = run->share_folder + "/" + event->name;
      if (is_socket(path))
        fprintf(stderr, "lcm-emu: the panel's socket is %s\n", path.c_str());
    }
  }
}

// What a panel left behind (a socket, when it was killed) goes with the folder.
void emu_remove_share_folder(Run *run)
{
  if (run->share_watch >= 0)
    close(run->share_watch);
  run->share_watch = -1;
  if (run->share_root.empty())
    return;
  if (DIR *directory = opendir(run->share_folder.c_str())) {
    // The emulator runs a single thread.
    while (const dirent *entry = readdir(directory)) { // NOLINT(concurrency-mt-unsafe)
      const std::string name = entry->d_name;
      if (name != "." && name != "..")
        (void)unlink((run->share_folder + "/" + name).c_str());
    }
    closedir(directory);
  }
  (void)rmdir(run->share_folder.c_str());
  (void)rmdir(run->share_root.c_str());
  run->share_root.clear();
}
