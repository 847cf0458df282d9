// lcm-emu: run a command with /dev/ttyS1 connected to an emulated display
// module, then draw the module's screen.
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "live_input.h"
#include "module.h"
#include "options.h"
#include "private_dev.h"

namespace {

using Clock = std::chrono::steady_clock;
using Microseconds = std::chrono::microseconds;

constexpr int EXIT_EMULATOR_FAILURE = 125;
constexpr int EXIT_NOT_EXECUTABLE = 126;
constexpr int EXIT_NOT_FOUND = 127;
constexpr int SIGNAL_STATUS_BASE = 128;

// One byte at 9600 baud with a start and a stop bit.
constexpr Microseconds BYTE_TIME{1042};
constexpr Microseconds BUSY_RETRY{1000};
constexpr int LONGEST_WAIT_MS = 1000;
constexpr size_t READ_CHUNK = 256;
constexpr unsigned char GARBAGE_REPLY = 0xA5;
constexpr std::chrono::milliseconds LIVE_PRESS{300};
constexpr std::chrono::milliseconds LIVE_QUIET{40};
constexpr std::chrono::milliseconds LIVE_REDRAW_EVERY{250};

const char *const USAGE =
    "usage: lcm-emu [options] -- command [argument...]\n"
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
    "  --reply-delay MS    answer each query MS milliseconds late\n"
    "  --garbage           answer every query with A5, a byte outside the protocol\n"
    "  --hangup-after N    close the line after N bytes (the command then sees a\n"
    "                      hang-up: writes fail with EIO)\n"
    "  --pace              take bytes at 9600 baud, about 1.04 ms a byte\n"
    "  --no-device         run the command without any /dev/ttyS1\n"
    "  --live              redraw the screen as it changes; arrow keys press the\n"
    "                      buttons for 300 ms; other typed lines go to the command's\n"
    "                      standard input (Ctrl-D ends it)\n"
    "  --help              show this text\n"
    "\n"
    "Exit status: the command's status, 128+N when signal N ended it, 125 when\n"
    "the emulator itself failed (bad option, no pseudo-terminal, no private /dev),\n"
    "126 when the command could not be run, 127 when it was not found.\n";

int signal_pipe[2] = {-1, -1};

std::string error_text(int error)
{
  std::array<char, 128> buffer{};
  return strerror_r(error, buffer.data(), buffer.size());
}

void on_signal(int signal_number)
{
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signal_number);
  (void)!write(signal_pipe[1], &byte, 1);
  errno = saved;
}

constexpr std::array<int, 4> HANDLED_SIGNALS = {SIGCHLD, SIGINT, SIGTERM, SIGHUP};

struct PendingReply {
  // cppcheck-suppress unusedStructMember
  unsigned char byte;
  Clock::time_point due;
};

struct LiveHold {
  unsigned buttons;
  Clock::time_point until;
};

struct Line {
  int master = -1;
  int slave = -1; // kept open so the master does not report a hang-up forever
  std::string slave_path;
};

struct Run {
  Options options;
  ModuleState module = module_power_on();
  Line line;
  pid_t child = -1;
  bool child_done = false;
  int child_status = 0;
  int forwarded_signals = 0;
  bool started = false;
  Clock::time_point first_byte{};
  Clock::time_point next_take{};
  long long taken = 0;
  bool hung_up = false;
  std::deque<PendingReply> replies;
  FILE *wire = nullptr;
  // --live
  int command_input = -1;
  bool terminal_saved = false;
  termios saved_terminal{};
  LiveInput typed;
  std::vector<LiveHold> live_holds;
  bool dirty = false;
  Clock::time_point last_change{};
  Clock::time_point last_draw{};
};

long long elapsed_us(const Run &run, Clock::time_point now)
{
  if (!run.started)
    return 0;
  return std::chrono::duration_cast<Microseconds>(now - run.first_byte).count();
}

void trace(const Run &run, const std::string &text)
{
  if (!run.options.trace)
    return;
  constexpr long long US_PER_MS = 1000;
  fprintf(stderr, "lcm-emu +%lld ms: %s\n", elapsed_us(run, Clock::now()) / US_PER_MS, text.c_str());
}

