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

constexpr int BACKLOG = 16;
// New connections taken from one listener in one pass, at most.
constexpr int ACCEPTS_PER_PASS = 4;
constexpr mode_t SOCKET_MODE = 0660;
constexpr mode_t OWNER_MODE = 0600;
// While the socket file is made, only its owner may connect to it.
constexpr mode_t OWNER_ONLY_UMASK = 0177;
constexpr long PORT_MAX = 65535;

struct Listener {
  int fd = -1;
  bool tcp = false;
  // Until a poll says otherwise, a connection may be waiting.
  bool ready = true;
};

std::array<Listener, SERVER_LISTENERS_MAX> listeners;
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

// A group the panel may not give (not one of its own, or one that has no
// id in its user namespace) leaves the socket to its owner: serving only
// the owner is better than serving nobody.
int give_to_group(const char *path, gid_t group)
{
  if (group != static_cast<gid_t>(-1) && chown(path, static_cast<uid_t>(-1), group) < 0) {
    const int error = errno;
    if (chmod(path, OWNER_MODE) < 0)
      return -1;
    errno = error;
    return SERVER_OWNER_ONLY;
  }
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
  const int given = give_to_group(path, group);
  const int why = errno;
  if (given < 0 || listen(fd, BACKLOG) < 0) {
    const int error = errno;
    unlink(path);
    errno = error;
    return fail_closing(fd);
  }
  if (keep_listener(fd, false) < 0) {
    const int error = errno;
    unlink(path);
    errno = error;
    return -1;
  }
  std::memcpy(unix_path.data(), path, strlen(path) + 1);
  errno = why;
  return given;
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

// 127.0.0.0/8, ::1 and IPv4's loopback mapped into IPv6.
bool server_is_loopback(const ServerAddress &address)
{
  constexpr std::uint32_t LOOPBACK_NET = 0x7F000000U;
  constexpr std::uint32_t LOOPBACK_MASK = 0xFF000000U;
  constexpr std::size_t MAPPED_PREFIX = 12;
  constexpr std::size_t IPV6_LAST = 15;
  constexpr std::array<unsigned char, MAPPED_PREFIX> MAPPED = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (address.storage.ss_family == AF_INET) {
    const auto *ipv4 = reinterpret_cast<const sockaddr_in *>(&address.storage);
    return (ntohl(ipv4->sin_addr.s_addr) & LOOPBACK_MASK) == LOOPBACK_NET;
  }
  if (address.storage.ss_family != AF_INET6)
    return false;
  const unsigned char *bytes = reinterpret_cast<const sockaddr_in6 *>(&address.storage)->sin6_addr.s6_addr;
  if (std::memcmp(bytes, MAPPED.data(), MAPPED_PREFIX) == 0)
    return bytes[MAPPED_PREFIX] == (LOOPBACK_NET >> 24U);
  for (std::size_t at = 0; at < IPV6_LAST; at++) {
    if (bytes[at] != 0)
      return false;
  }
  return bytes[IPV6_LAST] == 1;
}

// Replies are short lines the client waits for: they go out at once.
void server_accept_all(long long now_ms)
{
  for (const Listener &listener : listeners) {
    for (int taken = 0; listener.fd >= 0 && listener.ready && taken < ACCEPTS_PER_PASS; taken++) {
      const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0)
        break;
      const int on = 1;
      if (listener.tcp)
        (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      server_connect(fd, listener.tcp, now_ms);
    }
  }
}

// An accept that finds nobody still costs the kernel a socket made and
// freed: the listeners a poll found quiet are left alone.
void server_note_listeners(const pollfd *fds, int count)
{
  for (Listener &listener : listeners) {
    if (listener.fd >= 0)
      listener.ready = server_found_ready(listener.fd, fds, count, listener.ready);
  }
}

int server_listener_fds(pollfd *fds, int capacity)
{
  int count = 0;
  for (const Listener &listener : listeners) {
    if (listener.fd >= 0 && count < capacity)
      fds[count++] = pollfd{listener.fd, POLLIN, 0};
  }
  return count;
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
