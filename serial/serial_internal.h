// Internal to the serial link: what its files share. Not part of the link's
// interface; only serial/*.cpp include it.
//
//   port_describe_busy(fd, reason, size)  "in use by another program", naming the lock's holder when known
#ifndef LCM_SERIAL_SERIAL_INTERNAL_H
#define LCM_SERIAL_SERIAL_INTERNAL_H

#include <cstddef>

void port_describe_busy(int descriptor, char *reason, std::size_t size);

#endif
