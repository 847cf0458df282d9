// One emulator run, shared by the parts of lcm-emu; internal to the emulator.
//
//   emu_open_line(&line)             a pseudo-terminal pair for the command's /dev/ttyS1
//   emu_open_given_line(&line, path, &failure)  --line: a serial device, or PATH.in and PATH.out
//   emu_hold_sender(&line)           --line on named pipes: fill PATH.out so the sender's next write waits
//   emu_install_signal_handlers()    route SIGCHLD, SIGINT, SIGTERM, SIGHUP into the event loop,
//                                    unblocked
//   emu_default_signals()            in the child: the signals' default actions and the mask it was given
//   emu_signal_descriptor()          the descriptor the event loop polls for arrived signals
//   emu_take_signals(&run)           pass the signals that arrived on to the command, or stop serving
//   emu_reap_command(&run)           note the command's end, if it ended
//   emu_make_share_folder(&run)      the folder the command sees as /run/lcm-panel, watched; 0, or -1
//                                    with errno
//   emu_take_share_events(&run)      tell on standard error each socket a panel made in it
//   emu_remove_share_folder(&run)    remove it and what was left in it
//   emu_start_command(&run)          start the command in its private /dev and /run; 0, or the status
//                                    to end with
//   emu_take_flushes(&run)           read the line, then let the command's held flushes go ahead
//   emu_serve(&run)                  carry bytes and replies until the command ends, or the line
//                                    closes or a signal stops a --line run
//   emu_drain_line(&run)             take the bytes left in the line after the command ended
//   emu_draw(&run, last)             draw the module's screen on standard output, unless it shows
//                                    what it showed (a run's last drawing off a terminal always
//                                    goes out); 0, or -1 with errno
//                                    (kept in run.output_error)
//   emu_elapsed_us(run, now)         microseconds since the first byte the command sent
//   emu_trace(run, text)             one --trace line on standard error, with --trace
//   emu_trace_at(run, when, text)    the same, stamped with the moment the line is about
//   emu_own_terminal(&run)           --live: take the terminal's typed bytes one at a time
//   emu_restore_terminal(&run)       --live: give the terminal back as it was
//   emu_read_typed(&run)             --live: turn typed bytes into presses and input lines
//   emu_end_command_input(&run)      --live: close the command's standard input
//   emu_error_text(error)            strerror as a string, safe for threads
#ifndef LCM_EMULATOR_SESSION_H
#define LCM_EMULATOR_SESSION_H

#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

#include "live_input.h"
#include "module.h"
#include "options.h"

using Clock = std::chrono::steady_clock;
using Microseconds = std::chrono::microseconds;

constexpr int EXIT_EMULATOR_FAILURE = 125;
constexpr int EXIT_NOT_EXECUTABLE = 126;
constexpr int EXIT_NOT_FOUND = 127;

struct PendingReply {
  // cppcheck-suppress unusedStructMember
  unsigned char byte;
  Clock::time_point due;
  // cppcheck-suppress unusedStructMember
  bool late;
};

// A typed arrow, held for its time and until the command has read it
// PRESS_READS times, as a scripted press is.
struct LiveHold {
  unsigned buttons;
  Clock::time_point until;
  int reads;
};

enum class LineKind { pseudo_terminal, serial_device, pipe_pair };

struct Line {
  LineKind kind = LineKind::pseudo_terminal;
  int receive = -1;     // the host's bytes: the master, the serial device, or PATH.out
  int reply = -1;       // the replies: the same descriptor, or PATH.in
  int slave = -1;       // kept open so the master does not report a hang-up forever
  int flush_guard = -1; // the command's output flushes, held until the line is read
  std::string slave_path;
  std::string sender_path; // PATH.out, which the sender writes into
  bool sender_held = false;
};

struct Run {
  Options options;
  ModuleState module = module_power_on();
  Line line;
  pid_t child = -1;
  bool child_done = false;
  bool stopping = false; // --line: a signal asked the run to end
  int child_status = 0;
  int forwarded_signals = 0; // SIGINT and SIGTERM passed on so far
  bool started = false;
  Clock::time_point first_byte{};
  Clock::time_point next_take{};
  long long taken = 0;
  long long queries = 0;
  bool hung_up = false;
  bool stalled = false;
  // Read from the line ahead of a flush, not taken yet (--pace takes them
  // one byte time apart, as it takes bytes from the line).
  std::deque<unsigned char> unread;
  // --press: the button queries answered while each press was held
  std::vector<int> press_queries;
  std::string share_root;   // the emulator's folder for the panel's socket,
  std::string share_folder; // and its lcm-panel folder, the command's /run/lcm-panel
  int share_watch = -1;
  // In the order they are due; a reply held late lets the later ones pass.
  std::deque<PendingReply> replies;
  FILE *wire = nullptr;
  int output_error = 0; // why a drawing could not be written, the first time
  // --live
  int command_input = -1;
  bool typed_ended = false;
  bool terminal_saved = false;
  termios saved_terminal{};
  LiveInput typed;
  std::vector<LiveHold> live_holds;
  bool dirty = false;
  bool output_is_terminal = false; // --live draws in place there
  std::string drawn;               // the last drawing, and its lines
  int drawn_lines = 0;
  Clock::time_point last_change{};
  Clock::time_point last_draw{};
};

// With --line the emulator serves a line it was given and runs no command.
[[nodiscard]] inline bool emu_serves_line(const Run &run)
{
  return !run.options.line_path.empty();
}

[[nodiscard]] int emu_open_line(Line *line);
[[nodiscard]] int emu_open_given_line(Line *line, const std::string &path, std::string *failure);
[[nodiscard]] int emu_hold_sender(Line *line);
[[nodiscard]] int emu_install_signal_handlers();
void emu_default_signals();
[[nodiscard]] int emu_signal_descriptor();
void emu_take_signals(Run *run);
void emu_reap_command(Run *run);
[[nodiscard]] int emu_make_share_folder(Run *run);
void emu_take_share_events(Run *run);
void emu_remove_share_folder(Run *run);
[[nodiscard]] int emu_start_command(Run *run);
void emu_take_flushes(Run *run);
void emu_serve(Run *run);
void emu_drain_line(Run *run);
[[nodiscard]] int emu_draw(Run *run, bool last);
[[nodiscard]] long long emu_elapsed_us(const Run &run, Clock::time_point now);
void emu_trace(const Run &run, const std::string &text);
void emu_trace_at(const Run &run, Clock::time_point when, const std::string &text);

void emu_own_terminal(Run *run);
void emu_restore_terminal(Run *run);
void emu_read_typed(Run *run);
void emu_end_command_input(Run *run);

[[nodiscard]] std::string emu_error_text(int error);

#endif
