#include "module.h"

#include <cstdio>
#include <utility>

namespace {

constexpr int POSITION_ROW_BIT = 0x40;
constexpr int POSITION_COLUMN_MASK = MODULE_ROW_SPAN - 1;
constexpr unsigned char FIRST_SHOWN = 0x20;
constexpr unsigned char LAST_SHOWN = 0x7E;
constexpr char NOT_SHOWN = '.';

unsigned char position_byte(int row, int column)
{
  return static_cast<unsigned char>(row * MODULE_ROW_SPAN + column);
}

// The top bit of a position byte is not decoded, so 0x80-0xFF alias 0x00-0x7F.
void set_position(ModuleState &state, unsigned char where)
{
  state.row = (where & POSITION_ROW_BIT) != 0 ? 1 : 0;
  state.column = where & POSITION_COLUMN_MASK;
}

void clear_memory(ModuleState &state)
{
  for (auto &row : state.memory)
    row.fill(' ');
  state.row = 0;
  state.column = 0;
}

void put_text(ModuleState &state, unsigned char byte, ModuleEvent &event)
{
  event.kind = ModuleEventKind::text;
  event.parameter = byte;
  event.row = state.row;
  event.column = state.column;
  state.memory[static_cast<size_t>(state.row)][static_cast<size_t>(state.column)] = byte;
  state.column = (state.column + 1) & POSITION_COLUMN_MASK;
}

// Returns the reply byte of a query, or -1 for a command that has none.
int run_command(ModuleState &state, unsigned char code, unsigned buttons_held, ModuleEvent &event)
{
  event.code = code;
  switch (code) {
  case MODULE_DISPLAY_ON:
    event.kind = ModuleEventKind::display_on;
    state.display_on = true;
    return -1;
  case MODULE_DISPLAY_OFF:
    event.kind = ModuleEventKind::display_off;
    state.display_on = false;
    return -1;
  case MODULE_CLEAR:
    event.kind = ModuleEventKind::clear;
    clear_memory(state);
    return -1;
  case MODULE_CURSOR_ON:
    event.kind = ModuleEventKind::cursor_on;
    state.cursor_on = true;
    return -1;
  case MODULE_CURSOR_OFF:
    event.kind = ModuleEventKind::cursor_off;
    state.cursor_on = false;
    return -1;
  case MODULE_SET_POS:
    event.kind = ModuleEventKind::pending;
    state.parse = ModuleParse::after_set_pos;
    return -1;
  case MODULE_GET_POS:
    event.kind = ModuleEventKind::get_pos;
    event.row = state.row;
    event.column = state.column;
    return position_byte(state.row, state.column);
  case MODULE_GET_KEY:
    event.kind = ModuleEventKind::get_key;
    return module_buttons_reply(buttons_held);
  default:
    event.kind = ModuleEventKind::unknown;
    return -1;
  }
}

std::string hex(unsigned char byte)
{
  char text[4];
  snprintf(text, sizeof text, "%02X", byte);
  return text;
}

std::string place(int row, int column)
{
  return "row " + std::to_string(row) + " column " + std::to_string(column);
}

std::string text_description(const ModuleEvent &event)
{
  const unsigned char byte = event.parameter;
  std::string shown;
  if (byte >= FIRST_SHOWN && byte <= LAST_SHOWN)
    shown = std::string("'") + static_cast<char>(byte) + "'";
  else
    shown = "0x" + hex(byte);
  return hex(byte) + "  text " + shown + " at " + place(event.row, event.column);
}

std::string command_name(const ModuleEvent &event)
{
  switch (event.kind) {
  case ModuleEventKind::display_on:
    return "display on";
  case ModuleEventKind::display_off:
    return "display off";
  case ModuleEventKind::clear:
    return "clear";
  case ModuleEventKind::cursor_on:
    return "cursor on";
  case ModuleEventKind::cursor_off:
    return "cursor off";
  case ModuleEventKind::set_pos:
    return "set position " + place(event.row, event.column);
  case ModuleEventKind::get_pos:
    return "position query";
  case ModuleEventKind::get_key:
    return "button query";
  default:
    return "unknown command, ignored";
  }
}

} // namespace

