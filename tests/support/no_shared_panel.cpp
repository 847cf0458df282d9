// Linked into every test program: a panel the machine may be running never
// takes a test's lines, and a test's panel never takes another's. Each test
// process gets a socket path of its own, unless the test chose one.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

int choose_private_share()
{
  char path[96];
  snprintf(path, sizeof path, "/tmp/lcm-test-%ld.sock", static_cast<long>(getpid()));
  return setenv("LCM_PANEL_SOCKET", path, 0);
}

const int chosen = choose_private_share();

} // namespace
