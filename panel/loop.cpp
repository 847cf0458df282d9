#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "panel.h"

volatile std::sig_atomic_t panel_stop;

namespace {

const char *const PORT_NAME = lcm_port_name();
constexpr int EXIT_PORT_FAILURE = 1;

const PanelOptions *settings;
int page;
// The reply to the last answered button query.
int held;
bool module_away;
bool start_failing;
PageRun run;
long long next_run_ms;
// What the panel wants on the glass: the shown page's last text, or the
// exit text; drawn again in full when the module comes back.
PanelRows wanted;
std::array<PanelRows, PANEL_MAX_PAGES> page_rows;

long long now_ms()
{
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

const char *reason(int error, char *buffer, std::size_t size)
{
  return strerror_r(error, buffer, size);
}

// A query that got no reply, or bytes that could not leave, mean the module
// is away; the panel keeps asking until it answers again.
bool is_silence(int error)
{
  return error == ETIMEDOUT || error == EAGAIN;
}

// 0 when the panel can go on; -1 (errno kept) when the port failed for good.
int check(int result)
{
  if (result >= 0)
    return 0;
  if (!is_silence(errno))
    return -1;
  if (!module_away)
    fprintf(stderr, "lcm-panel: %s: the display module does not answer\n", PORT_NAME);
  module_away = true;
  return 0;
}

int present(const PanelRows &rows)
{
  wanted = rows;
  return module_away ? 0 : check(screen_show(wanted));
}

int take_key()
{
  const int reply = lcm_get_key();
  if (reply < 0)
    return check(reply);
  if (module_away) {
    module_away = false;
    fprintf(stderr, "lcm-panel: %s: the display module answers again\n", PORT_NAME);
    if (check(screen_restore(wanted)) < 0)
      return -1;
  }
  const int next = panel_page_after(page, settings->page_count, panel_press(&held, reply));
  if (next != page) {
    page = next;
    page_run_cancel(&run);
    next_run_ms = now_ms();
  }
  return 0;
}

void start_page_command(long long now)
{
  next_run_ms = now + settings->every_ms;
  if (page_run_start(&run, settings->pages[static_cast<std::size_t>(page)], now, settings->timeout_ms) == 0) {
    start_failing = false;
    return;
  }
  if (!start_failing) {
    char buffer[128];
    fprintf(stderr, "lcm-panel: cannot run page %d: %s\n", page + 1, reason(errno, buffer, sizeof buffer));
  }
  start_failing = true;
}

// A page that timed out keeps the text of its last run.
int tend_page_command()
{
  const long long now = now_ms();
  if (run.pid < 0) {
    if (now >= next_run_ms)
      start_page_command(now);
    return 0;
  }
  const int state = page_run_poll(&run, now);
  if (state == PAGE_RUN_BUSY)
    return 0;
  PanelRows &rows = page_rows[static_cast<std::size_t>(page)];
  if (state == PAGE_RUN_DONE)
    rows = run.output.rows;
  return present(rows);
}

// When the port would not open (EBADF), the link has already said why.
int port_failure(int error)
{
  page_run_cancel(&run);
  if (error != EBADF) {
    char buffer[128];
    fprintf(stderr, "lcm-panel: %s: %s\n", PORT_NAME, reason(error, buffer, sizeof buffer));
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

// One button query a pass sets the pace: the driver's pause before the reply
// and its wait for it. The page command runs beside the loop and is only
// looked at, never waited for.
int panel_run(const PanelOptions &options)
{
  settings = &options;
  page = 0;
  held = 0;
  module_away = false;
  // Until its command has run once, a page is blank.
  PageOutput nothing;
  page_output_begin(&nothing);
  page_rows.fill(nothing.rows);
  wanted = nothing.rows;
  if (screen_start() < 0)
    return port_failure(errno);
  next_run_ms = now_ms();
  while (panel_stop == 0) {
    if (take_key() < 0 || tend_page_command() < 0)
      return port_failure(errno);
    page_run_reap();
  }
  page_run_cancel(&run);
  if (options.has_exit_text)
    show_exit_text();
  // The last bytes are on the line, not only in the host's buffer, before the port closes.
  (void)lcm_drain();
  return 0;
}
