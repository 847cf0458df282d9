// Where display clients reach the panel: the Unix socket of the port, always,
// and TCP addresses where the options ask for them.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/un.h>

#include "server.h"
#include "panel_internal.h"

namespace {

// Made when missing, for a panel not started by its unit (which makes it).
constexpr mode_t SHARE_FOLDER_MODE = 0755;

// The folder of the default path, never one that LCM_PANEL_SOCKET chose;
// 0, or -1 with errno.
int make_share_folder(const char *path)
{
  const std::size_t length = strlen(LCM_SHARE_FOLDER);
  if (strncmp(path, LCM_SHARE_FOLDER, length) != 0 || path[length] != '/')
    return 0;
  return mkdir(LCM_SHARE_FOLDER, SHARE_FOLDER_MODE) == 0 || errno == EEXIST ? 0 : -1;
}

// Those who may open the port may draw through the panel: the socket takes
// the port's group.
gid_t port_group()
{
  struct stat port {};
  return stat(lcm_port_name(), &port) == 0 ? port.st_gid : static_cast<gid_t>(-1);
}

// Without its socket the panel still keeps the glass; it says so once.
void serve_unix_socket()
{
  std::array<char, sizeof(sockaddr_un::sun_path)> path{};
  char buffer[128];
  if (lcm_share_path(path.data(), path.size()) < 0) {
    fprintf(stderr, "lcm-panel: the socket's path is too long; display clients cannot connect\n");
    return;
  }
  if (make_share_folder(path.data()) < 0) {
    fprintf(stderr, "lcm-panel: %s: %s; display clients cannot connect (LCM_PANEL_SOCKET moves the socket)\n",
            LCM_SHARE_FOLDER, panel_reason(errno, buffer, sizeof buffer));
    return;
  }
  const gid_t group = port_group();
  const int served = server_listen_unix(path.data(), group);
  if (served < 0)
    fprintf(stderr, "lcm-panel: %s: display clients cannot connect: %s\n", path.data(),
            panel_reason(errno, buffer, sizeof buffer));
  else if (served == SERVER_OWNER_ONLY)
    fprintf(
        stderr,
        "lcm-panel: %s: the socket cannot be given the port's group %ld (%s); only its owner may connect\n",
        path.data(), static_cast<long>(group), panel_reason(errno, buffer, sizeof buffer));
}

} // namespace

int sharing_start(const PanelOptions &options)
{
  clients_reset();
  serve_unix_socket();
  for (int i = 0; i < options.listen_count; i++) {
    const char *text = options.listen[static_cast<std::size_t>(i)];
    ServerAddress address;
    if (server_parse_address(text, &address) < 0 || server_listen_tcp(address) < 0) {
      char buffer[128];
      fprintf(stderr, "lcm-panel: %s: %s\n", text, panel_reason(errno, buffer, sizeof buffer));
      server_stop();
      return -1;
    }
    if (!server_is_loopback(address))
      fprintf(stderr,
              "lcm-panel: %s: not a loopback address: every host that reaches it may draw on the display and "
              "take its keys\n",
              text);
  }
  return 0;
}

void sharing_stop()
{
  server_stop();
}
