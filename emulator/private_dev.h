// A private /dev for the command run under the emulator, made in the forked
// child before it executes the command.
//
//   emu_private_dev(slave_path, with_device, &failure)
//
// Gives the calling process its own mount namespace (and, when that is not
// allowed, a user namespace around it), mounts a fresh tmpfs over /dev, binds
// back the usual nodes and, when with_device is set, binds the pseudo-terminal
// slave at slave_path onto /dev/ttyS1. The machine's own /dev/ttyS1 is never
// opened. Returns 0, or -1 with errno set and failure naming the step that
// failed (a fixed string). Must run in a single-threaded process.
#ifndef LCM_EMULATOR_PRIVATE_DEV_H
#define LCM_EMULATOR_PRIVATE_DEV_H

[[nodiscard]] int emu_private_dev(const char *slave_path, bool with_device, const char **failure);

#endif
