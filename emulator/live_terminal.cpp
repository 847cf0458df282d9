// --live: the terminal lcm-emu runs in. Arrow keys hold buttons, other typed
// lines go on to the command's standard input. With --line there is no
// command: only the arrow keys count, and nothing typed is echoed.
#include <array>
#include <cerrno>
#include <unistd.h>

#include "session.h"

namespace {

constexpr size_t READ_CHUNK = 256;
constexpr std::chrono::milliseconds LIVE_PRESS{300};

void write_terminal(const std::string &text)
{
  if (!text.empty())
    (void)!write(STDOUT_FILENO, text.data(), text.size());
}

void forward_typed_line(Run *run, const std::string &text)
{
  if (run->command_input < 0 || text.empty())
    return;
  const ssize_t written = write(run->command_input, text.data(), text.size());
  if (written != static_cast<ssize_t>(text.size()))
    fprintf(stderr, "lcm-emu: the command is not reading its input; a line was dropped\n");
}

} // namespace

void emu_end_command_input(Run *run)
{
  if (run->command_input >= 0)
    close(run->command_input);
  run->command_input = -1;
  run->typed_ended = true;
}

void emu_read_typed(Run *run)
{
  std::array<unsigned char, READ_CHUNK> buffer{};
  const ssize_t count = read(STDIN_FILENO, buffer.data(), buffer.size());
  if (count <= 0) {
    if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
      forward_typed_line(run, run->typed.line);
      run->typed.line.clear();
      emu_end_command_input(run);
    }
    return;
  }
  const bool to_command = !emu_serves_line(*run);
  for (ssize_t i = 0; i < count; i++) {
    LiveResult result;
    emu_live_take(&run->typed, buffer[static_cast<size_t>(i)], &result);
    if (result.pressed != 0) {
      run->live_holds.push_back({result.pressed, Clock::now() + LIVE_PRESS, 0});
      emu_trace(*run, "holding " + module_buttons_name(result.pressed) + " for 300 ms");
    }
    if (run->terminal_saved && to_command)
      write_terminal(result.echo);
    if (result.line_done)
      forward_typed_line(run, result.line);
    if (result.input_done && to_command)
      emu_end_command_input(run);
  }
}

void emu_own_terminal(Run *run)
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

void emu_restore_terminal(Run *run)
{
  if (run->terminal_saved)
    tcsetattr(STDIN_FILENO, TCSANOW, &run->saved_terminal);
  run->terminal_saved = false;
}
