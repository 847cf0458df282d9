// The emulator's clock and its --trace lines, shared by the event loop and
// the live terminal.
#include <cstdio>

#include "session.h"

long long emu_elapsed_us(const Run &run, Clock::time_point now)
{
  if (!run.started)
    return 0;
  return std::chrono::duration_cast<Microseconds>(now - run.first_byte).count();
}

void emu_trace(const Run &run, const std::string &text)
{
  emu_trace_at(run, Clock::now(), text);
}

void emu_trace_at(const Run &run, Clock::time_point when, const std::string &text)
{
  if (!run.options.trace)
    return;
  constexpr long long US_PER_MS = 1000;
  fprintf(stderr, "lcm-emu +%lld ms: %s\n", emu_elapsed_us(run, when) / US_PER_MS, text.c_str());
}
