// Feeds the console any input, as a user or a script might type it, with the
// module answering every query from the same bytes. Sleeps are skipped so
// that a run takes microseconds, not the module's real pauses.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "console.h"
#include "fake_port.h"

namespace {

const std::uint8_t *replies;
std::size_t reply_count;
std::size_t next_reply;

int reply_from_input(unsigned char /*query_code*/)
{
  if (reply_count == 0)
    return -1;
  const std::uint8_t reply = replies[next_reply % reply_count];
  next_reply++;
  // Every eighth reply goes missing, as a silent module's would.
  return reply % 8 == 7 ? -1 : reply;
}

} // namespace

extern "C" int __wrap_usleep(useconds_t /*microseconds*/)
{
  return 0;
}

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/)
{
  // What the console prints is of no interest here, only that it survives;
  // its standard error is left to libFuzzer's -close_fd_mask=2.
  if (!freopen("/dev/null", "w", stdout))
    return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
  fake_reset();
  replies = data;
  reply_count = size;
  next_reply = 0;
  fake_set_responder(reply_from_input);
  FILE *input = fmemopen(const_cast<std::uint8_t *>(data), size, "r");
  if (!input)
    return 0;
  (void)console_run(input);
  fclose(input);
  (void)watcher_stop();
  return 0;
}
