// Serial port link: the one port that carries the display module's bytes.
//
//   port_open(n)          open /dev/ttyS<n-1> raw at 9600 8N1; fd, or 0 on failure
//   port_write(data, n)   write all n bytes; n, a short count if the port stays busy, or -1
//   port_read(buf, n)     wait about a second for n bytes; count read, 0 on silence, or -1
//   port_close()          close the port
//   port_is_open()        1 while a port is open, 0 before, after a failed open and after close
//
// The link never prints apart from perror's line when the open fails; every
// other failure is a -1 with errno left for the caller. While no port is open,
// writes and reads send and poll nothing and fail with EBADF.
#ifndef LCM_SERIAL_SERIAL_H
#define LCM_SERIAL_SERIAL_H

#include <cstdint>
#include <termios.h>

extern int fd;
extern char devicename[80];
extern char message[256];
extern struct termios oldtio;
extern struct termios newtio;
extern int BAUD;
extern int DATABITS;
extern int PARITYON;
extern int STOPBITS;

int port_open(std::uint16_t port_number);
[[nodiscard]] int port_write(const unsigned char *data, int length);
[[nodiscard]] int port_read(unsigned char *buffer, int length);
void port_close();
[[nodiscard]] int port_is_open();

#endif
