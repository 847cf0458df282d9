#include "live_input.h"

#include "module.h"

namespace {

constexpr unsigned char ESCAPE = 0x1B;
constexpr unsigned char DELETE = 0x7F;
constexpr unsigned char BACKSPACE = 0x08;
constexpr unsigned char END_OF_INPUT = 0x04;
// An escape sequence longer than this is not a key we know; drop it.
constexpr size_t LONGEST_ESCAPE = 8;

unsigned arrow_button(unsigned char final_byte)
{
  switch (final_byte) {
  case 'A':
    return BUTTON_UP;
  case 'B':
    return BUTTON_DOWN;
  case 'C':
    return BUTTON_RIGHT;
  case 'D':
    return BUTTON_LEFT;
  default:
    return 0;
  }
}

// The escape sequence ends at its final byte (0x40-0x7E) after the introducer.
void take_escape(LiveInput *state, unsigned char byte, LiveResult *result)
{
  state->escape += static_cast<char>(byte);
  if (state->escape.size() == 2) {
    if (byte != '[' && byte != 'O')
      state->escape.clear();
    return;
  }
  if (byte >= 0x40 && byte <= 0x7E) {
    if (state->escape.size() == 3)
      result->pressed = arrow_button(byte);
    state->escape.clear();
    return;
  }
  if (state->escape.size() >= LONGEST_ESCAPE)
    state->escape.clear();
}

} // namespace

void emu_live_take(LiveInput *state, unsigned char byte, LiveResult *result)
{
  *result = LiveResult{};
  if (!state->escape.empty()) {
    take_escape(state, byte, result);
    return;
  }
  switch (byte) {
  case ESCAPE:
    state->escape = static_cast<char>(byte);
    return;
  case DELETE:
  case BACKSPACE:
    if (!state->line.empty()) {
      state->line.pop_back();
      result->echo = "\b \b";
    }
    return;
  case '\r':
  case '\n':
    result->echo = "\n";
    result->line = state->line + "\n";
    result->line_done = true;
    state->line.clear();
    return;
  case END_OF_INPUT:
    result->line = state->line;
    result->line_done = !state->line.empty();
    result->input_done = true;
    state->line.clear();
    return;
  default:
    state->line += static_cast<char>(byte);
    result->echo = std::string(1, static_cast<char>(byte));
    return;
  }
}
