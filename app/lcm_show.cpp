// lcm-show: show two lines of text on the display module and exit.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lcm.h"
#include "serial.h"

namespace {

constexpr int EXIT_USAGE = 2;
constexpr int EXIT_PORT_FAILURE = 1;

struct Line {
  std::array<unsigned char, LCM_COLUMNS> text{};
  int length = 0;
};

// Lines are cut by bytes, not characters.
Line make_line(const char *argument)
{
  Line line;
  line.length = static_cast<int>(strnlen(argument, line.text.size()));
  memcpy(line.text.data(), argument, static_cast<size_t>(line.length));
  return line;
}

// A missing reply still leaves the text on the display, so the run goes on
// after one; a port that cannot be written ends it.
bool step(int result, int *first_errno)
{
  if (result >= 0)
    return true;
  if (*first_errno == 0)
    *first_errno = errno != 0 ? errno : EIO;
  return errno == ETIMEDOUT;
}

const char *describe(int error)
{
  switch (error) {
  case ETIMEDOUT:
    return "the display module did not answer";
  case EAGAIN:
    return "the port stayed busy, bytes were not sent";
  default:
    // lcm-show runs a single thread.
    return strerror(error); // NOLINT(concurrency-mt-unsafe)
  }
}

// Why the output did not leave the host.
const char *describe_drain(int error)
{
  if (error == ETIMEDOUT)
    return "still queued after a second";
  // lcm-show runs a single thread.
  return strerror(error); // NOLINT(concurrency-mt-unsafe)
}

} // namespace

int main(int argc, char **argv)
{
  const char *program = argc > 0 && argv[0] ? argv[0] : "lcm-show";
  // Alone, these two are requests; with a second argument they are text.
  if (argc == 2 && strcmp(argv[1], "--help") == 0) {
    printf("usage: %s Line1 Line2\n"
           "Shows Line1 on row 0 and Line2 on row 1 of the display module on /dev/ttyS1,\n"
           "each cut to 16 bytes. Exit status: 0 when shown, 1 when the port or the module\n"
           "failed, 2 for a wrong number of arguments.\n",
           program);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    printf("lcm-show %s\n", LCM_VERSION);
    return 0;
  }
  if (argc != 3) {
    printf("usage: %s Line1 Line2\n", program);
    return EXIT_USAGE;
  }
  const Line first = make_line(argv[1]);
  const Line second = make_line(argv[2]);

  int error = 0;
  (void)(step(lcm_cursor(0), &error) && step(lcm_clear(), &error) && step(lcm_move(MOVE_HOME), &error) &&
         step(lcm_write(first.length, first.text.data()), &error) && step(lcm_set_pos(1, 0), &error) &&
         step(lcm_write(second.length, second.text.data()), &error));
  // Success means the bytes left the host, not only that they were queued.
  if (error == 0 && lcm_drain() == 0)
    return 0;
  // When the port would not open, the link has already said why.
  if (!port_is_open())
    return EXIT_PORT_FAILURE;
  if (error == 0)
    fprintf(stderr, "lcm-show: %s: the bytes were not sent (%s)\n", devicename, describe_drain(errno));
  else
    fprintf(stderr, "lcm-show: %s: %s\n", devicename, describe(error));
  return EXIT_PORT_FAILURE;
}
