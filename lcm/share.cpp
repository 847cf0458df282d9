// Where a program that holds the port (lcm-panel) lets others draw.
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "lcm.h"
#include "serial.h"

namespace {

// Moves the socket: for a user without /run/lcm-panel, and for tests.
constexpr const char *SHARE_VARIABLE = "LCM_PANEL_SOCKET";

// Whether /dev/NAME is the very device the node is.
bool lcm_is_named_in_dev(const char *name, const struct stat &node)
{
  std::array<char, PATH_MAX> path{};
  const int written = snprintf(path.data(), path.size(), "/dev/%s", name);
  struct stat there {};
  return name[0] != '\0' && written > 0 && static_cast<std::size_t>(written) < path.size() &&
         stat(path.data(), &there) == 0 && S_ISCHR(there.st_mode) && there.st_rdev == node.st_rdev;
}

// The device's own name, whatever path leads to it: the name it has in /dev
// when the path resolves to it there (a link such as /dev/lcd or
// /dev/serial/by-id/...), else its device number. What the port's open
// refuses before opening gets no name.
int lcm_device_name(const char *device, char *name, std::size_t size)
{
  struct stat node {};
  if (port_device(device, &node) < 0)
    return -1;
  std::array<char, PATH_MAX> resolved{};
  if (realpath(device, resolved.data()) == nullptr)
    return -1;
  const char *last = strrchr(resolved.data(), '/');
  last = last != nullptr ? last + 1 : resolved.data();
  const int written = lcm_is_named_in_dev(last, node)
                          ? snprintf(name, size, "%s", last)
                          : snprintf(name, size, "char-%u-%u", major(node.st_rdev), minor(node.st_rdev));
  if (written < 0 || static_cast<std::size_t>(written) >= size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return 0;
}

} // namespace

// One socket per device, so that panels on two ports never take each other's
// and every path to one port finds its panel.
int lcm_share_path(char *path, std::size_t size)
{
  const char *chosen = getenv(SHARE_VARIABLE); // NOLINT(concurrency-mt-unsafe)
  int written = 0;
  if (chosen != nullptr && chosen[0] != '\0') {
    written = snprintf(path, size, "%s", chosen);
  } else {
    std::array<char, NAME_MAX + 1> name{};
    if (lcm_device_name(lcm_port_name(), name.data(), name.size()) < 0)
      return -1;
    written = snprintf(path, size, "%s/%s.sock", LCM_SHARE_FOLDER, name.data());
  }
  if (written < 0 || static_cast<std::size_t>(written) >= size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return 0;
}
