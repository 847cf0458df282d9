#include <cstddef>

#include "panel.h"

namespace {

// What the glass shows, as far as the panel knows; a row that may differ
// (never drawn, or its drawing failed) is sent again whatever it holds.
PanelRows glass;
std::array<bool, LCM_ROWS> glass_known{};

// The whole row is written, so the spaces that pad it wipe the old text.
int draw_row(int row, const PanelRow &text)
{
  const auto index = static_cast<std::size_t>(row);
  glass_known[index] = false;
  if (lcm_set_pos(row, 0) < 0 || lcm_write(LCM_COLUMNS, text.data()) < 0)
    return -1;
  glass[index] = text;
  glass_known[index] = true;
  return 0;
}

} // namespace

int screen_start()
{
  glass_known.fill(false);
  if (lcm_cursor(0) < 0 || lcm_clear() < 0)
    return -1;
  for (PanelRow &row : glass)
    row.fill(' ');
  glass_known.fill(true);
  return 0;
}

int screen_show(const PanelRows &rows)
{
  for (int row = 0; row < LCM_ROWS; row++) {
    const auto index = static_cast<std::size_t>(row);
    if (glass_known[index] && glass[index] == rows[index])
      continue;
    if (draw_row(row, rows[index]) < 0)
      return -1;
  }
  return 0;
}

// A module that was away may have been switched off and on again: nothing
// on it is taken as known.
int screen_restore(const PanelRows &rows)
{
  glass_known.fill(false);
  if (lcm_display(1) < 0 || lcm_cursor(0) < 0)
    return -1;
  return screen_show(rows);
}
