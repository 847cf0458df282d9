// Internal to the console subsystem: what its menu reader, its operations,
// its watcher and its signal catcher share. Not part of the console's
// interface; only console/*.cpp include it.
//
//   console_say(line)                print one whole line on standard output
//   console_prompt(text)             print text and leave its line open for the answer
//   console_end_prompt_line()        end a prompt's line left open, if any
//   console_answer_line_ended()      the terminal's echo of Enter has ended the open line
//   console_lock_output()            hold the output for several lines in one piece
//   console_unlock_output()          let the other thread print again
//   console_remark(text)             "lcm-console: text" on standard error
//   console_complain(text)           console_remark(text), and the session failed
//   console_report_failure(error)    complain of a failure of the port or module (an errno value)
//   console_check(result)            console_report_failure(errno) when result is negative
//   console_note_failure()           the session failed, its line printed already
//   console_clear_failures()         a new session starts with nothing failed
//   console_any_failure()            whether anything failed since the clear
//   console_input                    the stream console_run serves; input_position reads it
//   console_prepare_input(input)     make input fit for console_getc, before its first read
//   console_getc(input)              the next byte of input; EOF at its end or once a stop is asked
//   console_stop_requested()         whether a caught signal asked the console to stop
//   console_is_blank(c)              whether c is a blank between the words of an input line
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
void console_remark(const char *text);
void console_complain(const char *text);
void console_report_failure(int error);
void console_check(int result);
void console_note_failure();
void console_clear_failures();
[[nodiscard]] bool console_any_failure();
void console_prepare_input(FILE *input);
[[nodiscard]] int console_getc(FILE *input);
[[nodiscard]] bool console_stop_requested();

// A line's end is no blank: it ends the entry or the number.
[[nodiscard]] inline bool console_is_blank(int c)
{
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

#endif
