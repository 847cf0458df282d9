#include "handover.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "lcm.h"
#include "serial.h"

namespace {

// The panel answers once the rows are on the glass; a module that does not
// answer makes that take a few seconds.
constexpr long long PATIENCE_MS = 20000;
constexpr int BUSY_PAUSE_MS = 10;
// A descriptor on 0, 1 or 2 would take the place of a closed standard stream.
constexpr int FIRST_FREE_DESCRIPTOR = 3;
// hello, client_set and lcm_show: the third reply is the one that matters.
constexpr int REPLIES = 3;

constexpr std::size_t QUOTED_LINE_MAX = 2 * LCM_COLUMNS + 2;

// What next_line found.
constexpr int LINE_READ = 0;
constexpr int LINE_NONE = -1;
constexpr int LINE_TOO_LONG = -2;

struct Exchange {
  int fd = -1;
  long long deadline_ms = 0;
  std::array<char, 1024> input{};
  std::size_t kept = 0;
  char *reason = nullptr;
  std::size_t reason_size = 0;
};

// The reason may be the panel's own words: no byte of it may act on the
// user's terminal.
int fail(Exchange *exchange, const char *why)
{
  snprintf(exchange->reason, exchange->reason_size, "%s", why);
  for (char *c = exchange->reason; *c != '\0'; c++)
    *c = *c >= ' ' && *c <= '~' ? *c : '?';
  return HANDOVER_FAILED;
}

// The monotonic clock in milliseconds. The C library's own: the C++ clocks
// would load a runtime lcm-show otherwise does without.
long long now_ms()
{
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int remaining_ms(const Exchange &exchange)
{
  const long long left = exchange.deadline_ms - now_ms();
  return left > 0 ? static_cast<int>(left) : 0;
}

// "..." with the quote and the backslash escaped. A control byte would end
// or break the request line.
std::size_t quote(const HandoverLine &line, char *out)
{
  std::size_t at = 0;
  out[at++] = '"';
  for (int i = 0; i < line.length && i < LCM_COLUMNS; i++) {
    const unsigned char byte = line.text[i];
    if (byte == '"' || byte == '\\')
      out[at++] = '\\';
    out[at++] = byte < 0x20 || byte == 0x7F ? '?' : static_cast<char>(byte);
  }
  out[at++] = '"';
  return at;
}

int open_socket()
{
  const int opened = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (opened < 0 || opened >= FIRST_FREE_DESCRIPTOR)
    return opened;
  const int moved = fcntl(opened, F_DUPFD_CLOEXEC, FIRST_FREE_DESCRIPTOR);
  close(opened);
  return moved;
}

// The process that listens on the other end, in this process's pids; 0 when
// it is not one this process can see.
long peer_of(int socket_fd)
{
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(socket_fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) < 0 || length != sizeof peer)
    return 0;
  return peer.pid;
}

// 0 once connected; -1 when nothing listens there (no panel). A panel whose
// queue of new connections is full is waited for.
int connect_panel(Exchange *exchange, const char *path)
{
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = strlen(path);
  if (length >= sizeof address.sun_path)
    return -1;
  memcpy(address.sun_path, path, length + 1);
  exchange->fd = open_socket();
  if (exchange->fd < 0)
    return -1;
  for (;;) {
    if (connect(exchange->fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
      return 0;
    if (errno != EAGAIN || remaining_ms(*exchange) == 0)
      return -1;
    poll(nullptr, 0, BUSY_PAUSE_MS);
  }
}

int send_all(Exchange *exchange, const char *text, std::size_t length)
{
  std::size_t sent = 0;
  while (sent < length) {
    pollfd ready{exchange->fd, POLLOUT, 0};
    if (poll(&ready, 1, remaining_ms(*exchange)) <= 0)
      return -1;
    const ssize_t count = send(exchange->fd, text + sent, length - sent, MSG_NOSIGNAL);
    if (count < 0 && errno != EAGAIN && errno != EINTR)
      return -1;
    if (count > 0)
      sent += static_cast<std::size_t>(count);
  }
  return 0;
}

// The next line from the panel, without its newline, cut to size: LINE_READ;
// LINE_NONE at the end of the connection or of the patience; LINE_TOO_LONG
// for a line that does not fit the input buffer.
int next_line(Exchange *exchange, char *line, std::size_t size)
{
  for (;;) {
    char *end = static_cast<char *>(memchr(exchange->input.data(), '\n', exchange->kept));
    if (end != nullptr) {
      const auto length = static_cast<std::size_t>(end - exchange->input.data());
      snprintf(line, size, "%.*s", static_cast<int>(length), exchange->input.data());
      exchange->kept -= length + 1;
      memmove(exchange->input.data(), end + 1, exchange->kept);
      return LINE_READ;
    }
    // A line longer than the buffer is no answer of a panel's.
    if (exchange->kept == exchange->input.size())
      return LINE_TOO_LONG;
    pollfd ready{exchange->fd, POLLIN, 0};
    if (poll(&ready, 1, remaining_ms(*exchange)) <= 0)
      return LINE_NONE;
    const ssize_t count = recv(exchange->fd, exchange->input.data() + exchange->kept,
                               exchange->input.size() - exchange->kept, 0);
    if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR))
      return LINE_NONE;
    if (count > 0)
      exchange->kept += static_cast<std::size_t>(count);
  }
}

bool is_event(const char *line)
{
  constexpr std::array<const char *, 4> EVENTS = {"listen ", "ignore ", "key ", "menuevent "};
  return std::any_of(EVENTS.begin(), EVENTS.end(),
                     [line](const char *event) { return strncmp(line, event, strlen(event)) == 0; });
}

// The replies in order: connect, success, then the hand-over's own answer.
int read_answers(Exchange *exchange)
{
  std::array<char, 512> line{};
  for (int reply = 1; reply <= REPLIES;) {
    const int found = next_line(exchange, line.data(), line.size());
    if (found == LINE_TOO_LONG)
      return fail(exchange, "lcm-panel answered with a line too long to be an answer");
    if (found != LINE_READ)
      return fail(exchange, remaining_ms(*exchange) == 0 ? "lcm-panel did not answer in time"
                                                         : "lcm-panel closed the connection");
    if (is_event(line.data()))
      continue;
    if (strncmp(line.data(), "huh? ", 5) == 0)
      return fail(exchange, line.data() + 5);
    const bool expected =
        reply == 1 ? strncmp(line.data(), "connect ", 8) == 0 : strcmp(line.data(), "success") == 0;
    if (!expected)
      return fail(exchange, "the program on the panel's socket answered what lcm-panel would not");
    reply++;
  }
  return HANDOVER_SHOWN;
}

// The request lines sent to the panel; their length, or -1 when they do not fit.
int handover_request(const HandoverLine &first, const HandoverLine &second, char *buffer, std::size_t size)
{
  std::array<char, QUOTED_LINE_MAX> one{};
  std::array<char, QUOTED_LINE_MAX> two{};
  const std::size_t one_length = quote(first, one.data());
  const std::size_t two_length = quote(second, two.data());
  const int written =
      snprintf(buffer, size, "hello\nclient_set -name lcm-show\nlcm_show %.*s %.*s\n",
               static_cast<int>(one_length), one.data(), static_cast<int>(two_length), two.data());
  if (written < 0 || static_cast<std::size_t>(written) >= size)
    return -1;
  return written;
}

} // namespace

