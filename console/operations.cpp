// The eleven console operations: each announces itself, then drives the module.
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <unistd.h>

#include "console.h"
#include "console_internal.h"
#include "lcm.h"

namespace {

enum class Number { READ, BAD, NONE };

int skip_blanks(FILE *input)
{
  int c = console_getc(input);
  while (console_is_blank(c))
    c = console_getc(input);
  return c;
}

// One whole decimal token of the current line: an optional sign, then
// digits, within int's range, with blanks around it. Anything else (a
// letter, a point, an exponent, a hexadecimal prefix, an overflow) makes the
// whole token bad. NONE when only blanks are left on the line. *line_ended
// tells whether the byte that ended the token also ended the line.
Number read_number(FILE *input, int *value, bool *line_ended)
{
  int c = skip_blanks(input);
  *line_ended = c == '\n' || c == EOF;
  if (*line_ended)
    return Number::NONE;
  const bool negative = c == '-';
  if (c == '-' || c == '+')
    c = console_getc(input);
  // The magnitude of INT_MIN is one more than INT_MAX's.
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  long long magnitude = 0;
  bool good = isdigit(c) != 0;
  for (; c != EOF && c != '\n' && !console_is_blank(c); c = console_getc(input)) {
    if (good && isdigit(c) != 0 && magnitude * 10 + (c - '0') <= limit)
      magnitude = magnitude * 10 + (c - '0');
    else
      good = false;
  }
  *line_ended = c == '\n' || c == EOF;
  if (!good)
    return Number::BAD;
  *value = static_cast<int>(negative ? -magnitude : magnitude);
  return Number::READ;
}

void drop_rest_of_line(FILE *input)
{
  int c = 0;
  do
    c = console_getc(input);
  while (c != '\n' && c != EOF);
}

// A terminal echoes the Enter typed after a prompt, which ends the prompt's
// line; a pipe does not, so there the next output ends it.
void answer_typed(FILE *input)
{
  if (!feof(input) && isatty(fileno(input)) == 1)
    console_answer_line_ended();
}

// Row and column may share a line or stand on two. Returns false when either
// is missing or bad; the rest of the last line read is dropped either way.
bool read_row_and_column(FILE *input, int *row, int *column)
{
  bool line_ended = false;
  console_prompt("Please input row:[0,1]");
  bool read = read_number(input, row, &line_ended) == Number::READ;
  answer_typed(input);
  if (read) {
    console_prompt("Please input column:[0-15]");
    // A column on the row's line was typed before this prompt showed.
    const bool on_row_line = !line_ended;
    Number column_read = read_number(input, column, &line_ended);
    if (column_read == Number::NONE && on_row_line) {
      // Only blanks followed the row: the column is on the next line.
      column_read = read_number(input, column, &line_ended);
      answer_typed(input);
    } else if (!on_row_line) {
      answer_typed(input);
    }
    read = column_read == Number::READ;
  }
  if (!line_ended)
    drop_rest_of_line(input);
  return read;
}

} // namespace

void show_position()
{
  int row = 0;
  int column = 0;
  if (lcm_get_pos(&row, &column) < 0) {
    console_report_failure(errno);
    return;
  }
  std::array<char, 80> line{};
  snprintf(line.data(), line.size(), "Cursor is located on row %d, column %d now.", row, column);
  console_say(line.data());
}

// The column is not checked: it goes out reduced to 8 bits, as the module
// takes any position byte.
void input_position()
{
  FILE *input = console_input ? console_input : stdin;
  int row = 0;
  int column = 0;
  const bool read = read_row_and_column(input, &row, &column);
  // A stop that came while the console waited for the numbers sends nothing.
  if (console_stop_requested())
    return;
  if (!read) {
    console_say("Input data incorrect!!");
    console_note_failure();
    return;
  }
  console_end_prompt_line();
  if (lcm_set_pos(row, column) == 0)
    return;
  if (errno == EINVAL) {
    console_say("Input data incorrect!!");
    console_note_failure();
  } else {
    console_report_failure(errno);
  }
}

void display_on()
{
  console_say("Turn display on now!");
  console_check(lcm_display(1));
}

void display_off()
{
  console_say("Turn display off now!");
  console_check(lcm_display(0));
}

void show_cursor()
{
  console_say("Show cursor now!");
  console_check(lcm_cursor(1));
}

void hide_cursor()
{
  console_say("Don't show cursor now!");
  console_check(lcm_cursor(0));
}

void cursor_home()
{
  console_say("Cursor is moved to home position now!");
  console_check(lcm_move(MOVE_HOME));
}

void cursor_next()
{
  console_say("Cursor is moved to next column now!");
  console_check(lcm_move(MOVE_NEXT));
}

void cursor_prev()
{
  console_say("Cursor is moved to previous column now!");
  console_check(lcm_move(MOVE_PREV));
}

// The driver adds its own line with the new position.
void cursor_backspace()
{
  console_say("Cursor is backspaced now!");
  console_check(lcm_move(MOVE_BACKSPACE));
}

void clear_screen()
{
  console_say("LCM is cleared!");
  console_check(lcm_clear());
}
