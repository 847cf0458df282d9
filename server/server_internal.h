// What the files of the clients' server share; internal to them.
//
//   server_accept_all(now)       take the connections waiting on every listener, a few at most
//   server_close_listeners()     close every listener and remove the Unix socket
//   server_connect(fd, tcp, now) serve a new connection, or turn it away when no slot is left for it
//   server_listener_fds(fds, n)  a poll entry for each listener, at most n; the count
//   server_connection_fds(fds, n)  a poll entry for each connection, at most n; the count
//   server_note_ready(fds, n)    what a poll of those entries found: only the listeners and
//                                connections it found ready are accepted on and read next
//   server_note_listeners(fds, n)  the same for the listeners alone
#ifndef LCM_SERVER_SERVER_INTERNAL_H
#define LCM_SERVER_SERVER_INTERNAL_H

#include <poll.h>

// The Unix socket and up to eight TCP addresses.
constexpr int SERVER_LISTENERS_MAX = 9;

void server_accept_all(long long now_ms);
void server_close_listeners();
void server_connect(int fd, bool tcp, long long now_ms);
int server_listener_fds(pollfd *fds, int capacity);
int server_connection_fds(pollfd *fds, int capacity);
void server_note_ready(const pollfd *fds, int count);
void server_note_listeners(const pollfd *fds, int count);

// Whether the poll entry of fd found it ready to be read (or hung up); one
// that had no entry keeps what it was.
inline bool server_found_ready(int fd, const pollfd *fds, int count, bool was_ready)
{
  for (int at = 0; at < count; at++) {
    if (fds[at].fd == fd)
      return (fds[at].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
  }
  return was_ready;
}

#endif
