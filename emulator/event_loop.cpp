// The emulator's event loop: bytes from the command, replies back to it,
// signals, button holds and the --live redraw, all from one poll.
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "session.h"

namespace {

// One byte at 9600 baud with a start and a stop bit.
constexpr Microseconds BYTE_TIME{1042};
constexpr Microseconds BUSY_RETRY{1000};
constexpr int LONGEST_WAIT_MS = 1000;
constexpr size_t READ_CHUNK = 256;
constexpr unsigned char GARBAGE_REPLY = 0xA5;
constexpr std::chrono::milliseconds LIVE_QUIET{40};
constexpr std::chrono::milliseconds LIVE_REDRAW_EVERY{250};

constexpr std::array<int, 4> HANDLED_SIGNALS = {SIGCHLD, SIGINT, SIGTERM, SIGHUP};

int signal_pipe[2] = {-1, -1};

void on_signal(int signal_number)
{
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signal_number);
  (void)!write(signal_pipe[1], &byte, 1);
  errno = saved;
}

std::string hex_byte(unsigned char byte)
{
  std::array<char, 4> text{};
  snprintf(text.data(), text.size(), "%02X", byte);
  return text.data();
}

void hang_up(Run *run)
{
  close(run->line.master);
  close(run->line.slave);
  run->line.master = -1;
  run->line.slave = -1;
  run->hung_up = true;
  run->replies.clear();
  emu_trace(*run, "line hung up after " + std::to_string(run->taken) + " bytes");
}

unsigned buttons_held(Run *run, Clock::time_point now)
{
  unsigned held = emu_buttons_held(run->options.presses, emu_elapsed_us(*run, now));
  for (const LiveHold &hold : run->live_holds)
    if (now < hold.until)
      held |= hold.buttons;
  return held;
}

// Stops the command's output as a line whose flow control stays off would:
// its writes find the line busy from now on.
void stall(Run *run)
{
  if (run->stalled || run->hung_up)
    return;
  // The emulator runs a single thread.
  run->stalled = tcflow(run->line.slave, TCOOFF) == 0; // NOLINT(concurrency-mt-unsafe)
  emu_trace(*run, "line stalled after " + std::to_string(run->taken) + " bytes");
}

// Replies stay in the order they are due, so one held late does not hold
// back those behind it.
void add_reply(Run *run, const PendingReply &reply)
{
  auto place = run->replies.end();
  while (place != run->replies.begin() && std::prev(place)->due > reply.due)
    --place;
  run->replies.insert(place, reply);
}

// The trace names the moment the reply was decided, which is the moment the
// buttons were read.
void queue_reply(Run *run, const ModuleEvent &event, int reply, Clock::time_point now)
{
  run->queries++;
  std::string text = module_describe(event) + " -> ";
  if (run->options.silent) {
    emu_trace_at(*run, now, text + "no reply (silent)");
    return;
  }
  if (emu_silenced(run->options, emu_elapsed_us(*run, now))) {
    emu_trace_at(*run, now,
                 text + "no reply (silent between " + std::to_string(run->options.silent_from_ms) + " and " +
                     std::to_string(run->options.silent_until_ms) + " ms)");
    return;
  }
  auto byte = static_cast<unsigned char>(reply);
  if (run->options.garbage) {
    byte = GARBAGE_REPLY;
    text += "A5 (garbage)";
  } else {
    text += module_describe_reply(event, byte);
  }
  const bool late = run->queries == run->options.late_reply.query;
  const long delay_ms = late ? run->options.late_reply.ms : run->options.reply_delay_ms;
  Clock::time_point due = now + std::chrono::milliseconds(delay_ms);
  if (delay_ms > 0)
    text += " after " + std::to_string(delay_ms) + " ms";
  if (late)
    text += " (late reply)";
  if (run->options.pace)
    due += BYTE_TIME;
  emu_trace_at(*run, now, text);
  add_reply(run, {byte, due, late});
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
    emu_trace_at(*run, now,
                 module_describe(event) + (reply >= 0 ? " -> not answered, the command ended" : ""));
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
    if (run->taken == run->options.stall_after)
      stall(run);
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
    const PendingReply reply = run->replies.front();
    const ssize_t written = write(run->line.master, &reply.byte, 1);
    if (written < 0) {
      // The command has not read what was already sent; try again shortly,
      // in the same order.
      if (errno == EAGAIN || errno == EINTR) {
        for (PendingReply &waiting : run->replies)
          waiting.due = std::max(waiting.due, now + BUSY_RETRY);
        return;
      }
      hang_up(run);
      return;
    }
    run->replies.pop_front();
    if (reply.late)
      emu_trace(*run, "late reply " + hex_byte(reply.byte) + " sent");
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

} // namespace

int emu_install_signal_handlers()
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

void emu_default_signals()
{
  signal(SIGPIPE, SIG_DFL);
  for (const int signal_number : HANDLED_SIGNALS)
    signal(signal_number, SIG_DFL);
}

void emu_draw(Run *run)
{
  const std::string drawing = module_draw(run->module);
  fputs(drawing.c_str(), stdout);
  fflush(stdout);
  run->dirty = false;
  run->last_draw = Clock::now();
}

void emu_serve(Run *run)
{
  if (run->options.stall_after == 0)
    stall(run);
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
      emu_read_typed(run);
    send_replies(run);
    const Clock::time_point after = Clock::now();
    if (run->options.live && run->dirty &&
        (after >= run->last_change + LIVE_QUIET || after >= run->last_draw + LIVE_REDRAW_EVERY))
      emu_draw(run);
    reap_child(run);
  }
}

// Bytes left in the line when the command ended are still part of what it sent.
void emu_drain_line(Run *run)
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
