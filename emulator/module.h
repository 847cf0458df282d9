// The display module's side of the serial line, as a pure byte parser.
//
//   module_power_on(state)                  the state of a freshly powered module
//   module_take(state, byte, buttons, &ev)  take one host byte; -1 or the reply byte
//   module_buttons_reply(buttons)           the reply to a button query
//   module_draw(state)                      the screen as a box of text
//   module_describe(event)                  the bytes and name of a decoded event
//   module_describe_reply(event, reply)     a query's reply byte and its meaning
//
// No I/O and no globals: everything the module knows is in ModuleState, so a
// test or a fuzzer can feed it any byte stream.
//
// Memory: each row has a 64-byte address range (row 0 at 0x00-0x3F, row 1 at
// 0x40-0x7F); only the first 16 addresses of a row are on the glass. Text
// lands at the cursor, which then moves one address on and wraps from the
// end of its row's range back to the start of the same row.
#ifndef LCM_EMULATOR_MODULE_H
#define LCM_EMULATOR_MODULE_H

#include <array>
#include <string>

constexpr int MODULE_ROWS = 2;
constexpr int MODULE_VISIBLE_COLUMNS = 16;
constexpr int MODULE_ROW_SPAN = 64;

constexpr unsigned char MODULE_PREFIX = 0xFE;
constexpr unsigned char MODULE_DISPLAY_ON = 0x01;
constexpr unsigned char MODULE_DISPLAY_OFF = 0x02;
constexpr unsigned char MODULE_CLEAR = 0x03;
constexpr unsigned char MODULE_CURSOR_ON = 0x05;
constexpr unsigned char MODULE_CURSOR_OFF = 0x06;
constexpr unsigned char MODULE_SET_POS = 0x09;
constexpr unsigned char MODULE_GET_POS = 0x0A;
constexpr unsigned char MODULE_GET_KEY = 0x0B;

// Buttons are wired active low: a held button clears its bit in the reply.
constexpr unsigned BUTTON_UP = 0x01;
constexpr unsigned BUTTON_RIGHT = 0x02;
constexpr unsigned BUTTON_LEFT = 0x04;
constexpr unsigned BUTTON_DOWN = 0x08;
constexpr unsigned BUTTONS_ALL = 0x0F;

enum class ModuleParse { text, after_prefix, after_set_pos };

struct ModuleState {
  std::array<std::array<unsigned char, MODULE_ROW_SPAN>, MODULE_ROWS> memory{};
  int row = 0;
  int column = 0;
  bool display_on = true;
  bool cursor_on = true;
  ModuleParse parse = ModuleParse::text;
};

enum class ModuleEventKind {
  pending, // a lead byte or a command awaiting its parameter
  text,
  display_on,
  display_off,
  clear,
  cursor_on,
  cursor_off,
  set_pos,
  get_pos,
  get_key,
  unknown,
};

struct ModuleEvent {
  ModuleEventKind kind = ModuleEventKind::pending;
  unsigned char code = 0;      // the code byte after the lead byte
  unsigned char parameter = 0; // the position byte of a set, or the text byte
  int row = 0;                 // where the text landed, or the new position
  int column = 0;
};

[[nodiscard]] ModuleState module_power_on();
[[nodiscard]] int module_take(ModuleState &state, unsigned char byte, unsigned buttons_held,
                              ModuleEvent *event);
[[nodiscard]] unsigned char module_buttons_reply(unsigned buttons_held);
[[nodiscard]] std::string module_buttons_name(unsigned buttons_held);
[[nodiscard]] std::string module_draw(const ModuleState &state);
[[nodiscard]] std::string module_describe(const ModuleEvent &event);
[[nodiscard]] std::string module_describe_reply(const ModuleEvent &event, unsigned char reply);

#endif
