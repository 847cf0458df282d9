// Internal to the panel subsystem: the ring of pages and the actions'
// commands, which the loop puts together with the menu. Not part of the
// panel's interface; only panel/*.cpp include it.
//
//   panel_now_ms()                  the monotonic clock in milliseconds
//   panel_reason(error, buf, size)  the text of an errno value
//   ring_begin(options, now)        the first page in view, its command due at once; every page blank
//   ring_press(key, now)            page with Up and Down (and Right and Left without actions); whether taken
//   ring_tend(now)                  start, poll or time out the shown page's command
//   ring_rows()                     the text of the page in view
//   ring_end()                      kill the page command, if one runs
//   actions_begin(options)          no action runs
//   actions_start(&menu, now)       run the command of the action the menu confirmed
//   actions_tend(&menu, now)        poll it; once it has ended, its result goes to the menu
//   actions_end()                   kill the action's command, if one runs
#ifndef LCM_PANEL_PANEL_INTERNAL_H
#define LCM_PANEL_PANEL_INTERNAL_H

#include <cstddef>

#include "panel.h"

long long panel_now_ms();
const char *panel_reason(int error, char *buffer, std::size_t size);

void ring_begin(const PanelOptions &options, long long now_ms);
bool ring_press(int key, long long now_ms);
void ring_tend(long long now_ms);
const PanelRows &ring_rows();
void ring_end();

void actions_begin(const PanelOptions &options);
void actions_start(Menu *menu, long long now_ms);
void actions_tend(Menu *menu, long long now_ms);
void actions_end();

#endif
