// Writes to /dev/ttyS1 and flushes its output right after each write, as
// the next program's open does once a program before it has drained and
// closed: flush_probe COUNT writes COUNT bytes, 'A' to 'Z' over and over.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char **argv)
{
  if (argc != 2) {
    fprintf(stderr, "usage: %s COUNT\n", argv[0]);
    return 2;
  }
  const long count = strtol(argv[1], nullptr, 10);
  const int port = open("/dev/ttyS1", O_RDWR | O_NOCTTY);
  termios settings{};
  if (port < 0 || tcgetattr(port, &settings) < 0) {
    perror("/dev/ttyS1");
    return 1;
  }
  cfmakeraw(&settings);
  cfsetspeed(&settings, B9600);
  if (tcsetattr(port, TCSANOW, &settings) < 0) {
    perror("/dev/ttyS1");
    return 1;
  }
  for (long i = 0; i < count; i++) {
    const auto byte = static_cast<unsigned char>('A' + i % 26);
    if (write(port, &byte, 1) != 1 || tcdrain(port) < 0 || tcflush(port, TCOFLUSH) < 0) {
      perror("/dev/ttyS1");
      return 1;
    }
  }
  return 0;
}
