// What the two files of the clients' server share; internal to them.
//
//   server_accept_all()          take the connections waiting on every listener, a few at most
//   server_close_listeners()     close every listener and remove the Unix socket
//   server_connect(fd)           serve a new connection, or turn it away when 16 are served
#ifndef LCM_SERVER_SERVER_INTERNAL_H
#define LCM_SERVER_SERVER_INTERNAL_H

void server_accept_all();
void server_close_listeners();
void server_connect(int fd);

#endif
