// The display clients' server: the sockets they connect on, the request
// lines read from them and the replies and events written back.
//
//   server_parse_address(text, &address)  ADDR:PORT or [ADDR6]:PORT into a socket address; 0, or -1 (EINVAL)
//   server_listen_unix(path, group)       serve on a Unix socket, mode 0660, of group; 0, or -1 with errno
//   server_listen_tcp(address)            serve on a TCP address; 0, or -1 with errno
//   server_poll(now)                      accept, read, run and answer, within a bound; never waits
//   server_stop()                         close every connection and listener, remove the Unix socket
//
// Every socket is non-blocking and closed on exec; a client that floods the
// panel or trickles a line never holds up the others.
#ifndef LCM_SERVER_SERVER_H
#define LCM_SERVER_SERVER_H

#include <sys/socket.h>
#include <sys/types.h>

#include "clients.h"

struct ServerAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

[[nodiscard]] int server_parse_address(const char *text, ServerAddress *address);
[[nodiscard]] int server_listen_unix(const char *path, gid_t group);
[[nodiscard]] int server_listen_tcp(const ServerAddress &address);
void server_poll(long long now_ms);
void server_stop();

#endif