int open_line(Line *line)
{
  line->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line->master < 0)
    return -1;
  std::array<char, 128> name{};
  if (grantpt(line->master) < 0 || unlockpt(line->master) < 0 ||
      ptsname_r(line->master, name.data(), name.size()) != 0)
    return -1;
  line->slave_path = name.data();
  line->slave = open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line->slave < 0)
    return -1;
  const int flags = fcntl(line->master, F_GETFL);
  return fcntl(line->master, F_SETFL, flags | O_NONBLOCK);
}

void hang_up(Run *run)
{
  close(run->line.master);
  close(run->line.slave);
  run->line.master = -1;
  run->line.slave = -1;
  run->hung_up = true;
  run->replies.clear();
  trace(*run, "line hung up after " + std::to_string(run->taken) + " bytes");
}

unsigned buttons_held(Run *run, Clock::time_point now)
{
  unsigned held = emu_buttons_held(run->options.presses, elapsed_us(*run, now));
  for (const LiveHold &hold : run->live_holds)
    if (now < hold.until)
      held |= hold.buttons;
  return held;
}

void queue_reply(Run *run, const ModuleEvent &event, int reply, Clock::time_point now)
{
  std::string text = module_describe(event) + " -> ";
  if (run->options.silent) {
    trace(*run, text + "no reply (silent)");
    return;
  }
  auto byte = static_cast<unsigned char>(reply);
  if (run->options.garbage) {
    byte = GARBAGE_REPLY;
    text += "A5 (garbage)";
  } else {
    text += module_describe_reply(event, byte);
  }
  Clock::time_point due = now + std::chrono::milliseconds(run->options.reply_delay_ms);
  if (run->options.reply_delay_ms > 0)
    text += " after " + std::to_string(run->options.reply_delay_ms) + " ms";
  if (run->options.pace)
    due += BYTE_TIME;
  trace(*run, text);
  run->replies.push_back({byte, due});
}

void take_byte(Run *run, unsigned char byte, bool answer)
{
  const Clock::time_point now = Clock::now();
  if (!run->started) {
    run->started = true;
    run->first_byte = now;
  }
  if (run->wire)
    fputc(byte, run->wire);
  run->taken++;
  ModuleEvent event;
  const int reply = module_take(run->module, byte, buttons_held(run, now), &event);
  if (reply >= 0 && answer) {
    queue_reply(run, event, reply, now);
  } else if (event.kind != ModuleEventKind::pending) {
    trace(*run, module_describe(event) + (reply >= 0 ? " -> not answered, the command ended" : ""));
  }
  if (event.kind != ModuleEventKind::pending && event.kind != ModuleEventKind::get_pos &&
      event.kind != ModuleEventKind::get_key) {
    run->dirty = true;
    run->last_change = now;
  }
}

// Reads what the command sent; with --pace one byte per byte time.
void read_line(Run *run)
{
  std::array<unsigned char, READ_CHUNK> buffer{};
  const size_t wanted = run->options.pace ? 1 : buffer.size();
  const ssize_t count = read(run->line.master, buffer.data(), wanted);
  if (count < 0) {
    // EIO: nothing holds the slave open any more; there is nothing left to read.
    if (errno != EAGAIN && errno != EINTR)
      hang_up(run);
    return;
  }
  for (ssize_t i = 0; i < count && !run->hung_up; i++) {
    if (run->taken == run->options.hangup_after) {
      hang_up(run);
      break;
    }
    take_byte(run, buffer[static_cast<size_t>(i)], true);
    if (run->taken == run->options.hangup_after)
      hang_up(run);
  }
  if (run->options.pace)
    run->next_take = Clock::now() + BYTE_TIME;
}

void send_replies(Run *run)
{
  const Clock::time_point now = Clock::now();
  while (!run->hung_up && !run->replies.empty() && run->replies.front().due <= now) {
    const ssize_t written = write(run->line.master, &run->replies.front().byte, 1);
    if (written < 0) {
      // The command has not read what was already sent; try again shortly.
      if (errno == EAGAIN || errno == EINTR) {
        run->replies.front().due = now + BUSY_RETRY;
        return;
      }
      hang_up(run);
      return;
    }
    run->replies.pop_front();
  }
}

