// The init of the command's own PID namespace, run by the emulator's child
// when it became PID 1 of a new PID namespace.
//
//   emu_init_mount_proc()      a /proc of the namespace's own; 0, or -1 with errno set
//   emu_init_start_command()   fork the command; 0 in the command, -1 with errno set
//   emu_exit_status(status)    the exit status a wait status stands for, as a shell gives it
//
// The namespace's /proc is mounted over the machine's in the child's private
// mount namespace, so that a process finds itself under /proc/PID for the PID
// it is given (a sanitizer runtime stopping its threads does), and sees only
// the processes of its namespace.
//
// In the init the call never returns: it forwards SIGINT, SIGTERM and SIGHUP
// to the command, reaps every process of the namespace until the command has
// ended, and then exits with the command's exit code, or 128 + N when signal
// N ended it. The kernel kills whatever is left in the namespace when its
// init ends, so nothing the command started outlives the command or the
// emulator.
#ifndef LCM_EMULATOR_COMMAND_INIT_H
#define LCM_EMULATOR_COMMAND_INIT_H

[[nodiscard]] int emu_init_mount_proc();
[[nodiscard]] int emu_init_start_command();
// The exit code, 128 + N when signal N ended the process, 125 otherwise.
[[nodiscard]] int emu_exit_status(int status);

#endif
