// lcm-show: show two lines of text on the display module and exit.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "handover.h"
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

// The first failure of the run and the one that ended it (the same when
// only one kind came); 0 while none.
struct Failures {
  int first = 0;
  int last = 0;
};

// A reply that is missing or no position still leaves the text on the
// display, so the run goes on after one.
bool run_goes_on_after(int error)
{
  return error == ETIMEDOUT || error == EBADMSG;
}

// A port that cannot be written ends the run.
bool step(int result, Failures *failures)
{
  if (result >= 0)
    return true;
  const int error = errno != 0 ? errno : EIO;
  if (failures->first == 0)
    failures->first = error;
  failures->last = error;
  return run_goes_on_after(error);
}

const char *describe(int error)
{
  switch (error) {
  case ETIMEDOUT:
    return "the display module did not answer";
  case EBADMSG:
    return "the display module's reply was not a position";
  case EAGAIN:
    return "the port stayed busy, bytes were not sent";
  case EIO:
    // What a terminal answers once its line has hung up or gone away.
    return "the line hung up (Input/output error)";
  default:
    // lcm-show runs a single thread.
    return strerror(error); // NOLINT(concurrency-mt-unsafe)
  }
}

// Why the output did not leave the host.
const char *describe_drain(int error)
{
  switch (error) {
  case ETIMEDOUT:
    return "still queued after a second";
  case EIO:
    return "the line hung up";
  default:
    // lcm-show runs a single thread.
    return strerror(error); // NOLINT(concurrency-mt-unsafe)
  }
}

// Every failure that matters, in the order they came: an earlier one (the
// module did not answer) may explain the screen, the last one ended the run.
int report(const Failures &failures, int drain_error)
{
  // When the port would not open, the link has already said why.
  if (!port_is_open())
    return EXIT_PORT_FAILURE;
  if (failures.first != 0)
    fprintf(stderr, "lcm-show: %s: %s\n", lcm_port_name(), describe(failures.first));
  if (failures.last != failures.first)
    fprintf(stderr, "lcm-show: %s: %s\n", lcm_port_name(), describe(failures.last));
  if (drain_error != 0)
    fprintf(stderr, "lcm-show: %s: the bytes were not sent (%s)\n", lcm_port_name(),
            describe_drain(drain_error));
  return EXIT_PORT_FAILURE;
}

// What was printed must have reached standard output: a full disk or a
// closed stream is a failure, not a success.
int flush_output(int status)
{
  errno = 0;
  const bool flushed = fflush(stdout) == 0;
  if (flushed && ferror(stdout) == 0)
    return status;
  if (!flushed && errno != 0)
    perror("lcm-show: standard output");
  else
    fputs("lcm-show: standard output: write error\n", stderr);
  return EXIT_PORT_FAILURE;
}

} // namespace

int main(int argc, char **argv)
{
  const char *program = argc > 0 && argv[0] ? argv[0] : "lcm-show";
  // Alone, these two are requests; with a second argument they are text.
  if (argc == 2 && strcmp(argv[1], "--help") == 0) {
    printf("usage: %s Line1 Line2\n"
           "Shows Line1 on row 0 and Line2 on row 1 of the display module on /dev/ttyS1\n"
           "(or the device LCM_DEVICE names), each cut to 16 bytes. While lcm-panel runs,\n"
           "it shows them in front of its screens until a button is pressed. Exit status:\n"
           "0 when shown, 1 when the port, the module or the panel failed, 2 for a wrong\n"
           "number of arguments.\n",
           program);
    return flush_output(0);
  }
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    printf("lcm-show %s\n", LCM_VERSION);
    return flush_output(0);
  }
  if (argc != 3) {
    printf("usage: %s Line1 Line2\n", program);
    return flush_output(EXIT_USAGE);
  }
  const Line first = make_line(argv[1]);
  const Line second = make_line(argv[2]);

  // A running lcm-panel holds the port: it shows the lines for us.
  std::array<char, 256> reason{};
  const int handed = handover_show({first.text.data(), first.length}, {second.text.data(), second.length},
                                   reason.data(), reason.size());
  if (handed == HANDOVER_SHOWN)
    return 0;
  if (handed == HANDOVER_FAILED) {
    fprintf(stderr, "lcm-show: %s: lcm-panel could not show the lines: %s\n", lcm_port_name(), reason.data());
    return EXIT_PORT_FAILURE;
  }

  Failures failures;
  const bool finished =
      step(lcm_cursor(0), &failures) && step(lcm_clear(), &failures) &&
      step(lcm_move(MOVE_HOME), &failures) && step(lcm_write(first.length, first.text.data()), &failures) &&
      step(lcm_set_pos(1, 0), &failures) && step(lcm_write(second.length, second.text.data()), &failures);
  // Success means the bytes left the host, not only that they were queued;
  // bytes that cannot leave are dropped by the drain, so the exit is not held up.
  const int drain_error = finished && lcm_drain() < 0 ? errno : 0;
  if (failures.first == 0 && drain_error == 0)
    return 0;
  return report(failures, drain_error);
}