ModuleState module_power_on()
{
  ModuleState state;
  clear_memory(state);
  return state;
}

int module_take(ModuleState &state, unsigned char byte, unsigned buttons_held, ModuleEvent *event)
{
  ModuleEvent decoded;
  int reply = -1;
  switch (state.parse) {
  case ModuleParse::text:
    if (byte == MODULE_PREFIX)
      state.parse = ModuleParse::after_prefix;
    else
      put_text(state, byte, decoded);
    break;
  case ModuleParse::after_prefix:
    state.parse = ModuleParse::text;
    reply = run_command(state, byte, buttons_held, decoded);
    break;
  case ModuleParse::after_set_pos:
    state.parse = ModuleParse::text;
    set_position(state, byte);
    decoded.kind = ModuleEventKind::set_pos;
    decoded.code = MODULE_SET_POS;
    decoded.parameter = byte;
    decoded.row = state.row;
    decoded.column = state.column;
    break;
  }
  if (event)
    *event = decoded;
  return reply;
}

unsigned char module_buttons_reply(unsigned buttons_held)
{
  return static_cast<unsigned char>(BUTTONS_ALL & ~buttons_held);
}

std::string module_buttons_name(unsigned buttons_held)
{
  constexpr std::array<std::pair<unsigned, const char *>, 4> names = {{
      {BUTTON_UP, "up"},
      {BUTTON_DOWN, "down"},
      {BUTTON_LEFT, "left"},
      {BUTTON_RIGHT, "right"},
  }};
  std::string text;
  for (const auto &[bit, name] : names) {
    if ((buttons_held & bit) == 0)
      continue;
    if (!text.empty())
      text += '+';
    text += name;
  }
  return text.empty() ? "none" : text;
}

std::string module_draw(const ModuleState &state)
{
  const std::string edge = "+" + std::string(MODULE_VISIBLE_COLUMNS, '-') + "+\n";
  std::string drawing = edge;
  for (const auto &row : state.memory) {
    drawing += '|';
    for (int column = 0; column < MODULE_VISIBLE_COLUMNS; column++) {
      const unsigned char byte = row[static_cast<size_t>(column)];
      drawing += byte >= FIRST_SHOWN && byte <= LAST_SHOWN ? static_cast<char>(byte) : NOT_SHOWN;
    }
    drawing += "|\n";
  }
  drawing += edge;
  if (state.cursor_on)
    drawing += "cursor " + place(state.row, state.column) + "\n";
  if (!state.display_on)
    drawing += "display off\n";
  return drawing;
}

std::string module_describe(const ModuleEvent &event)
{
  switch (event.kind) {
  case ModuleEventKind::pending:
    return "";
  case ModuleEventKind::text:
    return text_description(event);
  case ModuleEventKind::set_pos:
    return "FE 09 " + hex(event.parameter) + "  " + command_name(event);
  default:
    return "FE " + hex(event.code) + "  " + command_name(event);
  }
}

std::string module_describe_reply(const ModuleEvent &event, unsigned char reply)
{
  if (event.kind == ModuleEventKind::get_pos) {
    if ((reply & 0x80) != 0)
      return hex(reply) + " (not a position)";
    return hex(reply) + " (" + place((reply & POSITION_ROW_BIT) != 0 ? 1 : 0, reply & POSITION_COLUMN_MASK) +
           ")";
  }
  if (event.kind == ModuleEventKind::get_key) {
    if ((reply & ~BUTTONS_ALL) != 0)
      return hex(reply) + " (not a button state)";
    return hex(reply) + " (" + module_buttons_name(BUTTONS_ALL & ~static_cast<unsigned>(reply)) + ")";
  }
  return hex(reply);
}
