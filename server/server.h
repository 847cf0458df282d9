// The display clients' server: the sockets they connect on, the request
// lines read from them and the replies and events written back.
//
//   server_parse_address(text, &address)  ADDR:PORT or [ADDR6]:PORT into a socket address; 0, or -1 (EINVAL)
//   server_is_loopback(address)           whether only this host can reach an address
//   server_listen_unix(path, group)       serve on a Unix socket, mode 0660, of group; 0, SERVER_OWNER_ONLY
//                                         (served with mode 0600: the group could not be given, errno says
//                                         why), or -1 with errno
//   server_listen_tcp(address)            serve on a TCP address; 0, or -1 with errno
//   server_poll(now)                      accept, read, run and answer, within a bound; never waits; whether
//                                         lines wait that the bound left for the next pass
//   server_stop()                         close every connection and listener, remove the Unix socket
//   server_start()                        serve on a thread of its own from now on; 0, or -1 with errno
//   server_end()                          end that thread (within a fraction of a second); the caller must
//                                         not hold the store
//   server_lock()                         hold the client store (and the connections) against the thread
//   server_unlock()                       let it go; replies and events queued meanwhile go out at once
//
// Every socket is non-blocking and closed on exec; a client that floods the
// panel or trickles a line never holds up the others. A connection that
// has not said hello within 5 s is closed, and TCP connections leave one of
// the 16 client slots to the Unix socket. While the thread runs, every
// other thread calls into clients.h only while it holds the store.
#ifndef LCM_SERVER_SERVER_H
#define LCM_SERVER_SERVER_H

#include <sys/socket.h>
#include <sys/types.h>

#include "clients.h"

constexpr int SERVER_OWNER_ONLY = 1;
// How long a connection may stay without a hello.
constexpr long long SERVER_HELLO_MS = 5000;

struct ServerAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

[[nodiscard]] int server_parse_address(const char *text, ServerAddress *address);
[[nodiscard]] bool server_is_loopback(const ServerAddress &address);
[[nodiscard]] int server_listen_unix(const char *path, gid_t group);
[[nodiscard]] int server_listen_tcp(const ServerAddress &address);
bool server_poll(long long now_ms);
void server_stop();
[[nodiscard]] int server_start();
void server_end();
void server_lock();
void server_unlock();

#endif