// Only the process that holds the port may show the lines: whatever else
// answers on the socket (a program that took the path first) is not
// told them, and a holder this process cannot name is no panel either.
int handover_show(const HandoverLine &first, const HandoverLine &second, char *reason,
                  std::size_t reason_size)
{
  const long holder = port_holder(lcm_port_name());
  std::array<char, sizeof(sockaddr_un::sun_path)> path{};
  if (holder <= 0 || lcm_share_path(path.data(), path.size()) < 0)
    return HANDOVER_NO_PANEL;
  Exchange exchange;
  exchange.deadline_ms = now_ms() + PATIENCE_MS;
  exchange.reason = reason;
  exchange.reason_size = reason_size;
  if (connect_panel(&exchange, path.data()) < 0 || peer_of(exchange.fd) != holder) {
    if (exchange.fd >= 0)
      close(exchange.fd);
    return HANDOVER_NO_PANEL;
  }
  std::array<char, 128> request{};
  const int length = handover_request(first, second, request.data(), request.size());
  int result = 0;
  if (length < 0)
    result = fail(&exchange, "the lines do not fit a request");
  else if (send_all(&exchange, request.data(), static_cast<std::size_t>(length)) < 0)
    result = fail(&exchange, "lcm-panel did not take the lines");
  else
    result = read_answers(&exchange);
  close(exchange.fd);
  return result;
}
