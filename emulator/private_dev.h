// A private /dev for the command run under the emulator, made in the child
// the emulator creates for it, before the command is executed.
//
//   emu_fork_private(&space)                     fork; 0 in the child, its pid, or -1
//   emu_private_dev(space, slave, with_device, &failure)   in the child, before exec
//
// The child is PID 1 of a new PID namespace where the kernel allows one
// (space.own_pid_namespace tells). A child of a process without CAP_SYS_ADMIN
// (an ordinary user, or root in a container that withholds it) is created
// already inside a new user namespace holding a new mount namespace, in which
// it keeps its own uid and gid. Root's child enters a mount namespace of its
// own. In it, a fresh tmpfs is mounted over /dev, the usual nodes are bound
// back and, when with_device is set, the pseudo-terminal slave at slave path
// is bound onto /dev/ttyS1. The machine's own /dev/ttyS1 is never opened.
// Results: 0, or -1 with errno set and failure naming the step that failed
// (a fixed string).
#ifndef LCM_EMULATOR_PRIVATE_DEV_H
#define LCM_EMULATOR_PRIVATE_DEV_H

#include <sys/types.h>

struct PrivateSpace {
  uid_t uid = 0;
  gid_t gid = 0;
  bool in_user_namespace = false;
  bool own_pid_namespace = false;
};

[[nodiscard]] pid_t emu_fork_private(PrivateSpace *space);
[[nodiscard]] int emu_private_dev(const PrivateSpace &space, const char *slave_path, bool with_device,
                                  const char **failure);

#endif
