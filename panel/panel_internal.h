// Internal to the panel subsystem: the pages, the ring, the actions'
// commands, the layers of the screen in view and the display clients'
// sockets, which the loop puts together. Not part of the
// panel's interface; only panel/*.cpp include it.
//
//   panel_now_ms()                  the monotonic clock in milliseconds
//   panel_parse_seconds(name, text, zero_off, &ms, error, size)  "5", "0.25" (or "0"); 0, or -1 said
//   panel_check_label(name, label, error, size)     1 to 15 bytes; 0, or -1 said in error
//   panel_check_listen(name, address, error, size)  a numeric ADDR:PORT or [ADDR]:PORT; 0, or -1 said
//   panel_page_every_ms(options, page)        how often a page's command runs: its own time or the panel's
//   panel_page_timeout_ms(options, page)      when a page's command is killed: its own time or the panel's
//   panel_action_timeout_ms(options, action)  when an action's command is killed: its own or the panel's
//   panel_reason(error, buf, size)  the text of an errno value
//   pages_begin(options, now)       page 1 shown, its command due at once; every page blank
//   pages_show(page, keep_view, now)  show another page; its command due at once
//   pages_tend(now)                 start, poll or time out the shown page's command
//   pages_rows()                    the text of the page in view
//   pages_end()                     kill the page command, if one runs
//   ring_begin(options, now)        the ring at its first page
//   ring_press(key, now)            turn with Up, Down (Right, Left without actions); whether taken
//   ring_tend(now)                  follow clients' screens that went, turn with --rotate, tend the page
//   ring_rows(now, &rows)           the ring's screen in view: a page's text or a client's screen
//   ring_take_back(now)             the first page in view (blank without pages) until a turn reaches a
//   client ring_client_screen()            the client's screen the ring shows (client -1 while a page shows)
//   ring_end()                      kill the page command, if one runs
//   actions_begin(options)          no action runs
//   actions_start(&menu, now)       run the command of the action the menu confirmed
//   actions_tend(&menu, now)        poll it; once it has ended, its result goes to the menu
//   actions_end()                   kill the action's command, if one runs
//   view_begin(options, now)        the menu closed, no client's screen in view
//   view_press(key, now)            hand a press to the front-most layer that takes it
//   view_held(key, held_ms, now)    after every answered query: the one button held (0: none) and for how
//   long view_tend(now)                  tend menu, action and ring; count time in view; listen and ignore
//   view_glass(now, &glass)         the screen in view, with its cursor and light
//   view_shows_hand_over()          whether lcm-show's lines are the screen in view
//   view_end()                      kill the page's and the action's commands
//   ring_page()                     the page the ring shows, or -1 while a client's screen is
//   ring_reload(now)                new pages: the page in view stays by its place, its command runs at once
//   pages_reload(now)               new pages: every page's text but the one in view forgotten
//   view_reload(options, now)       new actions: the menu closes, a running action runs on
//   view_sight()                    what is in view, to tell when another screen comes
//   service_tend(now)               after a pass: reload if SIGHUP asked, ready, keep-alive; whether reloaded
//   sharing_start(options)          serve display clients; 0, or -1 when a --listen address failed (said)
//   sharing_stop()                  close every client and listener, remove the socket
//   watch_begin(journal)            the module there, nothing counted; what the journal hears goes to journal
//   watch_buttons(now, &reply)      one button query: WATCH_ANSWERED, WATCH_BACK (answered after an absence),
//                                   WATCH_UNANSWERED (garbled or missing), or -1 (errno) when the port failed
//   watch_state()                   WATCH_PRESENT, WATCH_DOUBTFUL (the last query failed) or WATCH_AWAY
//   watch_go_on(result)             a drawing's result: 0 while the panel can go on, -1 when the port failed
#ifndef LCM_PANEL_PANEL_INTERNAL_H
#define LCM_PANEL_PANEL_INTERNAL_H

#include <cstddef>
#include <cstdio>

#include "clients.h"
#include "panel.h"

long long panel_now_ms();
[[nodiscard]] int panel_parse_seconds(const char *name, const char *text, bool zero_turns_off, int *ms,
                                      char *error, std::size_t error_size);
[[nodiscard]] int panel_check_label(const char *name, const char *label, char *error, std::size_t error_size);
[[nodiscard]] int panel_check_listen(const char *name, const char *address, char *error,
                                     std::size_t error_size);
[[nodiscard]] int panel_page_every_ms(const PanelOptions &options, int page);
[[nodiscard]] int panel_page_timeout_ms(const PanelOptions &options, int page);
[[nodiscard]] int panel_action_timeout_ms(const PanelOptions &options, int action);
const char *panel_reason(int error, char *buffer, std::size_t size);

void pages_begin(const PanelOptions &options, long long now_ms);
void pages_show(int shown_page, bool keep_view, long long now_ms);
void pages_tend(long long now_ms);
const PanelRows &pages_rows();
void pages_end();

void ring_begin(const PanelOptions &options, long long now_ms);
bool ring_press(int key, long long now_ms);
void ring_tend(long long now_ms);
void ring_rows(long long now_ms, PanelRows *rows);
void ring_take_back(long long now_ms);
[[nodiscard]] ScreenHandle ring_client_screen();
void ring_end();

void actions_begin(const PanelOptions &options);
void actions_start(Menu *menu, long long now_ms);
void actions_tend(Menu *menu, long long now_ms);
void actions_end();

void view_begin(const PanelOptions &options, long long now_ms);
void view_press(int key, long long now_ms);
void view_held(int key, long long held_ms, long long now_ms);
void view_tend(long long now_ms);
void view_glass(long long now_ms, PanelGlass *glass);
[[nodiscard]] bool view_shows_hand_over();
void view_end();

[[nodiscard]] int ring_page();
void ring_reload(long long now_ms);
void pages_reload(long long now_ms);
void view_reload(const PanelOptions &options, long long now_ms);
[[nodiscard]] PanelSight view_sight();
bool service_tend(long long now_ms);

[[nodiscard]] int sharing_start(const PanelOptions &options);
void sharing_stop();

constexpr int WATCH_ANSWERED = 0;
constexpr int WATCH_BACK = 1;
constexpr int WATCH_UNANSWERED = 2;

constexpr int WATCH_PRESENT = 0;
constexpr int WATCH_DOUBTFUL = 1;
constexpr int WATCH_AWAY = 2;

void watch_begin(std::FILE *stream);
[[nodiscard]] int watch_buttons(long long now_ms, int *reply);
[[nodiscard]] int watch_state();
[[nodiscard]] int watch_go_on(int result);

#endif
