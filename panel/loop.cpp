// The panel's loop: one button query a pass, each press handed to the
// layers of the screen in view (view.cpp), and the glass kept showing the
// front-most layer's screen. The display clients are served on the server's
// thread meanwhile: the loop holds their store but while it waits on the
// display module.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/prctl.h>
#include <unistd.h>

#include "panel_internal.h"
#include "server.h"

volatile std::sig_atomic_t panel_stop;

namespace {

constexpr int EXIT_PORT_FAILURE = 1;
// With no button touched for a second, the module is asked less often:
// about every 41 ms instead of every 11, still more often than a tap lasts,
// and a panel left alone costs less than half as much. Once a button is
// touched the passes run at the module's pace again.
constexpr long long IDLE_AFTER_MS = 1000;
constexpr useconds_t IDLE_PAUSE_US = 30000;

const PanelOptions *settings;
// The buttons as the answered queries tell them.
PanelButtons buttons;
long long next_refresh_ms;
long long last_touched_ms;
// What the panel wants on the glass: the screen in view, drawn again in
// full when the module comes back and at every refresh.
PanelGlass wanted;
// The hand-over alert as it was drawn last, so that a later lcm_show that
// came while the rows went out is not told its own are on the glass.
ScreenHandle drawn_hand_over;
bool serving;

// The driver's waits are made without the store, so that the clients are
// served meanwhile.
template <typename Call> int without_store(Call call)
{
  server_unlock();
  const int result = call();
  server_lock();
  return result;
}

// 0 when the panel can go on; -1 (errno kept) when the port failed for good.
// Bytes that could not leave mean a stalled line or a module away; the
// button queries tell which (module_watch.cpp).
int check(int result)
{
  return watch_go_on(result);
}

void schedule_refresh(long long now)
{
  next_refresh_ms = settings->refresh_ms > 0 ? now + settings->refresh_ms : LLONG_MAX;
}

int restore(long long now)
{
  schedule_refresh(now);
  return check(without_store([now] { return screen_restore(wanted, now); }));
}

// A garbled or missing reply carries no press; a module back from an
// absence gets the whole glass again.
int take_key(long long now)
{
  int reply = 0;
  const int heard = without_store([now, &reply] { return watch_buttons(now, &reply); });
  if (heard < 0)
    return -1;
  if (heard == WATCH_UNANSWERED)
    return 0;
  if (heard == WATCH_BACK && restore(now) < 0)
    return -1;
  const int key = panel_press(&buttons, reply, now);
  if (idle_press(key, buttons.held, now))
    return 0;
  if (key != 0)
    view_press(key, now);
  view_held(buttons.held, now - buttons.held_since_ms, now);
  return 0;
}

void pause_when_idle(long long now)
{
  if (!buttons.released) {
    last_touched_ms = now;
    return;
  }
  if (now - last_touched_ms >= IDLE_AFTER_MS)
    (void)without_store([] { return usleep(IDLE_PAUSE_US); });
}

int show_in_view(long long now)
{
  view_glass(now, &wanted);
  idle_look(view_sight(), settings->display_off_ms, now, &wanted);
  drawn_hand_over = ScreenHandle{};
  if (view_shows_hand_over())
    (void)clients_newest_urgent(&drawn_hand_over);
  if (now >= next_refresh_ms)
    return restore(now);
  return check(without_store([now] { return screen_show(wanted, now); }));
}

// lcm-show waits until its lines are on the glass and the bytes have left
// the host; a module that does not answer cannot be said to show them. After
// one failed query the answer waits for the next: one garbled reply is no
// absence.
void answer_hand_over()
{
  ScreenHandle first;
  if (!clients_hand_over_waiting() || !view_shows_hand_over() || !clients_newest_urgent(&first) ||
      !clients_same_screen(first, drawn_hand_over))
    return;
  const int state = watch_state();
  if (state == WATCH_DOUBTFUL)
    return;
  if (state == WATCH_AWAY || lcm_drain() < 0)
    clients_hand_over_answer("huh? The display module does not answer");
  else
    clients_hand_over_answer("success");
}

// The thread is gone when this returns: the store is the loop's alone.
void stop_serving()
{
  if (!serving)
    return;
  server_unlock();
  server_end();
  serving = false;
}

// When the port would not open (EBADF), the link has already said why.
int port_failure(int error)
{
  stop_serving();
  view_end();
  sharing_stop();
  if (error != EBADF) {
    char buffer[128];
    fprintf(stderr, "lcm-panel: %s: %s\n", lcm_port_name(), panel_reason(error, buffer, sizeof buffer));
  }
  return EXIT_PORT_FAILURE;
}

void show_exit_text()
{
  PanelGlass glass{};
  for (std::size_t row = 0; row < glass.rows.size(); row++)
    panel_row_from_text(&glass.rows[row], settings->exit_text[row]);
  (void)screen_show(glass, panel_now_ms());
}

} // namespace

long long panel_now_ms()
{
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

const char *panel_reason(int error, char *buffer, std::size_t size)
{
  return strerror_r(error, buffer, size);
}

// One button query a pass sets the pace: the driver's pause before the reply
// and its wait for it. The panel adopts what its commands leave behind when
// they end (as it would as a container's first process) and collects it, so
// that nothing piles up wherever it runs.
int panel_run(const PanelOptions &options)
{
  settings = &options;
  buttons = PanelButtons{};
  watch_begin(stderr);
  (void)prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
  const long long start = panel_now_ms();
  last_touched_ms = start;
  ring_begin(options, start);
  actions_begin(options);
  view_begin(options, start);
  idle_begin(start);
  view_glass(start, &wanted);
  // The port's lock comes first: a second panel on the same port stops
  // there, before it could take the first one's socket.
  if (screen_start() < 0)
    return port_failure(errno);
  if (sharing_start(options) < 0)
    return port_failure(EBADF);
  server_lock();
  serving = true;
  if (server_start() < 0) {
    char buffer[128];
    fprintf(stderr, "lcm-panel: display clients cannot be served: %s\n",
            panel_reason(errno, buffer, sizeof buffer));
    stop_serving();
    sharing_stop();
    return EXIT_PORT_FAILURE;
  }
  schedule_refresh(panel_now_ms());
  while (panel_stop == 0) {
    if (take_key(panel_now_ms()) < 0)
      return port_failure(errno);
    const long long now = panel_now_ms();
    view_tend(now);
    if (show_in_view(now) < 0)
      return port_failure(errno);
    answer_hand_over();
    page_run_reap();
    if (service_tend(now))
      schedule_refresh(now);
    pause_when_idle(now);
  }
  stop_serving();
  view_end();
  if (clients_hand_over_waiting()) {
    clients_hand_over_answer("huh? lcm-panel stopped");
    server_poll(panel_now_ms());
  }
  sharing_stop();
  if (options.has_exit_text)
    show_exit_text();
  // The last bytes are on the line, not only in the host's buffer, before the port closes.
  (void)lcm_drain();
  return 0;
}
