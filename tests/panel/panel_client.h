// A display client for the panel's tests: lines sent on the panel's Unix
// socket, replies and events read with a generous bound.
//
//   connect_to(path)                one try; the connected descriptor, or -1
//   send_all(fd, bytes)             the bytes in one send, or the test fails
//   client_connect(&client, path)   connect once the panel has made the socket; false after the patience
//   client_send(client, lines)      send request lines, each ended by a newline, in one piece
//   client_expect(&client, line)    read lines until this one (kept in client.seen); false after the patience
//   share_in(scratch)               the panel's socket in the test's folder, for the panel and its clients
#ifndef LCM_TESTS_PANEL_PANEL_CLIENT_H
#define LCM_TESTS_PANEL_PANEL_CLIENT_H

#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "emulator_session.h"

inline const std::string CONNECT =
    "connect LCDproc 0.5.9 protocol 0.3 lcd wid 16 hgt 2 cellwid 5 cellhgt 8\n";

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

inline int connect_to(const std::string &path)
{
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline void send_all(int fd, const std::string &bytes)
{
  ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

inline bool client_connect(PanelClient *client, const std::string &path)
{
  const auto bound = std::chrono::steady_clock::now() + SESSION_PATIENCE;
  while (std::chrono::steady_clock::now() < bound) {
    client->fd = connect_to(path);
    if (client->fd >= 0)
      return true;
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
  send_all(client.fd, whole);
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

// The panel and the programs the test starts find the socket there.
inline std::string share_in(const Scratch &scratch)
{
  std::string path = scratch.path + "/panel.sock";
  setenv("LCM_PANEL_SOCKET", path.c_str(), 1);
  return path;
}

#endif
