// Typed input in --live mode, one byte at a time: arrow keys become button
// presses, other keys are gathered into lines for the command's standard input.
//
//   emu_live_take(&state, byte, &result)
//
// Arrow keys arrive as ESC [ A..D or ESC O A..D (up, down, right, left); other
// escape sequences are dropped. Backspace (0x7F or 0x08) takes back the last
// byte of the line; Enter (CR or LF) ends the line; Ctrl-D ends the input.
#ifndef LCM_EMULATOR_LIVE_INPUT_H
#define LCM_EMULATOR_LIVE_INPUT_H

#include <string>

struct LiveInput {
  std::string line;
  std::string escape;
};

struct LiveResult {
  unsigned pressed = 0; // button bits an arrow key asked for
  std::string echo;     // what to show on the terminal for this byte
  std::string line;     // a finished line, newline included
  bool line_done = false;
  bool input_done = false; // Ctrl-D: no more input for the command
};

void emu_live_take(LiveInput *state, unsigned char byte, LiveResult *result);

#endif
