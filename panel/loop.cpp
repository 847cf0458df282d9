// The panel's loop: one button query a pass, each press handed to the
// layers of the screen in view, and the glass kept showing the front-most.
//
// The layers, from the front: the action menu (its list, question, running,
// result and busy screens), then the ring of pages, always there. A press
// goes to the front-most layer that takes it; the screen in view is the
// front-most layer's that has one. A display client's alert or input screen
// belongs in front of the menu, its info and foreground screens in the ring.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/prctl.h>

#include "panel_internal.h"

volatile std::sig_atomic_t panel_stop;

namespace {

const char *const PORT_NAME = lcm_port_name();
constexpr int EXIT_PORT_FAILURE = 1;
// A button reply clears one of its low four bits for each held button; a
// reply with any higher bit set was garbled on the line.
constexpr int BUTTON_REPLY_BITS = 0x0F;

const PanelOptions *settings;
// The reply to the last answered button query.
int held;
bool module_away;
long long next_refresh_ms;
Menu menu;
// What the panel wants on the glass: the screen in view, drawn again in
// full when the module comes back and at every refresh.
PanelRows wanted;

// 0 when the panel can go on; -1 (errno kept) when the port failed for good.
// A query that got no reply or a garbled one, or bytes that could not leave,
// mean the module is away; the panel keeps asking until it answers again.
int check(int result)
{
  if (result >= 0)
    return 0;
  if (!screen_is_silence(errno))
    return -1;
  if (!module_away)
    fprintf(stderr, "lcm-panel: %s: the display module does not answer\n", PORT_NAME);
  module_away = true;
  return 0;
}

void schedule_refresh(long long now)
{
  next_refresh_ms = settings->refresh_ms > 0 ? now + settings->refresh_ms : LLONG_MAX;
}

int restore(long long now)
{
  schedule_refresh(now);
  return check(screen_restore(wanted));
}

// A press goes to the front-most layer that takes it.
void dispatch(int key, long long now)
{
  const int taken = menu_press(&menu, key, now);
  if (taken == MENU_RUN)
    actions_start(&menu, now);
  else if (taken == MENU_PASS)
    (void)ring_press(key, now);
}

// The screen of the front-most layer that has one.
void compose_in_view(PanelRows *rows)
{
  if (!menu_rows(menu, rows))
    *rows = ring_rows();
}

int take_key(long long now)
{
  int reply = lcm_get_key();
  if (reply > BUTTON_REPLY_BITS) {
    errno = EBADMSG;
    reply = -1;
  }
  if (reply < 0)
    return check(reply);
  if (module_away) {
    module_away = false;
    fprintf(stderr, "lcm-panel: %s: the display module answers again\n", PORT_NAME);
    if (restore(now) < 0)
      return -1;
  }
  const int key = panel_press(&held, reply);
  if (key != 0)
    dispatch(key, now);
  return 0;
}

int show_in_view(long long now)
{
  compose_in_view(&wanted);
  if (now >= next_refresh_ms)
    return restore(now);
  return check(screen_show(wanted));
}

// When the port would not open (EBADF), the link has already said why.
int port_failure(int error)
{
  ring_end();
  actions_end();
  if (error != EBADF) {
    char buffer[128];
    fprintf(stderr, "lcm-panel: %s: %s\n", PORT_NAME, panel_reason(error, buffer, sizeof buffer));
  }
  return EXIT_PORT_FAILURE;
}

void show_exit_text()
{
  PanelRows rows{};
  for (std::size_t row = 0; row < rows.size(); row++)
    panel_row_from_text(&rows[row], settings->exit_text[row]);
  (void)screen_show(rows);
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
  held = 0;
  module_away = false;
  (void)prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
  ring_begin(options, panel_now_ms());
  actions_begin(options);
  menu_begin(&menu, options.action_count, options.action_labels.data());
  wanted = ring_rows();
  if (screen_start() < 0)
    return port_failure(errno);
  schedule_refresh(panel_now_ms());
  while (panel_stop == 0) {
    if (take_key(panel_now_ms()) < 0)
      return port_failure(errno);
    const long long now = panel_now_ms();
    ring_tend(now);
    actions_tend(&menu, now);
    menu_tick(&menu, now);
    if (show_in_view(now) < 0)
      return port_failure(errno);
    page_run_reap();
  }
  ring_end();
  actions_end();
  if (options.has_exit_text)
    show_exit_text();
  // The last bytes are on the line, not only in the host's buffer, before the port closes.
  (void)lcm_drain();
  return 0;
}
