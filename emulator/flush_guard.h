// Output flushes by the command, held until the emulator has taken what was
// written before them.
//
//   emu_guard_flushes(channel)          in the child, before exec: every output TCFLSH the command's
//                                       processes make waits for the emulator; 0, or -1 with errno
//   emu_receive_flush_guard(channel)    in the emulator: the descriptor the held flushes arrive
//                                       on, or -1 when the child could not set the guard up
//   emu_next_flush(guard, &id)          a flush that waits; 0 with its id, or -1 with errno
//   emu_let_flush_go(guard, id)         the flush goes ahead as the command asked it
//
// On a pseudo-terminal a program's drain returns as soon as its bytes sit in
// the kernel's buffer for the master side, before they are handed on to the
// master's reader; a flush of the slave's output (the next program's open
// makes three) discards what has not been handed on. On a real UART the
// drain would have waited for the wire. The kernel stops each such ioctl
// (a seccomp filter with a user notification) until the emulator has read
// the master, which hands every waiting byte on, and lets it go ahead after.
// Where the kernel refuses the filter the run goes on unguarded.
#ifndef LCM_EMULATOR_FLUSH_GUARD_H
#define LCM_EMULATOR_FLUSH_GUARD_H

#include <cstdint>

[[nodiscard]] int emu_guard_flushes(int channel);
[[nodiscard]] int emu_receive_flush_guard(int channel);
[[nodiscard]] int emu_next_flush(int guard, std::uint64_t *id);
void emu_let_flush_go(int guard, std::uint64_t id);

#endif
