// Front panel: shows the first two lines of a page command's output on the
// display module, keeps them current and pages with the buttons; with
// actions, a menu runs confirmed commands and shows their outcome.
//
//   panel_parse_options(argc, argv, &options, error, size)  0, or -1 with a usage error in error
//   panel_config_read(path, &options, error, size)  a file's settings; 0, or -1 with "FILE:LINE: what"
//   panel_config_load(command_line, &options, error, size)  the file of --config, the command line over it
//   panel_config_print(options, stream)  the settings in use, written out as a configuration file
//   page_output_begin(&output)           start reading a page's output: both rows blank
//   page_output_feed(&output, data, n)   take n more bytes of the output; lines after the second are dropped
//   page_output_end(&output)             the output ended: a character left unfinished makes it ISO-8859-1
//   panel_page_after(page, count, key)   the page a key leads to, wrapping round; page itself for other keys
//   panel_press(&buttons, reply, now)    the key whose press starts with this button reply, or 0
//   page_run_start(&run, command, now, timeout)  run a command with /bin/sh; 0, or -1 with errno
//   page_run_poll(&run, now)             PAGE_RUN_BUSY, PAGE_RUN_DONE (run.status set) or PAGE_RUN_TIMED_OUT
//   page_run_cancel(&run)                kill a running command with its whole pipeline
//   page_run_reap()                      collect every ended child that no run tracks
//   screen_is_silence(error)             whether a failure means the module is away, not the port broken
//   screen_start()                       hide the cursor and clear the display; 0, or -1 with errno
//   screen_show(glass, now)              send what differs from the glass: cells, cursor, light; 0, or -1
//   with errno screen_restore(glass, now)           nothing taken as known: the cursor, both rows and the
//   light sent again menu_begin(&menu, count, labels)     a closed main menu: count actions, then the display
//   clients' menus menu_has_entries(menu)               whether Right opens a menu: there are actions or
//   clients' menus menu_press(&menu, key, now)          MENU_PASS (for the layer behind) or MENU_TAKEN
//   menu_held(&menu, key, held_ms, now)  after every answered query: MENU_RUN once a question's Right holds
//   menu_tick(&menu, now)                close or go back once a screen's time without a press is up
//   menu_close(&menu, now)               close whatever the menu shows; a client's menu is told it was left
//   menu_ended(&menu, outcome, output, now)  the running action ended: its result in view
//   menu_glass(menu, &glass)             the menu's screen and an edit's cursor; false while it shows none
//   menu_outcome(text, size, state, status)  "ok", "failed N", "killed SIG" or "timed out" for a run
//   menu_reload(&menu, count, labels, now)  new actions: an open menu closes, a running action runs on
//   idle_begin(now)                      the display on, nothing pressed
//   idle_press(key, held, now)           whether the press (or the button still held) only woke the display
//   idle_look(sight, off_after, now, &glass)  the light off after off_after ms without a press or new screen
//   panel_run(options)                   keep the display current until panel_stop is set; the exit status
//   service_begin(&options, command_line)  talk to systemd if it started the panel; SIGHUP rereads the file
//
// Rows hold exactly 16 cells, padded with spaces. A page's output is read
// as UTF-8 when it is valid UTF-8 and as ISO-8859-1 otherwise, a cell a
// character (text.h); a CR that ends a line is dropped. Times are
// milliseconds on the monotonic clock.
#ifndef LCM_PANEL_PANEL_H
#define LCM_PANEL_PANEL_H

#include <array>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <sys/types.h>

#include "clients.h"
#include "lcm.h"
#include "text.h"

constexpr int PANEL_MAX_PAGES = 64;
constexpr int PANEL_MAX_ACTIONS = 16;
constexpr int PANEL_MAX_LISTEN = 8;
// One column is left for the menu's '>' and the question's '?'.
constexpr int PANEL_MAX_LABEL = LCM_COLUMNS - 1;

