// The serial link's system calls, substituted at link time (-Wl,--wrap) so
// that tests can count them and force the faults a real port rarely shows.
// Calls on descriptors other than the port pass straight through.
#ifndef LCM_TESTS_SYSCALL_WRAPS_H
#define LCM_TESTS_SYSCALL_WRAPS_H

#include <string>
#include <sys/types.h>
#include <vector>

// A write_plan entry that answers EAGAIN.
constexpr long WRITE_BUSY = -1;
constexpr long WRITE_INTERRUPTED = -2;

struct SyscallScript {
  // Where opens of /dev/ttyS* go instead; empty makes them fail with ENOENT.
  std::string redirect;
  // Record sleeps without sleeping. The monotonic clock the link reads then
  // stands still but for the sleeps, each of which moves it on by its length
  // times sleep_stretch (a loaded machine sleeps longer than asked).
  bool skip_sleeps = false;
  int sleep_stretch = 1;
  // Every write to the port answers EAGAIN.
  bool writes_busy = false;
  // The answers of successive writes to the port: WRITE_BUSY,
  // WRITE_INTERRUPTED (EINTR, nothing taken), or the most
  // bytes the write accepts. Once used up, writes pass through.
  std::vector<long> write_plan;
  // How many flushes of the port give way to a signal (EINTR) first.
  int flushes_interrupted = 0;
  // errno of a failing FIONREAD query; 0 lets it through.
  int fionread_error = 0;
  // Successive counts TIOCOUTQ reports as queued, the last one for ever;
  // empty lets the query through.
  std::vector<int> output_queued;
  // errno of a failing TIOCOUTQ query; 0 lets it through.
  int outq_error = 0;
  // Successive line status words TIOCSERGETLSR reports, the last one for
  // ever; empty lets the query through (a pseudo-terminal answers ENOTTY).
  std::vector<unsigned int> line_status;
  // errno of a failing TIOCSERGETLSR query; 0 lets it through.
  int lsr_error = 0;
  // Where opens of /proc/locks go instead (a table the test wrote); empty
  // lets them through.
  std::string locks_table;
  // What readlink of /proc/self answers; empty lets it through.
  std::string proc_self;
};

extern SyscallScript script;
// What the link did, one entry a call: "open /dev/ttyS1", "tcflush 2",
// "tcsetattr", "usleep 100000", "write 3", "ioctl" (FIONREAD), "outq"
// (TIOCOUTQ), "lsr" (TIOCSERGETLSR), "read 1".
extern std::vector<std::string> events;

void wraps_reset();
int count_events(const std::string &event);
extern "C" ssize_t __real_write(int fd, const void *data, size_t length);

#endif