// Bytes left in the line when the command ended are still part of what it sent.
void drain_line(Run *run)
{
  if (run->hung_up)
    return;
  std::array<unsigned char, READ_CHUNK> buffer{};
  for (;;) {
    const ssize_t count = read(run->line.master, buffer.data(), buffer.size());
    if (count <= 0)
      return;
    for (ssize_t i = 0; i < count && !run->hung_up; i++) {
      if (run->taken == run->options.hangup_after) {
        hang_up(run);
        return;
      }
      take_byte(run, buffer[static_cast<size_t>(i)], false);
    }
  }
}

void reap_child(Run *run)
{
  int status = 0;
  const pid_t done = waitpid(run->child, &status, WNOHANG);
  if (done == run->child) {
    run->child_done = true;
    run->child_status = status;
  }
}

void forward_signal(Run *run, int signal_number)
{
  if (run->child_done)
    return;
  // A second request to stop is not refused.
  kill(run->child, run->forwarded_signals++ == 0 ? signal_number : SIGKILL);
}

void take_signals(Run *run)
{
  std::array<unsigned char, 32> signals{};
  for (;;) {
    const ssize_t count = read(signal_pipe[0], signals.data(), signals.size());
    if (count <= 0)
      break;
    for (ssize_t i = 0; i < count; i++) {
      const int signal_number = signals[static_cast<size_t>(i)];
      if (signal_number != SIGCHLD)
        forward_signal(run, signal_number);
    }
  }
  reap_child(run);
}

void draw(Run *run)
{
  const std::string drawing = module_draw(run->module);
  fputs(drawing.c_str(), stdout);
  fflush(stdout);
  run->dirty = false;
  run->last_draw = Clock::now();
}

void write_terminal(const std::string &text)
{
  if (!text.empty())
    (void)!write(STDOUT_FILENO, text.data(), text.size());
}

void end_command_input(Run *run)
{
  if (run->command_input >= 0)
    close(run->command_input);
  run->command_input = -1;
}

void forward_typed_line(Run *run, const std::string &text)
{
  if (run->command_input < 0 || text.empty())
    return;
  const ssize_t written = write(run->command_input, text.data(), text.size());
  if (written != static_cast<ssize_t>(text.size()))
    fprintf(stderr, "lcm-emu: the command is not reading its input; a line was dropped\n");
}

void read_typed(Run *run)
{
  std::array<unsigned char, READ_CHUNK> buffer{};
  const ssize_t count = read(STDIN_FILENO, buffer.data(), buffer.size());
  if (count <= 0) {
    if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
      forward_typed_line(run, run->typed.line);
      run->typed.line.clear();
      end_command_input(run);
    }
    return;
  }
  for (ssize_t i = 0; i < count; i++) {
    LiveResult result;
    emu_live_take(&run->typed, buffer[static_cast<size_t>(i)], &result);
    if (result.pressed != 0) {
      run->live_holds.push_back({result.pressed, Clock::now() + LIVE_PRESS});
      trace(*run, "holding " + module_buttons_name(result.pressed) + " for 300 ms");
    }
    if (run->terminal_saved)
      write_terminal(result.echo);
    if (result.line_done)
      forward_typed_line(run, result.line);
    if (result.input_done)
      end_command_input(run);
  }
}

void own_terminal(Run *run)
{
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &run->saved_terminal) < 0)
    return;
  termios typed = run->saved_terminal;
  // Signals stay on so that Ctrl-C still stops the run.
  typed.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  typed.c_cc[VMIN] = 1;
  typed.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &typed) == 0)
    run->terminal_saved = true;
}

void restore_terminal(Run *run)
{
  if (run->terminal_saved)
    tcsetattr(STDIN_FILENO, TCSANOW, &run->saved_terminal);
  run->terminal_saved = false;
}