// What the command line gave, so that it wins over the configuration file.
constexpr unsigned PANEL_GIVEN_EVERY = 1U << 0;
constexpr unsigned PANEL_GIVEN_TIMEOUT = 1U << 1;
constexpr unsigned PANEL_GIVEN_REFRESH = 1U << 2;
constexpr unsigned PANEL_GIVEN_EXIT_TEXT = 1U << 3;
constexpr unsigned PANEL_GIVEN_PAGES = 1U << 4;
constexpr unsigned PANEL_GIVEN_ACTION_TIMEOUT = 1U << 5;
constexpr unsigned PANEL_GIVEN_ROTATE = 1U << 6;
constexpr unsigned PANEL_GIVEN_HOLD = 1U << 7;
constexpr unsigned PANEL_GIVEN_LISTEN = 1U << 8;
constexpr unsigned PANEL_GIVEN_ACTIONS = 1U << 9;
constexpr unsigned PANEL_GIVEN_DISPLAY_OFF = 1U << 10;

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
  int action_timeout_ms = 60000;
  // 0: the ring turns only with the buttons.
  int rotate_ms = 0;
  // TCP addresses for display clients, as given ("127.0.0.1:13666").
  int listen_count = 0;
  std::array<const char *, PANEL_MAX_LISTEN> listen{};
  int action_count = 0;
  std::array<const char *, PANEL_MAX_ACTIONS> action_labels{};
  std::array<const char *, PANEL_MAX_ACTIONS> action_commands{};
  // A page's or an action's own times from the configuration file; 0: the
  // panel's every_ms, timeout_ms and action_timeout_ms.
  std::array<int, PANEL_MAX_PAGES> page_every_ms{};
  std::array<int, PANEL_MAX_PAGES> page_timeout_ms{};
  std::array<int, PANEL_MAX_ACTIONS> action_own_timeout_ms{};
  // How long a screen paged to stays before the ring turns by itself again;
  // 0: as long as rotate_ms.
  int hold_ms = 0;
  // 0: the display stays on.
  int display_off_ms = 0;
  // The file of --config or --check-config, or null.
  const char *config = nullptr;
  bool check_config = false;
  unsigned given = 0;
};

// The buttons as the answered queries tell them. A press starts only on a
// reply that holds exactly one button right after one that held none: a
// chord, a reply outside the protocol or a button still held starts
// nothing until every button has been let go.
struct PanelButtons {
  // The last answered reply held no button.
  bool released = false;
  // The one button held now (a KEY_ code), 0 for none or for a chord.
  int held = 0;
  long long held_since_ms = 0;
};

// What the panel wants the module to show: the rows, the module's cursor
// (shown at a cell or hidden) and whether the display is on.
constexpr int GLASS_LIGHT_ON = 0;
constexpr int GLASS_LIGHT_OFF = 1;
// Off and on about once a second, and about four times a second.
constexpr int GLASS_LIGHT_BLINK = 2;
constexpr int GLASS_LIGHT_FLASH = 3;

struct PanelGlass {
  PanelRows rows{};
  bool cursor = false;
  int cursor_row = 0;
  int cursor_column = 0;
  int light = GLASS_LIGHT_ON;
};

// One way of reading a page's output: the rows it makes, and the column of
// the next cell.
struct PageReading {
  PanelRows rows{};
  int column = 0;
};

// A page's output is read both as UTF-8 and as ISO-8859-1 as it streams in;
// rows shows the UTF-8 reading for as long as every byte so far is valid
// UTF-8, and the other one from the first byte that is not.
struct PageOutput {
  PanelRows rows{};
  PageReading utf8;
  PageReading latin1;
  TextUtf8 decoder;
  bool valid_utf8 = true;
  int line = 0;
  // A CR read last, kept until the next byte shows whether it ends the line.
  bool carriage_return = false;
  // Whether any byte was read.
  bool any = false;
};

// pid is -1 while no command runs. status is the wait status of the last
// command that ended by itself, -1 when it could not be known.
struct PageRun {
  pid_t pid = -1;
  int pipe = -1;
  long long deadline_ms = 0;
  int status = -1;
  PageOutput output;
};

constexpr int PAGE_RUN_BUSY = 0;
constexpr int PAGE_RUN_DONE = 1;
constexpr int PAGE_RUN_TIMED_OUT = 2;

constexpr int MENU_CLOSED = 0;
constexpr int MENU_LIST = 1;
constexpr int MENU_QUESTION = 2;
constexpr int MENU_RUNNING = 3;
constexpr int MENU_RESULT = 4;
constexpr int MENU_BUSY = 5;
// A display client's menu, walked in clients/.
constexpr int MENU_CLIENT = 6;

