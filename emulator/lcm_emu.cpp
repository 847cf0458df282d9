// lcm-emu: run a command with /dev/ttyS1 connected to an emulated display
// module, or serve the module on a line given with --line, then draw the
// module's screen.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <utility>

#include "command_init.h"
#include "session.h"

namespace {

const char *const USAGE =
    "usage: lcm-emu [options] -- command [argument...]\n"
    "       lcm-emu [options] --line PATH\n"
    "\n"
    "Runs the command with /dev/ttyS1 connected to an emulated display module\n"
    "(2 rows of 16 characters, a cursor, four buttons) over a pseudo-terminal,\n"
    "in a private /dev: the machine's own /dev/ttyS1 is never opened. The command\n"
    "inherits standard input, output and error. When it ends, the module's screen\n"
    "is drawn on standard output:\n"
    "\n"
    "    +----------------+\n"
    "    |Hello           |\n"
    "    |World           |\n"
    "    +----------------+\n"
    "    cursor row 1 column 5      (only while the cursor is on)\n"
    "    display off                (only while the display is off)\n"
    "\n"
    "Each row line is '|', the 16 shown cells, '|'; bytes outside 0x20..0x7E are\n"
    "drawn as '.'. The box shows the module's memory even while the display is off.\n"
    "\n"
    "Options:\n"
    "  --trace             name every command on standard error, one line each:\n"
    "                        lcm-emu +MS ms: FE 09 40  set position row 1 column 0\n"
    "                        lcm-emu +MS ms: FE 0A  position query -> 40 (row 1 column 0)\n"
    "                        lcm-emu +MS ms: FE 0B  button query -> 0E (up)\n"
    "                        lcm-emu +MS ms: 48  text 'H' at row 0 column 0\n"
    "                      MS counts from the first byte received\n"
    "  --wire FILE         write every byte the command sent, raw, to FILE\n"
    "  --press KEY@MS[+MS] hold KEY (up, down, left, right) from MS milliseconds\n"
    "                      after the first byte received, for +MS ms (default 100);\n"
    "                      repeatable. Button replies: 0E up, 07 down, 0D right,\n"
    "                      0B left, 0F none; several held clear several bits\n"
    "  --silent            never answer a query\n"
    "  --silent-between MS-MS  answer no query that arrives from the first to\n"
    "                      the second time, in ms after the first byte received\n"
    "  --reply-delay MS    answer each query MS milliseconds late\n"
    "  --garbage           answer every query with A5, a byte outside the protocol\n"
    "  --hangup-after N    close the line after N bytes (the command then sees a\n"
    "                      hang-up: writes fail with EIO); not with --line\n"
    "  --stall-after N     take no byte after the Nth: the command's writes then fail\n"
    "                      with EAGAIN; replies still go out\n"
    "  --late-reply N:MS   answer the Nth query (position and button queries,\n"
    "                      from 1) MS milliseconds late; later replies are not\n"
    "                      held back\n"
    "  --pace              take bytes at 9600 baud, about 1.04 ms a byte\n"
    "  --no-device         run the command without any /dev/ttyS1; not with --line\n"
    "  --live              redraw the screen as it changes; arrow keys press the\n"
    "                      buttons for 300 ms; other typed lines go to the command's\n"
    "                      standard input (Ctrl-D ends it; with --line they are ignored)\n"
    "  --line PATH         run no command: play the module on PATH, a serial device\n"
    "                      (set raw 9600 8N1), or the named pipes PATH.in (replies)\n"
    "                      and PATH.out (the host's bytes) of a virtual machine's\n"
    "                      serial port; serve until SIGINT, SIGTERM or SIGHUP, or\n"
    "                      until the line closes, then draw the screen\n"
    "  --help              show this text\n"
    "  --version           show the emulator's version\n"
    "\n"
    "An option's value is the next argument or follows '='; '--' is never a value.\n"
    "The command is killed when lcm-emu dies. Where the kernel allows it, the\n"
    "command runs in a PID namespace of its own, and whatever it started is killed\n"
    "too, both then and when the command ends.\n"
    "\n"
    "Exit status: the command's status (0 with --line), 128+N when signal N ended\n"
    "it, 125 when the emulator itself failed (bad option, no pseudo-terminal, no\n"
    "private /dev, a --line it cannot serve, standard output it cannot write), 126\n"
    "when the command could not be run, 127 when it was not found.\n";

// Names what keeps the line from being raw 9600 8N1; empty when it is.
std::string line_setting_faults(const termios &settings)
{
  const std::array<std::pair<bool, const char *>, 8> faults = {{
      {cfgetospeed(&settings) != B9600, "speed not 9600"},
      {(settings.c_cflag & CSIZE) != CS8, "not 8 data bits"},
      {(settings.c_cflag & PARENB) != 0, "parity on"},
      {(settings.c_cflag & CSTOPB) != 0, "two stop bits"},
      {(settings.c_lflag & ICANON) != 0, "canonical input"},
      {(settings.c_lflag & (ECHO | ISIG)) != 0, "echo or signal characters on"},
      {(settings.c_oflag & OPOST) != 0, "output processing on"},
      {(settings.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP)) != 0,
       "input translation or flow control on"},
  }};
  std::string text;
  for (const auto &[faulty, name] : faults) {
    if (!faulty)
      continue;
    if (!text.empty())
      text += ", ";
    text += name;
  }
  return text;
}