int wait_ms(const Run &run, Clock::time_point now)
{
  Clock::time_point wake = now + std::chrono::milliseconds(LONGEST_WAIT_MS);
  if (!run.replies.empty() && run.replies.front().due < wake)
    wake = run.replies.front().due;
  if (run.options.pace && !run.hung_up && run.next_take > now && run.next_take < wake)
    wake = run.next_take;
  if (run.options.live && run.dirty) {
    const Clock::time_point redraw =
        std::min(run.last_change + LIVE_QUIET, run.last_draw + LIVE_REDRAW_EVERY);
    if (redraw < wake)
      wake = redraw;
  }
  if (wake <= now)
    return 0;
  // Rounded up, so that a wake-up never comes before what it waits for.
  const auto wait = std::chrono::duration_cast<Microseconds>(wake - now).count();
  return static_cast<int>((wait + 999) / 1000);
}

void serve(Run *run)
{
  while (!run->child_done) {
    const Clock::time_point now = Clock::now();
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    fds[count++] = {signal_pipe[0], POLLIN, 0};
    const bool may_take = !run->hung_up && (!run->options.pace || run->next_take <= now);
    const nfds_t line_index = count;
    if (may_take)
      fds[count++] = {run->line.master, POLLIN, 0};
    const nfds_t typed_index = count;
    const bool typing = run->options.live && run->command_input >= 0;
    if (typing)
      fds[count++] = {STDIN_FILENO, POLLIN, 0};
    const int ready = poll(fds.data(), count, wait_ms(*run, now));
    if (ready < 0 && errno != EINTR)
      break;
    if (ready > 0 && fds[0].revents != 0)
      take_signals(run);
    if (ready > 0 && may_take && fds[line_index].revents != 0)
      read_line(run);
    if (ready > 0 && typing && fds[typed_index].revents != 0)
      read_typed(run);
    send_replies(run);
    const Clock::time_point after = Clock::now();
    if (run->options.live && run->dirty &&
        (after >= run->last_change + LIVE_QUIET || after >= run->last_draw + LIVE_REDRAW_EVERY))
      draw(run);
    reap_child(run);
  }
}

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
  if (tcgetattr(run.line.master, &settings) < 0)
    return;
  const std::string faults = line_setting_faults(settings);
  if (!faults.empty())
    fprintf(stderr, "lcm-emu: warning: the command left /dev/ttyS1 not raw 9600 8N1: %s\n", faults.c_str());
}

int open_wire(Run *run)
{
  if (run->options.wire_path.empty())
    return 0;
  run->wire = fopen(run->options.wire_path.c_str(), "wb");
  if (!run->wire) {
    fprintf(stderr, "lcm-emu: %s: %s\n", run->options.wire_path.c_str(), error_text(errno).c_str());
    return -1;
  }
  return 0;
}

int install_signal_handlers()
{
  if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) < 0)
    return -1;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  for (const int signal_number : HANDLED_SIGNALS)
    if (sigaction(signal_number, &action, nullptr) < 0)
      return -1;
  // A command that stops reading its input must not end the emulator.
  signal(SIGPIPE, SIG_IGN);
  return 0;
}

// The child reports a failure before exec as its exit status followed by a message.
[[noreturn]] void fail_in_child(int report, int status, const char *what, int error)
{
  std::array<char, 512> text{};
  const int length = snprintf(text.data(), text.size(), "%c%s: %s", status, what, error_text(error).c_str());
  if (length > 0)
    (void)!write(report, text.data(), std::min(static_cast<size_t>(length), text.size() - 1));
  _exit(status);
}

[[noreturn]] void run_child(Run *run, const PrivateSpace &space, int report, int command_input_read)
{
  signal(SIGPIPE, SIG_DFL);
  for (const int signal_number : HANDLED_SIGNALS)
    signal(signal_number, SIG_DFL);
  if (command_input_read >= 0 && dup2(command_input_read, STDIN_FILENO) < 0)
    fail_in_child(report, EXIT_EMULATOR_FAILURE, "connecting the command's input", errno);
  const char *failure = "";
  if (emu_private_dev(space, run->line.slave_path.c_str(), !run->options.no_device, &failure) < 0) {
    const int error = errno;
    std::array<char, 256> what{};
    snprintf(what.data(), what.size(), "cannot give the command a private /dev/ttyS1: %s", failure);
    fail_in_child(report, EXIT_EMULATOR_FAILURE, what.data(), error);
  }
  std::vector<char *> arguments;
  for (std::string &argument : run->options.command)
    arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  execvp(arguments[0], arguments.data());
  const int error = errno;
  fail_in_child(report, error == ENOENT ? EXIT_NOT_FOUND : EXIT_NOT_EXECUTABLE,
                run->options.command[0].c_str(), error);
}

