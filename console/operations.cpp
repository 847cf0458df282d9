// The eleven console operations: each announces itself, then drives the module.
#include <array>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "console.h"
#include "console_internal.h"
#include "lcm.h"

namespace {

// A terminal echoes the user's Enter, which ends the prompt's line; a pipe
// does not, so the prompt's line is ended by the next output.
bool read_number(FILE *input, int *value)
{
  // A decimal as "%d" takes it; input that does not convert shows in the count.
  const bool read = fscanf(input, "%d", value) == 1; // NOLINT(cert-err34-c)
  if (!feof(input) && isatty(fileno(input)) == 1)
    console_answer_line_ended();
  return read;
}

void drop_rest_of_line(FILE *input)
{
  int c = 0;
  do
    c = getc(input);
  while (c != '\n' && c != EOF);
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
  console_prompt("Please input row:[0,1]");
  bool read = read_number(input, &row);
  if (read) {
    console_prompt("Please input column:[0-15]");
    read = read_number(input, &column);
  }
  drop_rest_of_line(input);
  if (!read) {
    console_say("Input data incorrect!!");
    return;
  }
  console_end_prompt_line();
  if (lcm_set_pos(row, column) == 0)
    return;
  if (errno == EINVAL)
    console_say("Input data incorrect!!");
  else
    console_report_failure(errno);
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
