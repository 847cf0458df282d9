#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "server.h"
#include "server_internal.h"

namespace {

// The Unix socket and up to eight TCP addresses.
constexpr int LISTENERS_MAX = 9;
constexpr int BACKLOG = 16;
// New connections taken from one listener in one pass, at most.
constexpr int ACCEPTS_PER_PASS = 4;
constexpr mode_t SOCKET_MODE = 0660;
// While the socket file is made, only its owner may connect to it.
constexpr mode_t OWNER_ONLY_UMASK = 0177;
constexpr long PORT_MAX = 65535;

struct Listener {
  int fd = -1;
  bool tcp = false;
};

std::array<Listener, LISTENERS_MAX> listeners;
// The Unix socket's path, empty while there is none.
std::array<char, sizeof(sockaddr_un::sun_path)> unix_path{};

int keep_listener(int fd, bool tcp)
{
  for (Listener &listener : listeners) {
    if (listener.fd < 0) {
      listener.fd = fd;
      listener.tcp = tcp;
      return 0;
    }
  }
  close(fd);
  errno = EMFILE;
  return -1;
}

int new_socket(int family)
{
  return socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

sockaddr_un unix_address(const char *path)
{
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path, strlen(path) + 1);
  return address;
}

// A socket file nobody answers on is what a killed panel left behind; one
// that answers belongs to a running server, and anything else is not ours
// to remove.
int remove_stale(const char *path)
{
  struct stat status {};
  if (lstat(path, &status) < 0)
    return errno == ENOENT ? 0 : -1;
  if (!S_ISSOCK(status.st_mode)) {
    errno = EEXIST;
    return -1;
  }
  const int probe = new_socket(AF_UNIX);
  if (probe < 0)
    return -1;
  const sockaddr_un address = unix_address(path);
  const int answered = connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address);
  const int error = errno;
  close(probe);
  if (answered == 0 || error == EAGAIN) {
    errno = EADDRINUSE;
    return -1;
  }
  if (error != ECONNREFUSED && error != ENOENT) {
    errno = error;
    return -1;
  }
  return unlink(path) < 0 && errno != ENOENT ? -1 : 0;
}

int give_to_group(const char *path, gid_t group)
{
  if (group != static_cast<gid_t>(-1) && chown(path, static_cast<uid_t>(-1), group) < 0)
    return -1;
  return chmod(path, SOCKET_MODE);
}

int fail_closing(int fd)
{
  const int error = errno;
  close(fd);
  errno = error;
  return -1;
}

int parse_port(const char *text, in_port_t *port)
{
  long number = 0;
  if (*text == '\0')
    return -1;
  for (const char *at = text; *at != '\0'; at++) {
    if (*at < '0' || *at > '9' || number > PORT_MAX)
      return -1;
    number = number * 10 + (*at - '0');
  }
  if (number < 1 || number > PORT_MAX)
    return -1;
  *port = htons(static_cast<std::uint16_t>(number));
  return 0;
}

} // namespace

// Numeric addresses only: a name would need a lookup the panel cannot wait for.
int server_parse_address(const char *text, ServerAddress *address)
{
  errno = EINVAL;
  const char *colon = strrchr(text, ':');
  std::array<char, INET6_ADDRSTRLEN> host{};
  if (colon == nullptr || static_cast<std::size_t>(colon - text) >= host.size())
    return -1;
  std::memcpy(host.data(), text, static_cast<std::size_t>(colon - text));
  in_port_t port = 0;
  if (parse_port(colon + 1, &port) < 0)
    return -1;
  *address = ServerAddress{};
  const std::size_t host_length = strlen(host.data());
  if (host_length >= 2 && host[0] == '[' && host[host_length - 1] == ']') {
    host[host_length - 1] = '\0';
    auto *ipv6 = reinterpret_cast<sockaddr_in6 *>(&address->storage);
    if (inet_pton(AF_INET6, host.data() + 1, &ipv6->sin6_addr) != 1)
      return -1;
    ipv6->sin6_family = AF_INET6;
    ipv6->sin6_port = port;
    address->length = sizeof *ipv6;
    return 0;
  }
  auto *ipv4 = reinterpret_cast<sockaddr_in *>(&address->storage);
  if (inet_pton(AF_INET, host.data(), &ipv4->sin_addr) != 1)
    return -1;
  ipv4->sin_family = AF_INET;
  ipv4->sin_port = port;
  address->length = sizeof *ipv4;
  return 0;
}

// The file is made for its owner alone and handed to the group after: no
// one outside the group can connect in between.
int server_listen_unix(const char *path, gid_t group)
{
  if (strlen(path) >= unix_path.size()) {
    errno = ENAMETOOLONG;
    return -1;
  }
  if (unix_path[0] != '\0') {
    errno = EBUSY;
    return -1;
  }
  if (remove_stale(path) < 0)
    return -1;
  const int fd = new_socket(AF_UNIX);
  if (fd < 0)
    return -1;
  const sockaddr_un address = unix_address(path);
  const mode_t umask_before = umask(OWNER_ONLY_UMASK);
  const int bound = bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
  umask(umask_before);
  if (bound < 0)
    return fail_closing(fd);
  if (give_to_group(path, group) < 0 || listen(fd, BACKLOG) < 0) {
    const int error = errno;
    unlink(path);
    errno = error;
    return fail_closing(fd);
  }
  std::memcpy(unix_path.data(), path, strlen(path) + 1);
  return keep_listener(fd, false);
}

// An IPv6 listener takes IPv6 only, so that the same port may also be
// given for IPv4.
int server_listen_tcp(const ServerAddress &address)
{
  const int family = address.storage.ss_family;
  const int fd = new_socket(family);
  if (fd < 0)
    return -1;
  const int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0 ||
      (family == AF_INET6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) < 0) ||
      bind(fd, reinterpret_cast<const sockaddr *>(&address.storage), address.length) < 0 ||
      listen(fd, BACKLOG) < 0)
    return fail_closing(fd);
  return keep_listener(fd, true);
}

// Replies are short lines the client waits for: they go out at once.
void server_accept_all()
{
  for (const Listener &listener : listeners) {
    for (int taken = 0; listener.fd >= 0 && taken < ACCEPTS_PER_PASS; taken++) {
      const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0)
        break;
      const int on = 1;
      if (listener.tcp)
        (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      server_connect(fd);
    }
  }
}

void server_close_listeners()
{
  for (Listener &listener : listeners) {
    if (listener.fd >= 0)
      close(listener.fd);
    listener = Listener{};
  }
  if (unix_path[0] != '\0')
    unlink(unix_path.data());
  unix_path.fill('\0');
}
