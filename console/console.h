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
//                          (EBADF when the port is not open: no thread is started)
//   watcher_stop()         clear watcher_run, wait for the thread to end; 0, or 1 if not running
//   console_run(input)     serve menu entries read from input, one a line, until quit, the end of
//                          input or a caught signal; 0 when every entry worked, 1 when any failed
//   console_catch_signals() have SIGINT, SIGTERM and SIGHUP stop the console cleanly; 0 or -1 with errno
//   console_stop_signal()  the caught signal that stopped the console, or 0
//   console_finish_output() flush standard output; 0, or the errno of its first write that failed
//
// Each operation announces itself on standard output before it drives the
// module. A failure of the driver, an unknown entry and the watcher losing or
// finding the module again are told on standard error, one line each starting
// "lcm-console: ". Every line goes out in one piece, so the watcher's lines
// never split the foreground's.
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

// A failed entry is one that printed a failure line, a refused position
// ("Input data incorrect!!") or an unknown entry. -1 with errno when reading
// the input fails. The watcher is stopped on every way out.
[[nodiscard]] int console_run(FILE *input);

// To be called before any other thread starts: the three signals are blocked
// in the caller and in every thread started after, and a thread of its own
// waits for them. A caught signal stops the watcher after the press in hand
// and ends console_run after the entry in hand; a wait for input ends at
// once. With signals caught, an input stream with a file descriptor is read
// unbuffered (console_run must be its first reader), so that nothing is read
// ahead of the entry in hand.
[[nodiscard]] int console_catch_signals();
[[nodiscard]] int console_stop_signal();
[[nodiscard]] int console_finish_output();

#endif
