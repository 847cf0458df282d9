// The clients' server over real sockets in a temporary directory.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sched.h>
#include <unistd.h>
#include <vector>

#include "panel_client.h"
#include "server.h"

namespace {

long long now_ms()
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Serves and reads until the client has been sent want, or its connection ended.
std::string read_until(int fd, const std::string &want)
{
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + SESSION_PATIENCE;
  while (got.find(want) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    server_poll(now_ms());
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 5) <= 0)
      continue;
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0)
      break;
    if (n > 0)
      got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// Serves until the server has closed the client's connection.
bool closed_by_server(int fd)
{
  const auto deadline = std::chrono::steady_clock::now() + SESSION_PATIENCE;
  while (std::chrono::steady_clock::now() < deadline) {
    server_poll(now_ms());
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno == ECONNRESET))
      return true;
    if (n < 0)
      usleep(2000);
  }
  return false;
}

class ServerTest : public ::testing::Test {
protected:
  const Scratch scratch;
  const std::string path = scratch.file("socket");
  std::vector<int> fds;

  void SetUp() override
  {
    signal(SIGPIPE, SIG_IGN);
    clients_reset();
  }

  void TearDown() override
  {
    server_stop();
    for (const int fd : fds)
      close(fd);
  }

  int client()
  {
    const int fd = connect_to(path);
    fds.push_back(fd);
    return fd;
  }
};

TEST_F(ServerTest, AClientsExchangeAndAnEventFromThePanel)
{
  ASSERT_EQ(server_listen_unix(path.c_str(), static_cast<gid_t>(-1)), 0);
  const int fd = client();
  send_all(fd, "hello\nclient_set -name probe\nscreen_add s\n\nnoop\r\n");
  EXPECT_EQ(read_until(fd, "noop complete\n"),
            "connect LCDproc 0.5.9 protocol 0.3 lcd wid 16 hgt 2 cellwid 5 cellhgt 8\nsuccess\nsuccess\n"
            "noop complete\n");
  std::vector<ScreenHandle> handles(CLIENTS_ALL_SCREENS);
  ASSERT_EQ(clients_screens(handles.data(), CLIENTS_ALL_SCREENS), 1);
  EXPECT_STREQ(clients_name(handles[0].client), "probe");
  clients_send_listen(handles[0]);
  EXPECT_EQ(read_until(fd, "\n"), "listen s\n");

  // Gone: its screens go with it.
  send_all(fd, "bye\n");
  EXPECT_TRUE(closed_by_server(fd));
  EXPECT_EQ(clients_screens(handles.data(), CLIENTS_ALL_SCREENS), 0);
}

TEST_F(ServerTest, TheSeventeenthClientIsTurnedAway)
{
  ASSERT_EQ(server_listen_unix(path.c_str(), static_cast<gid_t>(-1)), 0);
  std::vector<int> served;
  for (int i = 0; i < CLIENTS_MAX; i++) {
    served.push_back(client());
    send_all(served.back(), "noop\n");
    EXPECT_EQ(read_until(served.back(), "\n"), "huh? Say hello first\n");
  }
  const int extra = client();
  EXPECT_EQ(read_until(extra, "\n"), "huh? Too many clients\n");
  EXPECT_TRUE(closed_by_server(extra));
  send_all(served.front(), "hello\n");
  EXPECT_EQ(read_until(served.front(), "\n").substr(0, 8), "connect ");
}

// Up to 8 KiB a line; a longer one is answered once and dropped to its end,
// and the next line is served as usual.
TEST_F(ServerTest, AnOverLongLineIsAnsweredOnceAndDropped)
{
  ASSERT_EQ(server_listen_unix(path.c_str(), static_cast<gid_t>(-1)), 0);
  const int fd = client();
  send_all(fd, "hello\nnoop" + std::string(CLIENTS_LINE_MAX - 4, ' ') + "\r\n");
  EXPECT_EQ(read_until(fd, "noop complete\n").find("noop complete\n") != std::string::npos, true);
  send_all(fd, "noop" + std::string(CLIENTS_LINE_MAX - 3, ' ') + "\n");
  send_all(fd, std::string(3 * CLIENTS_LINE_MAX, 'x') + "\nnoop\n");
  EXPECT_EQ(read_until(fd, "noop complete\n"), "huh? Line too long\nhuh? Line too long\nnoop complete\n");
}

