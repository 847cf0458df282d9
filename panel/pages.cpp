// The pages of the ring: the page shown and its command, which runs beside
// the loop and is only looked at, and the last text of every page.
#include <cerrno>
#include <cstdio>

#include "panel_internal.h"

namespace {

const PanelOptions *settings;
int page;
PageRun run;
long long next_run_ms;
bool start_failing;
std::array<PanelRows, PANEL_MAX_PAGES> page_rows;
// After a page change the old page stays in view until the new page's
// command has ended.
PanelRows in_view;
// Said once a page's command timed out, until it ends in time again.
std::array<bool, PANEL_MAX_PAGES> timeout_said;

void start_page_command(long long now)
{
  next_run_ms = now + panel_page_every_ms(*settings, page);
  if (page_run_start(&run, settings->pages[static_cast<std::size_t>(page)], now,
                     panel_page_timeout_ms(*settings, page)) == 0) {
    start_failing = false;
    return;
  }
  if (!start_failing) {
    char buffer[128];
    fprintf(stderr, "lcm-panel: cannot run page %d: %s\n", page + 1,
            panel_reason(errno, buffer, sizeof buffer));
  }
  start_failing = true;
}

// A command killed at its timeout leaves what it wrote before; one that
// wrote nothing leaves the page its last text.
void take_timed_out_run()
{
  const auto index = static_cast<std::size_t>(page);
  if (run.output.any)
    page_rows[index] = run.output.rows;
  if (!timeout_said[index])
    fprintf(stderr, "lcm-panel: page %d timed out; its command was killed\n", page + 1);
  timeout_said[index] = true;
}

// Every page blank and nothing said, as at the start.
void forget_pages(long long now_ms)
{
  start_failing = false;
  PageOutput nothing;
  page_output_begin(&nothing);
  page_rows.fill(nothing.rows);
  timeout_said.fill(false);
  next_run_ms = now_ms;
}

} // namespace

void pages_begin(const PanelOptions &options, long long now_ms)
{
  settings = &options;
  page = 0;
  forget_pages(now_ms);
  in_view = page_rows[0];
}

// The text in view stays until the page's new command has ended; the other
// pages' texts may belong to commands that changed.
void pages_reload(long long now_ms)
{
  page_run_cancel(&run);
  forget_pages(now_ms);
}

// From one page to another the old text stays in view until the new page's
// command has ended; coming back from elsewhere, the page's last text shows.
void pages_show(int shown_page, bool keep_view, long long now_ms)
{
  page_run_cancel(&run);
  page = shown_page;
  next_run_ms = now_ms;
  if (!keep_view)
    in_view = page_rows[static_cast<std::size_t>(page)];
}

void pages_tend(long long now_ms)
{
  if (settings->page_count == 0)
    return;
  if (run.pid < 0) {
    if (now_ms >= next_run_ms)
      start_page_command(now_ms);
    return;
  }
  const int state = page_run_poll(&run, now_ms);
  if (state == PAGE_RUN_BUSY)
    return;
  const auto index = static_cast<std::size_t>(page);
  if (state == PAGE_RUN_DONE) {
    page_rows[index] = run.output.rows;
    timeout_said[index] = false;
  } else {
    take_timed_out_run();
  }
  in_view = page_rows[index];
}

const PanelRows &pages_rows()
{
  return in_view;
}

void pages_end()
{
  page_run_cancel(&run);
}
