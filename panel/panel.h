// Front panel: shows the first two lines of a page command's output on the
// display module, keeps them current and pages with the buttons.
//
//   panel_parse_options(argc, argv, &options, error, size)  0, or -1 with a usage error in error
//   page_output_begin(&output)           start reading a page's output: both rows blank
//   page_output_feed(&output, data, n)   take n more bytes of the output; lines after the second are dropped
//   panel_row_from_text(&row, text)      a row from a text: its first 16 bytes, padded with spaces
//   panel_page_after(page, count, key)   the page a key leads to, wrapping round; page itself for other keys
//   panel_press(&held, reply)            the key whose press starts with this button reply, or 0
//   page_run_start(&run, command, now, timeout)  run a page command with /bin/sh; 0, or -1 with errno
//   page_run_poll(&run, now)             PAGE_RUN_BUSY, PAGE_RUN_DONE or PAGE_RUN_TIMED_OUT
//   page_run_cancel(&run)                kill a running page command with its whole pipeline
//   page_run_reap()                      collect every ended child that no run tracks
//   screen_is_silence(error)             whether a failure means the module is away, not the port broken
//   screen_start()                       hide the cursor and clear the display; 0, or -1 with errno
//   screen_show(rows)                    send the rows that differ from the glass; 0, or -1 with errno
//   screen_restore(rows)                 display on, cursor off and both rows sent again; 0, or -1 with errno
//   panel_run(options)                   keep the display current until panel_stop is set; the exit status
//
// Rows hold exactly 16 bytes, padded with spaces; a control byte, DEL and
// 0xFE (which the module would take for the start of a command) are kept as
// '?', and a CR that ends a line is dropped. Times are milliseconds on the
// monotonic clock.
#ifndef LCM_PANEL_PANEL_H
#define LCM_PANEL_PANEL_H

#include <array>
#include <csignal>
#include <cstddef>
#include <sys/types.h>

#include "lcm.h"

constexpr int PANEL_MAX_PAGES = 64;

using PanelRow = std::array<unsigned char, LCM_COLUMNS>;
using PanelRows = std::array<PanelRow, LCM_ROWS>;

struct PanelOptions {
  int every_ms = 5000;
  int timeout_ms = 2000;
  // 0: no refresh.
  int refresh_ms = 60000;
  bool has_exit_text = false;
  std::array<const char *, LCM_ROWS> exit_text{};
  bool help = false;
  bool version = false;
  int page_count = 0;
  std::array<const char *, PANEL_MAX_PAGES> pages{};
};

struct PageOutput {
  PanelRows rows{};
  int line = 0;
  int column = 0;
  // A CR read last, kept until the next byte shows whether it ends the line.
  bool carriage_return = false;
  // Whether any byte was read.
  bool any = false;
};

// pid is -1 while no command runs.
struct PageRun {
  pid_t pid = -1;
  int pipe = -1;
  long long deadline_ms = 0;
  PageOutput output;
};

constexpr int PAGE_RUN_BUSY = 0;
constexpr int PAGE_RUN_DONE = 1;
constexpr int PAGE_RUN_TIMED_OUT = 2;

// The signal that asked the panel to stop, or 0.
extern volatile std::sig_atomic_t panel_stop;

[[nodiscard]] int panel_parse_options(int argc, char **argv, PanelOptions *options, char *error,
                                      std::size_t error_size);

void page_output_begin(PageOutput *output);
void page_output_feed(PageOutput *output, const unsigned char *data, std::size_t length);
void panel_row_from_text(PanelRow *row, const char *text);

[[nodiscard]] int panel_page_after(int page, int count, int key);
[[nodiscard]] int panel_press(int *held, int reply);

[[nodiscard]] int page_run_start(PageRun *run, const char *command, long long now_ms, int timeout_ms);
[[nodiscard]] int page_run_poll(PageRun *run, long long now_ms);
void page_run_cancel(PageRun *run);
void page_run_reap();

[[nodiscard]] bool screen_is_silence(int error);
[[nodiscard]] int screen_start();
[[nodiscard]] int screen_show(const PanelRows &rows);
[[nodiscard]] int screen_restore(const PanelRows &rows);

[[nodiscard]] int panel_run(const PanelOptions &options);

#endif