// The line is only judged when the command used it: a run that never opened
// the device leaves the pseudo-terminal's own cooked settings.
void check_line_settings(const Run &run)
{
  if (run.hung_up || run.taken == 0)
    return;
  termios settings{};
  if (tcgetattr(run.line.receive, &settings) < 0)
    return;
  const std::string faults = line_setting_faults(settings);
  if (!faults.empty())
    fprintf(stderr, "lcm-emu: warning: the command left /dev/ttyS1 not raw 9600 8N1: %s\n", faults.c_str());
}

int open_wire(Run *run)
{
  if (run->options.wire_path.empty())
    return 0;
  run->wire = fopen(run->options.wire_path.c_str(), "wbe");
  if (!run->wire) {
    fprintf(stderr, "lcm-emu: %s: %s\n", run->options.wire_path.c_str(), emu_error_text(errno).c_str());
    return -1;
  }
  return 0;
}

// The run's own last words: the screen, and whether standard output took it.
int finish(Run *run, int status)
{
  emu_restore_terminal(run);
  if (run->wire && fclose(run->wire) != 0)
    fprintf(stderr, "lcm-emu: %s: %s\n", run->options.wire_path.c_str(), emu_error_text(errno).c_str());
  run->wire = nullptr;
  (void)emu_draw(run, true);
  if (run->output_error != 0) {
    fprintf(stderr, "lcm-emu: cannot draw the screen on standard output: %s\n",
            emu_error_text(run->output_error).c_str());
    return EXIT_EMULATOR_FAILURE;
  }
  return status;
}

int run_command(Run *run)
{
  if (emu_open_line(&run->line) < 0) {
    fprintf(stderr, "lcm-emu: cannot open a pseudo-terminal: %s\n", emu_error_text(errno).c_str());
    return EXIT_EMULATOR_FAILURE;
  }
  if (open_wire(run) < 0)
    return EXIT_EMULATOR_FAILURE;
  if (emu_make_share_folder(run) < 0) {
    fprintf(stderr, "lcm-emu: cannot make a folder for the panel's socket: %s\n",
            emu_error_text(errno).c_str());
    emu_remove_share_folder(run);
    return EXIT_EMULATOR_FAILURE;
  }
  const int failed = emu_start_command(run);
  if (failed != 0) {
    emu_remove_share_folder(run);
    return failed;
  }
  if (run->options.live)
    emu_own_terminal(run);
  emu_serve(run);
  emu_drain_line(run);
  emu_end_command_input(run);
  check_line_settings(*run);
  emu_remove_share_folder(run);
  return finish(run, emu_exit_status(run->child_status));
}

// The run's one line before the first byte: where the module is, and that
// it is ready, which a script playing the host can wait for.
void announce_line(const Run &run)
{
  const std::string &path = run.options.line_path;
  if (run.line.kind == LineKind::pipe_pair)
    fprintf(stderr, "lcm-emu: the module is on the named pipes %s.out (taken) and %s.in (replies)",
            path.c_str(), path.c_str());
  else
    fprintf(stderr, "lcm-emu: the module is on %s, raw at 9600 8N1", path.c_str());
  fputs("; SIGINT or SIGTERM ends the run\n", stderr);
}

int run_line(Run *run)
{
  std::string failure;
  if (emu_open_given_line(&run->line, run->options.line_path, &failure) < 0) {
    fprintf(stderr, "lcm-emu: %s\n", failure.c_str());
    return EXIT_EMULATOR_FAILURE;
  }
  if (open_wire(run) < 0)
    return EXIT_EMULATOR_FAILURE;
  if (run->options.live)
    emu_own_terminal(run);
  announce_line(*run);
  emu_serve(run);
  emu_drain_line(run);
  return finish(run, 0);
}

int run_emulator(Run *run)
{
  if (emu_install_signal_handlers() < 0) {
    fprintf(stderr, "lcm-emu: cannot watch for signals: %s\n", emu_error_text(errno).c_str());
    return EXIT_EMULATOR_FAILURE;
  }
  return emu_serves_line(*run) ? run_line(run) : run_command(run);
}

// --help and --version: text nobody reads is still a failure to say so.
int print(const char *text)
{
  if (fputs(text, stdout) < 0 || fflush(stdout) != 0) {
    fprintf(stderr, "lcm-emu: cannot write to standard output: %s\n", emu_error_text(errno).c_str());
    return EXIT_EMULATOR_FAILURE;
  }
  return 0;
}

} // namespace

std::string emu_error_text(int error)
{
  std::array<char, 128> buffer{};
  return strerror_r(error, buffer.data(), buffer.size());
}

int main(int argc, char **argv)
{
  Run run;
  std::string error;
  if (emu_parse_options(argc, argv, &run.options, &error) < 0) {
    fprintf(stderr, "lcm-emu: %s\n%s", error.c_str(), "Try 'lcm-emu --help'.\n");
    return EXIT_EMULATOR_FAILURE;
  }
  if (run.options.help)
    return print(USAGE);
  if (run.options.version)
    return print("lcm-emu " LCM_VERSION "\n");
  run.output_is_terminal = isatty(STDOUT_FILENO) == 1;
  return run_emulator(&run);
}