TEST_F(ServerTest, TheSocketIsOfTheGroupWithMode0660AndGoesAtStop)
{
  std::vector<gid_t> groups(static_cast<std::size_t>(getgroups(0, nullptr)) + 1);
  groups.resize(static_cast<std::size_t>(getgroups(static_cast<int>(groups.size()), groups.data())));
  gid_t group = getegid();
  for (const gid_t other : groups) {
    if (other != getegid())
      group = other;
  }
  ASSERT_EQ(server_listen_unix(path.c_str(), group), 0);
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_TRUE(S_ISSOCK(status.st_mode));
  EXPECT_EQ(status.st_mode & 07777, 0660U);
  EXPECT_EQ(status.st_gid, group);
  const int fd = client();
  send_all(fd, "hello\n");
  EXPECT_EQ(read_until(fd, "\n").substr(0, 8), "connect ");
  server_stop();
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  char byte = 0;
  EXPECT_EQ(recv(fd, &byte, 1, 0), 0);
}

// What a killed panel left is replaced; a socket someone serves, or a file
// that is not a socket, is left alone.
TEST_F(ServerTest, AStaleSocketIsReplacedALiveOneIsNot)
{
  const int old = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(old, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(old, 1), 0);
  EXPECT_EQ(server_listen_unix(path.c_str(), static_cast<gid_t>(-1)), -1);
  EXPECT_EQ(errno, EADDRINUSE);
  close(old);
  ASSERT_EQ(server_listen_unix(path.c_str(), static_cast<gid_t>(-1)), 0);
  const int fd = client();
  send_all(fd, "hello\n");
  EXPECT_EQ(read_until(fd, "\n").substr(0, 8), "connect ");

  const std::string plain = scratch.file("plain");
  close(open(plain.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  server_stop();
  EXPECT_EQ(server_listen_unix(plain.c_str(), static_cast<gid_t>(-1)), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(access(plain.c_str(), F_OK), 0);
}

TEST_F(ServerTest, AddressesForTcp)
{
  const std::vector<std::string> good = {"127.0.0.1:13666", "0.0.0.0:1", "[::1]:13666", "[::]:65535"};
  const std::vector<std::string> bad = {"127.0.0.1",       "127.0.0.1:",      "127.0.0.1:0",
                                        "127.0.0.1:65536", "localhost:13666", "::1:13666",
                                        "[::1]13666",      "1.2.3.4:12a",     ":13666"};
  ServerAddress address;
  for (const std::string &text : good)
    EXPECT_EQ(server_parse_address(text.c_str(), &address), 0) << text;
  for (const std::string &text : bad)
    EXPECT_EQ(server_parse_address(text.c_str(), &address), -1) << text;
  ASSERT_EQ(server_parse_address("[::1]:13666", &address), 0);
  EXPECT_EQ(address.storage.ss_family, AF_INET6);
  EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in6 *>(&address.storage)->sin6_port), 13666);

  // Loopback is this host alone.
  for (const char *local : {"127.0.0.1:1", "127.8.9.10:1", "[::1]:1", "[::ffff:127.0.0.1]:1"}) {
    ASSERT_EQ(server_parse_address(local, &address), 0);
    EXPECT_TRUE(server_is_loopback(address)) << local;
  }
  for (const char *open : {"0.0.0.0:1", "192.168.1.2:1", "[::]:1", "[::2]:1", "[::ffff:10.0.0.1]:1"}) {
    ASSERT_EQ(server_parse_address(open, &address), 0);
    EXPECT_FALSE(server_is_loopback(address)) << open;
  }
}

// Served on a TCP port nobody uses at the moment, on loopback.
ServerAddress serve_tcp()
{
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof any;
  EXPECT_EQ(bind(probe, reinterpret_cast<const sockaddr *>(&any), sizeof any), 0);
  EXPECT_EQ(getsockname(probe, reinterpret_cast<sockaddr *>(&any), &length), 0);
  close(probe);
  ServerAddress address;
  const std::string text = "127.0.0.1:" + std::to_string(ntohs(any.sin_port));
  EXPECT_EQ(server_parse_address(text.c_str(), &address), 0);
  EXPECT_EQ(server_listen_tcp(address), 0);
  return address;
}

int tcp_client(const ServerAddress &address)
{
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  EXPECT_EQ(connect(fd, reinterpret_cast<const sockaddr *>(&address.storage), address.length), 0);
  return fd;
}

TEST_F(ServerTest, AClientOverTcp)
{
  const ServerAddress address = serve_tcp();
  const int fd = tcp_client(address);
  fds.push_back(fd);
  send_all(fd, "hello\n");
  EXPECT_EQ(read_until(fd, "\n").substr(0, 8), "connect ");
}

// Idle TCP connections take every slot but one, which stays for the Unix
// socket; and a connection that has not said hello within 5 s is closed,
// its slot free again.
TEST_F(ServerTest, IdleTcpConnectionsCannotLockTheUnixSocketOut)
{
  ASSERT_EQ(server_listen_unix(path.c_str(), static_cast<gid_t>(-1)), 0);
  const ServerAddress address = serve_tcp();
  std::vector<int> idle;
  for (int i = 0; i < CLIENTS_MAX - 1; i++) {
    idle.push_back(tcp_client(address));
    fds.push_back(idle.back());
  }
  send_all(idle.front(), "hello\n");
  EXPECT_EQ(read_until(idle.front(), "\n").substr(0, 8), "connect ");
  const int refused = tcp_client(address);
  fds.push_back(refused);
  EXPECT_EQ(read_until(refused, "\n"), "huh? Too many clients\n");
  const int local = client();
  send_all(local, "hello\n");
  EXPECT_EQ(read_until(local, "\n").substr(0, 8), "connect ");

  // Time passes only as the calls say: the first pass after 5 s closes
  // those that owe a hello, and only them.
  const long long later = now_ms() + SERVER_HELLO_MS;
  server_poll(later);
  for (std::size_t i = 1; i < idle.size(); i++)
    EXPECT_TRUE(closed_by_server(idle[i])) << i;
  send_all(idle.front(), "noop\n");
  EXPECT_EQ(read_until(idle.front(), "\n"), "noop complete\n");
  const int again = tcp_client(address);
  fds.push_back(again);
  send_all(again, "hello\n");
  EXPECT_EQ(read_until(again, "\n").substr(0, 8), "connect ");
}

// In a user namespace that maps only its own ids, a group such as the
// pseudo-terminals' tty (5) has no id, and the socket cannot be given it:
// served to its owner alone, mode 0600, the failure's errno told. Child
// process: the exit status names the first check that failed.
int listen_with_unmapped_group(const std::string &path)
{
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER) < 0)
    return 77;
  const std::string uid_map = "0 " + std::to_string(uid) + " 1\n";
  const std::string gid_map = "0 " + std::to_string(gid) + " 1\n";
  auto write_file = [](const char *name, const std::string &text) {
    const int fd = open(name, O_WRONLY | O_CLOEXEC);
    const bool written = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0)
      close(fd);
    return written;
  };
  if (!write_file("/proc/self/setgroups", "deny") || !write_file("/proc/self/uid_map", uid_map) ||
      !write_file("/proc/self/gid_map", gid_map))
    return 77;
  clients_reset();
  errno = 0;
  if (server_listen_unix(path.c_str(), 5) != SERVER_OWNER_ONLY)
    return 1;
  if (errno != EINVAL)
    return 2;
  struct stat status {};
  if (stat(path.c_str(), &status) < 0 || (status.st_mode & 07777) != 0600)
    return 3;
  const int fd = connect_to(path);
  if (fd < 0)
    return 4;
  send_all(fd, "hello\n");
  if (read_until(fd, "\n").substr(0, 8) != "connect ")
    return 5;
  close(fd);
  server_stop();
  return 0;
}

TEST_F(ServerTest, ASocketWhoseGroupCannotBeGivenServesItsOwner)
{
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0)
    _exit(listen_with_unmapped_group(path));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "no user namespace can be made here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
