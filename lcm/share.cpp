// Where a program that holds the port (lcm-panel) lets others draw.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lcm.h"

namespace {

// Moves the socket: for a user without /run/lcm-panel, and for tests.
constexpr const char *SHARE_VARIABLE = "LCM_PANEL_SOCKET";

} // namespace

// One socket per port, so that panels on two ports never take each other's.
int lcm_share_path(char *path, std::size_t size)
{
  const char *chosen = getenv(SHARE_VARIABLE); // NOLINT(concurrency-mt-unsafe)
  int written = 0;
  if (chosen != nullptr && chosen[0] != '\0') {
    written = snprintf(path, size, "%s", chosen);
  } else {
    const char *device = lcm_port_name();
    const char *slash = strrchr(device, '/');
    written = snprintf(path, size, "%s/%s.sock", LCM_SHARE_FOLDER, slash != nullptr ? slash + 1 : device);
  }
  if (written < 0 || static_cast<std::size_t>(written) >= size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return 0;
}
