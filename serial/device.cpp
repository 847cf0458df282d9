// The device a path names, as the port's open takes it: what it refuses
// before opening is refused here too.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "serial.h"

int port_device(const char *path, struct stat *node)
{
  if (strlen(path) >= sizeof devicename) {
    errno = ENAMETOOLONG;
    return -1;
  }
  if (stat(path, node) < 0)
    return -1;
  // Only a terminal is ever driven, and a terminal is a character device.
  if (!S_ISCHR(node->st_mode)) {
    errno = ENOTTY;
    return -1;
  }
  return 0;
}
