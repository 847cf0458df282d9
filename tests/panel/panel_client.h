// A display client for the panel's end-to-end tests: lines sent on the
// panel's Unix socket, replies and events read with a generous bound.
//
//   client_connect(&client, path)   connect once the panel has made the socket; false after the patience
//   client_send(client, lines)      send request lines, each ended by a newline, in one piece
//   client_expect(&client, line)    read lines until this one (kept in client.seen); false after the patience
#ifndef LCM_TESTS_PANEL_PANEL_CLIENT_H
#define LCM_TESTS_PANEL_PANEL_CLIENT_H

#include <chrono>
#include <initializer_list>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "emulator_session.h"

struct PanelClient {
  int fd = -1;
  std::string pending;
  // Every whole line read so far, each ended by a newline.
  std::string seen;
  PanelClient() = default;
  PanelClient(const PanelClient &) = delete;
  PanelClient &operator=(const PanelClient &) = delete;
  ~PanelClient()
  {
    if (fd >= 0)
      close(fd);
  }
};

inline bool client_connect(PanelClient *client, const std::string &path)
{
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const auto bound = std::chrono::steady_clock::now() + SESSION_PATIENCE;
  while (std::chrono::steady_clock::now() < bound) {
    client->fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(client->fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
      return true;
    close(client->fd);
    client->fd = -1;
    usleep(20000);
  }
  return false;
}

// In one piece, so that the panel takes the lines in one pass.
inline void client_send(const PanelClient &client, std::initializer_list<std::string> lines)
{
  std::string whole;
  for (const std::string &line : lines)
    whole += line + "\n";
  ASSERT_EQ(send(client.fd, whole.data(), whole.size(), MSG_NOSIGNAL), static_cast<ssize_t>(whole.size()));
}

inline bool client_expect(PanelClient *client, const std::string &line)
{
  const auto bound = std::chrono::steady_clock::now() + SESSION_PATIENCE;
  for (;;) {
    for (size_t end = client->pending.find('\n'); end != std::string::npos;
         end = client->pending.find('\n')) {
      const std::string got = client->pending.substr(0, end);
      client->pending.erase(0, end + 1);
      client->seen += got + "\n";
      if (got == line)
        return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(bound - std::chrono::steady_clock::now());
    pollfd ready{client->fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
      return false;
    char buffer[4096];
    const ssize_t count = recv(client->fd, buffer, sizeof buffer, 0);
    if (count <= 0)
      return false;
    client->pending.append(buffer, static_cast<size_t>(count));
  }
}

#endif
