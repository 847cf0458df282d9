// The emulator's event loop: bytes from the command or the host on the line,
// replies back, signals, button holds and the --live redraw, all from one poll.
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

#include "flush_guard.h"
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

std::string hex_byte(unsigned char byte)
{
  std::array<char, 4> text{};
  snprintf(text.data(), text.size(), "%02X", byte);
  return text.data();
}

// With a command the emulator hangs up (--hangup-after); with --line the
// other end closed the line.
void hang_up(Run *run)
{
  close(run->line.receive);
  if (run->line.reply != run->line.receive)
    close(run->line.reply);
  if (run->line.slave >= 0)
    close(run->line.slave);
  run->line.receive = -1;
  run->line.reply = -1;
  run->line.slave = -1;
  run->hung_up = true;
  run->replies.clear();
  const std::string how = emu_serves_line(*run) ? "line closed after " : "line hung up after ";
  emu_trace(*run, how + std::to_string(run->taken) + " bytes");
}

unsigned buttons_held(Run *run, Clock::time_point now)
{
  unsigned held = emu_buttons_held(run->options.presses, run->press_queries, emu_elapsed_us(*run, now));
  for (const LiveHold &hold : run->live_holds)
    if (now < hold.until || hold.reads < PRESS_READS)
      held |= hold.buttons;
  return held;
}

void hold_sender(Run *run)
{
  if (emu_hold_sender(&run->line) < 0)
    emu_trace(*run, "the sender is not held back: " + emu_error_text(errno));
}

