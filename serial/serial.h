// Serial port link: the one port that carries the display module's bytes.
//
//   port_name(n)            the device port_open(n) opens: $LCM_DEVICE if set, else /dev/ttyS<n-1>
//   port_open(n)            open port_name(n) raw at 9600 8N1 and lock it; fd, or 0 on failure
//   port_write(data, n)     write all n bytes; n, a short count if the port stays busy, or -1
//   port_read(buf, n)       wait about a second for n bytes; count read, 0 on silence, or -1
//   port_discard_input()    drop whatever waits unread in the input; 0 or -1
//   port_drain()            wait up to a second until every byte written has left the UART; 0 or -1
//   port_close()            let the output go (or drop it if it could not leave), close, unlock
//   port_is_open()          1 while a port is open, 0 before, after a failed open and after close
//   port_stop_waiting()     from now on a reply is not waited for and a busy port is given up at once
//   port_device(path, &node) the device at path, as the open would take it; 0, or -1 if it would refuse it
//   port_holder(path)       the pid holding the port's lock on the device at path; 0 if none, or -1
//
// One program at a time: the open takes an exclusive lock on the port and
// waits up to 2 s for another holder to let go. Only a terminal device is
// driven. The port never takes descriptor 0, 1 or 2 and is closed on exec.
// A device path of 80 bytes or more is refused, never cut.
//
// Every wait is bounded by the monotonic clock, and a program that is
// stopping may cut the waits for replies and for a busy port short
// (port_stop_waiting, safe in a signal handler); the drain still waits. Output that could not leave
// (the drain gave up, or the port stayed busy) is dropped at once, and the
// port is closed at exit, so that no program waits out the kernel's closing
// wait for bytes that will never go.
//
// port_device and port_holder fail (-1, errno) for a path that port_open
// would refuse before opening it: ENAMETOOLONG, the errno of stat, ENOTTY for
// anything but a character device. Links are followed: the node is the
// device's, and the lock is on it. The lock's holder is told as the system's
// lock table (/proc/locks) tells it, in this process's pids; port_holder also
// fails when the table cannot be read through or counts the pids of another
// PID namespace (ESRCH). A holder this process cannot see counts as none.
//
// The link never prints apart from the one line on standard error when the
// open fails ("/dev/ttyS1: REASON"); every other failure is a -1 with errno
// left for the caller. While no port is open, the other operations touch no
// descriptor and fail with EBADF.
#ifndef LCM_SERIAL_SERIAL_H
#define LCM_SERIAL_SERIAL_H

#include <cstdint>
#include <sys/stat.h>
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

[[nodiscard]] const char *port_name(std::uint16_t port_number);
int port_open(std::uint16_t port_number);
[[nodiscard]] int port_write(const unsigned char *data, int length);
[[nodiscard]] int port_read(unsigned char *buffer, int length);
[[nodiscard]] int port_discard_input();
[[nodiscard]] int port_drain();
void port_close();
[[nodiscard]] int port_is_open();
void port_stop_waiting();
[[nodiscard]] int port_device(const char *path, struct stat *node);
[[nodiscard]] long port_holder(const char *path);

#endif
