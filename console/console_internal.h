// Internal to the console subsystem: what its menu reader, its operations and
// its watcher share. Not part of the console's interface; only console/*.cpp
// include it.
//
//   console_say(line)                print one whole line on standard output
//   console_prompt(text)             print text and leave its line open for the answer
//   console_end_prompt_line()        end a prompt's line left open, if any
//   console_answer_line_ended()      the terminal's echo of Enter has ended the open line
//   console_lock_output()            hold standard output for several lines in one piece
//   console_unlock_output()          let the other thread print again
//   console_report_failure(error)    name a driver failure (an errno value) on its own line
//   console_check(result)            console_report_failure(errno) when result is negative
//   console_input                    the stream console_run serves; input_position reads it
#ifndef LCM_CONSOLE_CONSOLE_INTERNAL_H
#define LCM_CONSOLE_CONSOLE_INTERNAL_H

#include <cstdio>

extern FILE *console_input;

void console_say(const char *line);
void console_prompt(const char *text);
void console_end_prompt_line();
void console_answer_line_ended();
void console_lock_output();
void console_unlock_output();
void console_report_failure(int error);
void console_check(int result);

#endif
