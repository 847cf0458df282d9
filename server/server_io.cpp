#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "server.h"
#include "server_internal.h"

namespace {

// Request lines one client may have run in one pass, at most: a client that
// floods the panel waits for later passes, and the buttons do not.
constexpr int LINES_PER_PASS = 32;
constexpr const char *REFUSAL = "huh? Too many clients\n";
// TCP connections may take every slot but this many: lcm-show and the local
// clients on the Unix socket are never locked out from the network.
constexpr int SLOTS_KEPT_FOR_UNIX = 1;

// A connection has the slot of its client in the store.
struct Connection {
  int fd = -1;
  bool tcp = false;
  // When the connection came, for the hello it owes.
  long long opened_ms = 0;
  // A request line with its "\r\n".
  std::array<char, CLIENTS_LINE_MAX + 2> input{};
  std::size_t filled = 0;
  // The rest of an over-long line is being dropped.
  bool skipping = false;
  // The client has closed its side.
  bool ended = false;
  // bye, or the connection failed.
  bool closing = false;
  // Until a poll says otherwise, input may be waiting.
  bool ready = true;
};

std::array<Connection, CLIENTS_MAX> connections;

bool is_transient(int error)
{
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

void close_connection(int client)
{
  Connection &connection = connections[static_cast<std::size_t>(client)];
  close(connection.fd);
  connection.fd = -1;
  connection.tcp = false;
  connection.filled = 0;
  connection.skipping = false;
  connection.ended = false;
  connection.closing = false;
  clients_remove(client);
}

// Only what the input has room for: a line that is not yet whole keeps its
// place until its end comes.
void read_input(Connection *connection)
{
  const std::size_t room = connection->input.size() - connection->filled;
  if (connection->ended || connection->closing || !connection->ready || room == 0)
    return;
  const ssize_t got = recv(connection->fd, connection->input.data() + connection->filled, room, MSG_DONTWAIT);
  if (got > 0)
    connection->filled += static_cast<std::size_t>(got);
  else if (got == 0)
    connection->ended = true;
  else if (!is_transient(errno))
    connection->closing = true;
}

// A line past the bound is answered, not run.
void run_line(int client, Connection *connection, char *line, std::size_t length, long long now_ms)
{
  if (length > 0 && line[length - 1] == '\r')
    length--;
  if (length > CLIENTS_LINE_MAX)
    clients_line_too_long(client);
  else if (clients_execute(client, line, length, now_ms) == CLIENTS_BYE)
    connection->closing = true;
}

// The whole lines waiting, up to the bound; then what is left moves to the
// front. A full input without a line end holds the start of an over-long
// line: answered once, and the line is dropped up to its end.
void run_lines(int client, Connection *connection, long long now_ms)
{
  char *input = connection->input.data();
  std::size_t start = 0;
  int run = 0;
  while (run < LINES_PER_PASS && !connection->closing) {
    auto *end = static_cast<char *>(std::memchr(input + start, '\n', connection->filled - start));
    if (end == nullptr)
      break;
    const auto length = static_cast<std::size_t>(end - (input + start));
    if (!connection->skipping) {
      run_line(client, connection, input + start, length, now_ms);
      run++;
    }
    connection->skipping = false;
    start += length + 1;
  }
  std::memmove(input, input + start, connection->filled - start);
  connection->filled -= start;
  const bool whole_line_left = std::memchr(input, '\n', connection->filled) != nullptr;
  if (whole_line_left || connection->closing)
    return;
  if (connection->filled == connection->input.size()) {
    if (!connection->skipping)
      clients_line_too_long(client);
    connection->skipping = true;
    connection->filled = 0;
  } else if (connection->skipping) {
    connection->filled = 0;
  } else if (connection->ended && connection->filled > 0) {
    // The last line of a client that has gone needs no line end.
    run_line(client, connection, input, connection->filled, now_ms);
    connection->filled = 0;
  }
}

void flush(int client, Connection *connection)
{
  std::size_t length = 0;
  const char *waiting = clients_outbox(client, &length);
  if (length == 0)
    return;
  const ssize_t sent = send(connection->fd, waiting, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent > 0)
    clients_outbox_sent(client, static_cast<std::size_t>(sent));
  else if (sent < 0 && !is_transient(errno))
    connection->closing = true;
}

void drop(int client)
{
  const char *name = clients_name(client);
  fprintf(stderr, "lcm-panel: display client %d%s%s%s does not read its replies; dropped\n", client + 1,
          *name != '\0' ? " (" : "", name, *name != '\0' ? ")" : "");
  close_connection(client);
}

// Whether whole lines wait that the bound on lines left for the next pass.
bool serve(int client, long long now_ms)
{
  Connection &connection = connections[static_cast<std::size_t>(client)];
  read_input(&connection);
  run_lines(client, &connection, now_ms);
  flush(client, &connection);
  const bool late = !clients_greeted(client) && now_ms - connection.opened_ms >= SERVER_HELLO_MS;
  if (clients_outbox_overflowed(client))
    drop(client);
  else if (connection.closing || late || (connection.ended && connection.filled == 0))
    close_connection(client);
  else
    return std::memchr(connection.input.data(), '\n', connection.filled) != nullptr;
  return false;
}

int tcp_connections()
{
  int count = 0;
  for (const Connection &connection : connections)
    count += connection.fd >= 0 && connection.tcp ? 1 : 0;
  return count;
}

} // namespace

void server_connect(int fd, bool tcp, long long now_ms)
{
  const int client = tcp && tcp_connections() >= CLIENTS_MAX - SLOTS_KEPT_FOR_UNIX ? -1 : clients_open();
  if (client < 0) {
    (void)send(fd, REFUSAL, strlen(REFUSAL), MSG_NOSIGNAL | MSG_DONTWAIT);
    close(fd);
    return;
  }
  Connection &connection = connections[static_cast<std::size_t>(client)];
  connection.fd = fd;
  connection.tcp = tcp;
  connection.opened_ms = now_ms;
  connection.ready = true;
}

// Every client is served in turn, each within the bound on lines, so one
// pass costs at most a few hundred short lines whatever the clients send.
bool server_poll(long long now_ms)
{
  server_accept_all(now_ms);
  bool more = false;
  for (int client = 0; client < CLIENTS_MAX; client++) {
    if (connections[static_cast<std::size_t>(client)].fd >= 0)
      more = serve(client, now_ms) || more;
  }
  return more;
}

// Every connection is read; one with replies or events unsent waits for room too.
int server_connection_fds(pollfd *fds, int capacity)
{
  int count = 0;
  for (int client = 0; client < CLIENTS_MAX && count < capacity; client++) {
    const Connection &connection = connections[static_cast<std::size_t>(client)];
    if (connection.fd < 0)
      continue;
    std::size_t unsent = 0;
    (void)clients_outbox(client, &unsent);
    const auto events = static_cast<short>((connection.ended ? 0 : POLLIN) | (unsent > 0 ? POLLOUT : 0));
    fds[count++] = pollfd{connection.fd, events, 0};
  }
  return count;
}

// Each wake of the thread would otherwise read all sixteen connections, and
// the one client that sent a line is the only one with anything to read.
void server_note_ready(const pollfd *fds, int count)
{
  server_note_listeners(fds, count);
  for (Connection &connection : connections) {
    if (connection.fd >= 0)
      connection.ready = server_found_ready(connection.fd, fds, count, connection.ready);
  }
}

void server_stop()
{
  for (int client = 0; client < CLIENTS_MAX; client++) {
    if (connections[static_cast<std::size_t>(client)].fd >= 0)
      close_connection(client);
  }
  server_close_listeners();
}
