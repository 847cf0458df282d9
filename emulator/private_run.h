// A private /run for the command run under the emulator, made in the child
// after its private /dev, before the command is executed.
//
//   emu_private_run(share_folder, &failure)   0, or -1 with errno set and failure
//                                             naming the step that failed
//
// A panel serves its display clients on a socket under /run/lcm-panel, and
// /run is one for the whole machine: a command seeing the machine's /run
// would hand its lines to a panel running outside, and a panel under the
// emulator would take the machine's socket path. A fresh tmpfs is mounted
// over /run, every entry of the machine's /run but lcm-panel is bound back
// under its own name (an entry that cannot be bound is left out), and the
// emulator's own share_folder is bound onto /run/lcm-panel, so that a panel
// under the emulator is reached from outside through that folder.
#ifndef LCM_EMULATOR_PRIVATE_RUN_H
#define LCM_EMULATOR_PRIVATE_RUN_H

[[nodiscard]] int emu_private_run(const char *share_folder, const char **failure);

#endif