constexpr int MENU_PASS = 0;
constexpr int MENU_TAKEN = 1;
constexpr int MENU_RUN = 2;

// The main menu: a layer in front of the ring of pages, its entries the
// actions and then one for each display client with a menu. chosen is the
// entry the list points at (and the question asks about); running is the
// action whose command runs, or -1. since_ms is the last press or change of
// screen, from which each screen's time runs.
struct Menu {
  int count = 0;
  const char *const *labels = nullptr;
  int state = MENU_CLOSED;
  int chosen = 0;
  int running = -1;
  long long since_ms = 0;
  PanelRows result{};
  // The running action's label as it was chosen: a reload may change the list.
  std::array<char, PANEL_MAX_LABEL + 1> running_label{};
  // While a client's entry is chosen, the client's connection, so that the
  // choice stays on it as other clients come and go; 0 on an action.
  unsigned long long chosen_connection = 0;
  // The client's menu opened as the way in (menu_set_main): leaving its
  // top closes the menu.
  bool client_first = false;
  // Right on the question: 1 until the query it came with is done, 2 while
  // the next answered query decides.
  int armed = 0;
};

// What is in view, to tell when another screen comes: a client's screen (or
// lcm-show's lines) in front, else the menu's screen, else the ring's entry.
struct PanelSight {
  ScreenHandle screen;
  int menu_state = MENU_CLOSED;
  int menu_chosen = 0;
  int page = -1;
};

// The signal that asked the panel to stop, or 0.
extern volatile std::sig_atomic_t panel_stop;
// Set by SIGHUP when the panel runs from a configuration file.
extern volatile std::sig_atomic_t panel_reload_asked;

[[nodiscard]] int panel_parse_options(int argc, char **argv, PanelOptions *options, char *error,
                                      std::size_t error_size);
[[nodiscard]] int panel_config_read(const char *path, PanelOptions *options, char *error,
                                    std::size_t error_size);
[[nodiscard]] int panel_config_load(const PanelOptions &command_line, PanelOptions *options, char *error,
                                    std::size_t error_size);
[[nodiscard]] int panel_config_print(const PanelOptions &options, std::FILE *stream);

void page_output_begin(PageOutput *output);
void page_output_feed(PageOutput *output, const unsigned char *data, std::size_t length);
void page_output_end(PageOutput *output);
[[nodiscard]] int panel_page_after(int page, int count, int key);
[[nodiscard]] int panel_press(PanelButtons *buttons, int reply, long long now_ms);

[[nodiscard]] int page_run_start(PageRun *run, const char *command, long long now_ms, int timeout_ms);
[[nodiscard]] int page_run_poll(PageRun *run, long long now_ms);
void page_run_cancel(PageRun *run);
void page_run_reap();

[[nodiscard]] bool screen_is_silence(int error);
[[nodiscard]] int screen_start();
[[nodiscard]] int screen_show(const PanelGlass &wanted, long long now_ms);
[[nodiscard]] int screen_restore(const PanelGlass &wanted, long long now_ms);

void menu_begin(Menu *menu, int count, const char *const *labels);
[[nodiscard]] bool menu_has_entries(const Menu &menu);
[[nodiscard]] int menu_press(Menu *menu, int key, long long now_ms);
[[nodiscard]] int menu_held(Menu *menu, int key, long long held_ms, long long now_ms);
void menu_tick(Menu *menu, long long now_ms);
void menu_close(Menu *menu, long long now_ms);
void menu_ended(Menu *menu, const char *outcome, const PanelRow &output, long long now_ms);
[[nodiscard]] bool menu_glass(const Menu &menu, PanelGlass *glass);
void menu_outcome(char *text, std::size_t size, int run_state, int wait_status);
void menu_reload(Menu *menu, int count, const char *const *labels, long long now_ms);

void idle_begin(long long now_ms);
[[nodiscard]] bool idle_press(int key, int held, long long now_ms);
void idle_look(const PanelSight &sight, int off_after_ms, long long now_ms, PanelGlass *glass);

[[nodiscard]] int panel_run(const PanelOptions &options);
void service_begin(PanelOptions *options, const PanelOptions &command_line);

#endif
