// Starting the command: a pseudo-terminal for its /dev/ttyS1, a child in a
// private /dev (the command's init, where it may have a PID namespace of its
// own), and the report of a failure before exec.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "command_init.h"
#include "flush_guard.h"
#include "private_dev.h"
#include "private_run.h"
#include "session.h"

namespace {

// The child reports a failure before exec as its exit status followed by a message.
[[noreturn]] void fail_in_child(int report, int status, const char *what, int error)
{
  std::array<char, 512> text{};
  const int length =
      snprintf(text.data(), text.size(), "%c%s: %s", status, what, emu_error_text(error).c_str());
  if (length > 0)
    (void)!write(report, text.data(), std::min(static_cast<size_t>(length), text.size() - 1));
  _exit(status);
}

// The child ends with the emulator, even one killed outright. The request is
// made after the namespaces are entered; an emulator that died before it took
// hold has closed the reading end of the report pipe.
void end_with_emulator(int report)
{
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) < 0)
    fail_in_child(report, EXIT_EMULATOR_FAILURE, "asking to end with the emulator", errno);
  pollfd reader_gone{report, 0, 0};
  if (poll(&reader_gone, 1, 0) < 0 || (reader_gone.revents & POLLERR) != 0)
    _exit(EXIT_EMULATOR_FAILURE);
}

void make_private_dev(const Run &run, const PrivateSpace &space, int report)
{
  const char *failure = "";
  const char *what = "cannot give the command a private /dev/ttyS1";
  if (emu_private_dev(space, run.line.slave_path.c_str(), !run.options.no_device, &failure) == 0) {
    what = "cannot give the command a private /run";
    if (emu_private_run(run.share_folder.c_str(), &failure) == 0)
      return;
  }
  const int error = errno;
  std::array<char, 256> text{};
  snprintf(text.data(), text.size(), "%s: %s", what, failure);
  fail_in_child(report, EXIT_EMULATOR_FAILURE, text.data(), error);
}

[[noreturn]] void exec_command(Run *run, int report, int command_input_read)
{
  if (command_input_read >= 0 && dup2(command_input_read, STDIN_FILENO) < 0)
    fail_in_child(report, EXIT_EMULATOR_FAILURE, "connecting the command's input", errno);
  std::vector<char *> arguments;
  for (std::string &argument : run->options.command)
    arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  execvp(arguments[0], arguments.data());
  const int error = errno;
  fail_in_child(report, error == ENOENT ? EXIT_NOT_FOUND : EXIT_NOT_EXECUTABLE,
                run->options.command[0].c_str(), error);
}

// In a PID namespace of its own the child is the command's init, and the
// command its child; without one the child becomes the command.
[[noreturn]] void run_child(Run *run, const PrivateSpace &space, int report, int command_input_read,
                            int guard_channel)
{
  emu_default_signals();
  make_private_dev(*run, space, report);
  // Unguarded, the run still works; only a flush may then lose bytes.
  (void)emu_guard_flushes(guard_channel);
  close(guard_channel);
  // Where /proc cannot be mounted (a container that hides parts of the
  // machine's), the command sees the machine's, in which its own pids name
  // other processes.
  if (space.own_pid_namespace)
    (void)emu_init_mount_proc();
  end_with_emulator(report);
  if (space.own_pid_namespace && emu_init_start_command() < 0)
    fail_in_child(report, EXIT_EMULATOR_FAILURE, "starting the command", errno);
  exec_command(run, report, command_input_read);
}

// Waits for the child's exec: an empty report means the command runs.
int read_report(Run *run, int report)
{
  std::array<char, 512> message{};
  ssize_t length = 0;
  for (;;) {
    length = read(report, message.data(), message.size() - 1);
    if (length >= 0 || errno != EINTR)
      break;
  }
  close(report);
  if (length <= 0)
    return 0;
  int status = 0;
  waitpid(run->child, &status, 0);
  run->child_done = true;
  message[static_cast<size_t>(length)] = '\0';
  fprintf(stderr, "lcm-emu: %s\n", message.data() + 1);
  return static_cast<unsigned char>(message[0]);
}

} // namespace

int emu_open_line(Line *line)
{
  line->kind = LineKind::pseudo_terminal;
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0)
    return -1;
  line->receive = master;
  line->reply = master;
  std::array<char, 128> name{};
  if (grantpt(master) < 0 || unlockpt(master) < 0 || ptsname_r(master, name.data(), name.size()) != 0)
    return -1;
  line->slave_path = name.data();
  line->slave = open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line->slave < 0)
    return -1;
  const int flags = fcntl(master, F_GETFL);
  return fcntl(master, F_SETFL, flags | O_NONBLOCK);
}

// Returns 0 once the command runs, or the exit status to end with.
int emu_start_command(Run *run)
{
  int report[2];
  if (pipe2(report, O_CLOEXEC) < 0)
    return EXIT_EMULATOR_FAILURE;
  int command_input[2] = {-1, -1};
  if (run->options.live && pipe2(command_input, O_CLOEXEC) < 0)
    return EXIT_EMULATOR_FAILURE;
  int guard_channel[2];
  if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, guard_channel) < 0)
    return EXIT_EMULATOR_FAILURE;
  fflush(nullptr);
  PrivateSpace space;
  run->child = emu_fork_private(&space);
  if (run->child < 0) {
    if (space.in_user_namespace)
      fprintf(stderr,
              "lcm-emu: cannot give the command a private /dev/ttyS1: "
              "neither a mount namespace nor a user namespace is allowed here (clone: %s)\n",
              emu_error_text(errno).c_str());
    else
      fprintf(stderr, "lcm-emu: fork: %s\n", emu_error_text(errno).c_str());
    return EXIT_EMULATOR_FAILURE;
  }
  if (run->child == 0) {
    close(report[0]);
    close(guard_channel[0]);
    run_child(run, space, report[1], command_input[0], guard_channel[1]);
  }
  close(report[1]);
  close(guard_channel[1]);
  if (command_input[0] >= 0) {
    close(command_input[0]);
    run->command_input = command_input[1];
    fcntl(run->command_input, F_SETFL, O_NONBLOCK);
  }
  const int status = read_report(run, report[0]);
  // Sent before the exec the report waited for.
  run->line.flush_guard = emu_receive_flush_guard(guard_channel[0]);
  close(guard_channel[0]);
  return status;
}
