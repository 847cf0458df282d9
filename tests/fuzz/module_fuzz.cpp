// Feeds the emulated module any byte stream; the low nibble of each byte is
// also taken as the buttons held while the next one arrives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "module.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
  ModuleState state = module_power_on();
  unsigned buttons = 0;
  for (std::size_t i = 0; i < size; i++) {
    const int row_before = state.row;
    const int column_before = state.column;
    ModuleEvent event;
    const int reply = module_take(state, data[i], buttons, &event);
    if (reply < -1 || reply > 0xFF)
      abort();
    if (event.kind == ModuleEventKind::get_pos && reply != row_before * 64 + column_before)
      abort();
    if (event.kind == ModuleEventKind::get_key && reply != module_buttons_reply(buttons))
      abort();
    if ((event.kind == ModuleEventKind::get_pos || event.kind == ModuleEventKind::get_key) != (reply >= 0))
      abort();
    if (state.row < 0 || state.row >= MODULE_ROWS || state.column < 0 || state.column >= MODULE_ROW_SPAN)
      abort();
    if (reply >= 0)
      (void)module_describe_reply(event, static_cast<unsigned char>(reply));
    (void)module_describe(event);
    buttons = data[i] & BUTTONS_ALL;
  }
  if (module_draw(state).empty())
    abort();
  return 0;
}