// Returns 0 once the command runs, or the exit status to end with.
int start_child(Run *run)
{
  int report[2];
  if (pipe2(report, O_CLOEXEC) < 0)
    return EXIT_EMULATOR_FAILURE;
  int command_input[2] = {-1, -1};
  if (run->options.live && pipe2(command_input, O_CLOEXEC) < 0)
    return EXIT_EMULATOR_FAILURE;
  fflush(nullptr);
  PrivateSpace space;
  run->child = emu_fork_private(&space);
  if (run->child < 0) {
    if (space.in_user_namespace)
      fprintf(stderr,
              "lcm-emu: cannot give the command a private /dev/ttyS1: "
              "neither a mount namespace nor a user namespace is allowed here (clone: %s)\n",
              error_text(errno).c_str());
    else
      fprintf(stderr, "lcm-emu: fork: %s\n", error_text(errno).c_str());
    return EXIT_EMULATOR_FAILURE;
  }
  if (run->child == 0) {
    close(report[0]);
    run_child(run, space, report[1], command_input[0]);
  }
  close(report[1]);
  if (command_input[0] >= 0) {
    close(command_input[0]);
    run->command_input = command_input[1];
    fcntl(run->command_input, F_SETFL, O_NONBLOCK);
  }
  std::array<char, 512> message{};
  ssize_t length = 0;
  for (;;) {
    length = read(report[0], message.data(), message.size() - 1);
    if (length >= 0 || errno != EINTR)
      break;
  }
  close(report[0]);
  if (length <= 0)
    return 0;
  int status = 0;
  waitpid(run->child, &status, 0);
  run->child_done = true;
  message[static_cast<size_t>(length)] = '\0';
  fprintf(stderr, "lcm-emu: %s\n", message.data() + 1);
  return static_cast<unsigned char>(message[0]);
}

int exit_status(int status)
{
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    return SIGNAL_STATUS_BASE + WTERMSIG(status);
  return EXIT_EMULATOR_FAILURE;
}

int run_emulator(Run *run)
{
  if (install_signal_handlers() < 0) {
    fprintf(stderr, "lcm-emu: cannot watch for signals: %s\n", error_text(errno).c_str());
    return EXIT_EMULATOR_FAILURE;
  }
  if (open_line(&run->line) < 0) {
    fprintf(stderr, "lcm-emu: cannot open a pseudo-terminal: %s\n", error_text(errno).c_str());
    return EXIT_EMULATOR_FAILURE;
  }
  if (open_wire(run) < 0)
    return EXIT_EMULATOR_FAILURE;
  const int failed = start_child(run);
  if (failed != 0)
    return failed;
  if (run->options.live)
    own_terminal(run);
  serve(run);
  drain_line(run);
  restore_terminal(run);
  end_command_input(run);
  check_line_settings(*run);
  if (run->wire && fclose(run->wire) != 0)
    fprintf(stderr, "lcm-emu: %s: %s\n", run->options.wire_path.c_str(), error_text(errno).c_str());
  run->wire = nullptr;
  draw(run);
  return exit_status(run->child_status);
}

} // namespace

int main(int argc, char **argv)
{
  Run run;
  std::string error;
  if (emu_parse_options(argc, argv, &run.options, &error) < 0) {
    fprintf(stderr, "lcm-emu: %s\n%s", error.c_str(), "Try 'lcm-emu --help'.\n");
    return EXIT_EMULATOR_FAILURE;
  }
  if (run.options.help) {
    fputs(USAGE, stdout);
    return 0;
  }
  return run_emulator(&run);
}
