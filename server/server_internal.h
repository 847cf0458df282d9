// What the files of the clients' server share; internal to them.
//
//   server_accept_all(now)       take the connections waiting on every listener, a few at most
//   server_close_listeners()     close every listener and remove the Unix socket
//   server_connect(fd, tcp, now) serve a new connection, or turn it away when no slot is left for it
//   server_listener_fds(fds, n)  a poll entry for each listener, at most n; the count
//   server_connection_fds(fds, n)  a poll entry for each connection, at most n; the count
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

#endif