// Takes no byte past this one. A pseudo-terminal's slave stops as a line
// whose flow control stays off would: the command's writes find the line
// busy from now on. Named pipes are filled, so that the sender's next write
// waits; before the sender's first byte that waits for it to come. A serial
// line cannot be held back: its bytes are only left untaken.
void stall(Run *run)
{
  if (run->stalled || run->hung_up)
    return;
  run->stalled = true;
  // The emulator runs a single thread.
  if (run->line.kind == LineKind::pseudo_terminal)
    (void)tcflow(run->line.slave, TCOOFF); // NOLINT(concurrency-mt-unsafe)
  emu_trace(*run, "line stalled after " + std::to_string(run->taken) + " bytes");
  if (run->line.kind == LineKind::pipe_pair && run->taken > 0)
    hold_sender(run);
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

// A press counts the button queries answered while it was down, which are
// the ones that showed it to the command.
void count_press_reads(Run *run, Clock::time_point now)
{
  const std::vector<Press> &presses = run->options.presses;
  run->press_queries.resize(presses.size(), 0);
  const long long elapsed = emu_elapsed_us(*run, now);
  for (size_t i = 0; i < presses.size(); i++)
    if (emu_press_held(presses[i], elapsed, run->press_queries[i]))
      run->press_queries[i]++;
  for (LiveHold &hold : run->live_holds)
    if (now < hold.until || hold.reads < PRESS_READS)
      hold.reads++;
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
  if (event.kind == ModuleEventKind::get_key)
    count_press_reads(run, now);
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

// Takes the bytes in order up to a hang-up or a stall; bytes after either
// are neither taken nor recorded.
void take_bytes(Run *run, const unsigned char *bytes, size_t count, bool answer)
{
  for (size_t i = 0; i < count && !run->hung_up && !run->stalled; i++) {
    if (run->taken == run->options.hangup_after) {
      hang_up(run);
      break;
    }
    take_byte(run, bytes[i], answer);
    if (run->taken == run->options.stall_after)
      stall(run);
    if (run->taken == run->options.hangup_after)
      hang_up(run);
  }
}

// A read never goes past the byte a stall comes after, so what follows it
// stays in the line.
size_t read_size(const Run &run, size_t wanted)
{
  if (run.options.stall_after < 0 || run.taken >= run.options.stall_after)
    return wanted;
  return std::min(wanted, static_cast<size_t>(run.options.stall_after - run.taken));
}

// Bytes read ahead of a flush come first, as they came first on the line.
size_t take_unread(Run *run, size_t wanted, bool answer)
{
  std::array<unsigned char, READ_CHUNK> buffer{};
  size_t count = 0;
  const size_t size = read_size(*run, std::min(wanted, buffer.size()));
  while (count < size && !run->unread.empty()) {
    buffer[count++] = run->unread.front();
    run->unread.pop_front();
  }
  take_bytes(run, buffer.data(), count, answer);
  if (run->hung_up || run->stalled)
    run->unread.clear();
  return count;
}

// Reads what the command or the host sent; with --pace one byte per byte time.
void read_line(Run *run)
{
  const size_t wanted = run->options.pace ? 1 : READ_CHUNK;
  if (!run->unread.empty()) {
    (void)take_unread(run, wanted, true);
    if (run->options.pace)
      run->next_take = Clock::now() + BYTE_TIME;
    return;
  }
  std::array<unsigned char, READ_CHUNK> buffer{};
  const ssize_t count = read(run->line.receive, buffer.data(), read_size(*run, wanted));
  // EIO: nothing holds the slave open any more; an end of file: the other
  // end of a --line closed it. There is nothing left to read either way.
  if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
    hang_up(run);
    return;
  }
  if (count < 0)
    return;
  take_bytes(run, buffer.data(), static_cast<size_t>(count), true);
  if (run->options.pace)
    run->next_take = Clock::now() + BYTE_TIME;
}

void send_replies(Run *run)
{
  const Clock::time_point now = Clock::now();
  while (!run->hung_up && !run->replies.empty() && run->replies.front().due <= now) {
    const PendingReply reply = run->replies.front();
    const ssize_t written = write(run->line.reply, &reply.byte, 1);
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

int wait_ms(const Run &run, Clock::time_point now)
{
  Clock::time_point wake = now + std::chrono::milliseconds(LONGEST_WAIT_MS);
  if (!run.replies.empty() && run.replies.front().due < wake)
    wake = run.replies.front().due;
  if (run.options.pace && !run.hung_up && run.next_take > now && run.next_take < wake)
    wake = run.next_take;
  if (!run.unread.empty() && !run.hung_up && !run.stalled && (!run.options.pace || run.next_take <= now))
    wake = now;
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

// A command is served until it ends; a --line until a signal stops the run
// or the other end closes the line.
bool serving(const Run &run)
{
  if (emu_serves_line(run))
    return !run.stopping && !run.hung_up;
  return !run.child_done;
}

bool awaits_sender(const Run &run)
{
  return run.stalled && run.line.kind == LineKind::pipe_pair && !run.line.sender_held;
}

// A stalled line takes no bytes, yet notices that the other end closed it,
// and a pair of named pipes is held once the sender's first byte came.
void take_line_event(Run *run, short revents)
{
  if (!run->stalled)
    read_line(run);
  else if ((revents & (POLLHUP | POLLERR)) != 0)
    hang_up(run);
  else if (awaits_sender(*run))
    hold_sender(run);
}

// Reading the master hands on every byte the slave wrote, even those the
// kernel has not passed to the master's reader yet: a read finding nothing
// waits for that hand-over first. A stall takes nothing more, so what lies
// beyond it is left to the flush.
void catch_up(Run *run)
{
  if (run->hung_up || run->stalled || run->line.kind != LineKind::pseudo_terminal)
    return;
  std::array<unsigned char, READ_CHUNK> buffer{};
  for (;;) {
    size_t room = buffer.size();
    if (run->options.stall_after >= 0) {
      const long long ahead = run->taken + static_cast<long long>(run->unread.size());
      room = std::min(room, static_cast<size_t>(std::max(0LL, run->options.stall_after - ahead)));
    }
    if (room == 0)
      return;
    const ssize_t count = read(run->line.receive, buffer.data(), room);
    if (count <= 0)
      return;
    run->unread.insert(run->unread.end(), buffer.begin(), buffer.begin() + count);
  }
}

// Once no process of the command is left to flush, the guard reports a
// hang-up for good; a wait for a flush would then never end.
void take_flush_event(Run *run, short revents)
{
  if ((revents & POLLIN) != 0) {
    emu_take_flushes(run);
    return;
  }
  close(run->line.flush_guard);
  run->line.flush_guard = -1;
}

} // namespace

void emu_take_flushes(Run *run)
{
  std::uint64_t id = 0;
  if (emu_next_flush(run->line.flush_guard, &id) < 0) {
    // The kernel closes nothing here; a listener that fails stays failed.
    if (errno != EINTR && errno != ENOENT && errno != EAGAIN) {
      close(run->line.flush_guard);
      run->line.flush_guard = -1;
    }
    return;
  }
  catch_up(run);
  emu_let_flush_go(run->line.flush_guard, id);
}

// --live on a terminal draws over its last drawing, as a full-screen
// program would: the cursor goes back up to the drawing's first line, what
// follows is cleared, and the new drawing takes its place. Anywhere else
// each drawing follows the last, and a live drawing the same as the last is
// left out.
int emu_draw(Run *run, bool last)
{
  const std::string drawing = module_draw(run->module);
  run->dirty = false;
  run->last_draw = Clock::now();
  const bool in_place = run->options.live && run->output_is_terminal;
  if (drawing == run->drawn && (in_place || !last))
    return 0;
  std::string text;
  if (in_place && run->drawn_lines > 0)
    text = "\033[" + std::to_string(run->drawn_lines) + "A\r\033[J";
  text += drawing;
  run->drawn = drawing;
  run->drawn_lines = static_cast<int>(std::count(drawing.begin(), drawing.end(), '\n'));
  if (fputs(text.c_str(), stdout) < 0 || fflush(stdout) != 0) {
    if (run->output_error == 0)
      run->output_error = errno;
    return -1;
  }
  return 0;
}

void emu_serve(Run *run)
{
  if (run->options.stall_after == 0)
    stall(run);
  while (serving(*run)) {
    const Clock::time_point now = Clock::now();
    std::array<pollfd, 5> fds{};
    nfds_t count = 0;
    fds[count++] = {emu_signal_descriptor(), POLLIN, 0};
    const nfds_t guard_index = count;
    const bool guarded = run->line.flush_guard >= 0;
    if (guarded)
      fds[count++] = {run->line.flush_guard, POLLIN, 0};
    const nfds_t share_index = count;
    const bool sharing = run->share_watch >= 0;
    if (sharing)
      fds[count++] = {run->share_watch, POLLIN, 0};
    const bool may_take = !run->hung_up && !run->stalled && (!run->options.pace || run->next_take <= now);
    // A stalled --line is still watched for the other end closing it.
    const bool watch_line = !run->hung_up && (may_take || emu_serves_line(*run));
    const nfds_t line_index = count;
    if (watch_line)
      fds[count++] = {run->line.receive, static_cast<short>(may_take || awaits_sender(*run) ? POLLIN : 0), 0};
    const nfds_t typed_index = count;
    const bool typing = run->options.live && !run->typed_ended;
    if (typing)
      fds[count++] = {STDIN_FILENO, POLLIN, 0};
    const int ready = poll(fds.data(), count, wait_ms(*run, now));
    if (ready < 0 && errno != EINTR)
      break;
    if (ready > 0 && fds[0].revents != 0)
      emu_take_signals(run);
    if (ready > 0 && guarded && fds[guard_index].revents != 0)
      take_flush_event(run, fds[guard_index].revents);
    if (ready > 0 && sharing && fds[share_index].revents != 0)
      emu_take_share_events(run);
    if (may_take && !run->unread.empty())
      read_line(run);
    else if (ready > 0 && watch_line && fds[line_index].revents != 0)
      take_line_event(run, fds[line_index].revents);
    if (ready > 0 && typing && fds[typed_index].revents != 0)
      emu_read_typed(run);
    send_replies(run);
    const Clock::time_point after = Clock::now();
    if (run->options.live && run->dirty &&
        (after >= run->last_change + LIVE_QUIET || after >= run->last_draw + LIVE_REDRAW_EVERY))
      (void)emu_draw(run, false);
    emu_reap_command(run);
  }
}

// Bytes left in the line when the command ended, or when a --line run was
// stopped, are still part of what was sent; a stalled line keeps them.
void emu_drain_line(Run *run)
{
  while (!run->unread.empty() && !run->hung_up && !run->stalled)
    (void)take_unread(run, READ_CHUNK, false);
  std::array<unsigned char, READ_CHUNK> buffer{};
  while (!run->hung_up && !run->stalled) {
    const ssize_t count = read(run->line.receive, buffer.data(), read_size(*run, buffer.size()));
    if (count <= 0)
      return;
    take_bytes(run, buffer.data(), static_cast<size_t>(count), false);
  }
}
