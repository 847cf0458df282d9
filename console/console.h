// Console operations and the button watcher, for interactive use of the display module.
//
//   show_position()        ask the module where the cursor is and report it
//   input_position()       read a row and a column from the console's input, place the cursor there
//   display_on()           turn the display on
//   display_off()          turn the display off
//   show_cursor()          show the cursor
//   hide_cursor()          hide the cursor
//   cursor_home()          move the cursor to row 0, column 0
//   cursor_next()          move the cursor one column right, staying on its row
//   cursor_prev()          move the cursor one column left, staying on its row
//   cursor_backspace()     move the cursor one column left and blank that cell
//   clear_screen()         clear the display
//   button_watcher(arg)    thread body: while watcher_run is set, name each press and echo it on row 1
//   watcher_run            the watcher's run flag; the thread ends once it reads 0
//   watcher_start()        start the driver, then the watcher thread; 0, 1 if running, -1 with errno
//   watcher_stop()         clear watcher_run, wait for the thread to end; 0, or 1 if not running
//   console_run(input)     serve menu entries read from input, one a line, until quit or end of input
//
// Each operation announces itself on standard output before it drives the
// module, and adds a line of its own when the driver reports a failure. Every
// line goes out in one piece, so the watcher's lines never split the
// foreground's.
#ifndef LCM_CONSOLE_CONSOLE_H
#define LCM_CONSOLE_CONSOLE_H

#include <atomic>
#include <cstdio>

void show_position();
void input_position();
void display_on();
void display_off();
void show_cursor();
void hide_cursor();
void cursor_home();
void cursor_next();
void cursor_prev();
void cursor_backspace();
void clear_screen();

extern std::atomic<int> watcher_run;

void *button_watcher(void *unused);
[[nodiscard]] int watcher_start();
int watcher_stop();

// 0 after quit or at the end of input (the watcher is stopped either way);
// -1 with errno when reading the input fails.
[[nodiscard]] int console_run(FILE *input);

#endif
