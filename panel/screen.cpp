#include <cerrno>
#include <cstddef>

#include "panel.h"

namespace {

constexpr int NOWHERE = -1;
// Half a blink's and half a flash's period: off and on about once a second,
// and about four times a second.
constexpr long long BLINK_HALF_MS = 500;
constexpr long long FLASH_HALF_MS = 125;

// What the glass shows, as far as the panel knows; a row that may differ
// (never drawn, or its drawing failed) is sent again whatever it holds. A
// row sent while the line was stalled counts as drawn: sending it on every
// pass would cost a second's wait each time, so it goes again only when its
// text changes or the whole screen is restored. The same holds for the
// cursor and the light.
PanelRows glass;
std::array<bool, LCM_ROWS> glass_known{};
bool cursor_known;
bool cursor_shown;
// The cell the module's cursor stands on (row * 16 + column), NOWHERE when
// not known: each text byte moves it on, and past a row's end it is the
// module's own.
int cursor_cell = NOWHERE;
bool light_known;
bool lit;

int cell_of(int row, int column)
{
  return row * LCM_COLUMNS + column;
}

// A failure that leaves the panel going on: the line stalled or the module
// is away. The first one is kept for the caller.
int note(int result, int *silence)
{
  if (result == 0)
    return 0;
  if (!screen_is_silence(errno))
    return -1;
  if (*silence == 0)
    *silence = errno;
  return 1;
}

// Only the cells from the first that differs to the last that differs are
// sent; a row not known is sent whole, and the spaces that pad it wipe the
// old text. The text goes where the position was just set, with no query.
int draw_row(int row, const PanelRow &text, int *silence)
{
  const auto index = static_cast<std::size_t>(row);
  if (glass_known[index] && glass[index] == text)
    return 0;
  int first = 0;
  int last = LCM_COLUMNS - 1;
  if (glass_known[index]) {
    while (first < last &&
           glass[index][static_cast<std::size_t>(first)] == text[static_cast<std::size_t>(first)])
      first++;
    while (last > first &&
           glass[index][static_cast<std::size_t>(last)] == text[static_cast<std::size_t>(last)])
      last--;
  }
  glass_known[index] = false;
  const int column = first;
  const int length = last - first + 1;
  const int end = column + length;
  cursor_cell = NOWHERE;
  const int result = note(lcm_write_at(row, column, length, text.data() + column), silence);
  if (result < 0)
    return -1;
  glass[index] = text;
  glass_known[index] = true;
  if (result == 0 && end < LCM_COLUMNS)
    cursor_cell = cell_of(row, end);
  return 0;
}

int set_cursor_shown(bool shown, int *silence)
{
  if (cursor_known && cursor_shown == shown)
    return 0;
  cursor_known = false;
  const int result = note(lcm_cursor(shown ? 1 : 0), silence);
  if (result < 0)
    return -1;
  cursor_known = true;
  cursor_shown = shown;
  return 0;
}

// Placed before it is shown, so that it never shows on another cell.
int place_cursor(const PanelGlass &wanted, int *silence)
{
  const int cell = cell_of(wanted.cursor_row, wanted.cursor_column);
  if (cursor_cell == cell)
    return 0;
  cursor_cell = NOWHERE;
  const int result = note(lcm_set_pos(wanted.cursor_row, wanted.cursor_column), silence);
  if (result < 0)
    return -1;
  if (result == 0)
    cursor_cell = cell;
  return 0;
}

// The module has no backlight of its own: its display on and off stands in.
bool lit_at(int light, long long now_ms)
{
  switch (light) {
  case GLASS_LIGHT_OFF:
    return false;
  case GLASS_LIGHT_BLINK:
    return (now_ms / BLINK_HALF_MS) % 2 == 0;
  case GLASS_LIGHT_FLASH:
    return (now_ms / FLASH_HALF_MS) % 2 == 0;
  default:
    return true;
  }
}

int set_light(bool on, int *silence)
{
  if (light_known && lit == on)
    return 0;
  light_known = false;
  const int result = note(lcm_display(on ? 1 : 0), silence);
  if (result < 0)
    return -1;
  light_known = true;
  lit = on;
  return 0;
}

bool cursor_fits(const PanelGlass &wanted)
{
  return wanted.cursor && wanted.cursor_row >= 0 && wanted.cursor_row < LCM_ROWS &&
         wanted.cursor_column >= 0 && wanted.cursor_column < LCM_COLUMNS;
}

} // namespace

bool screen_is_silence(int error)
{
  return error == ETIMEDOUT || error == EAGAIN || error == EBADMSG;
}

// The driver's start-up turns the display on.
int screen_start()
{
  glass_known.fill(false);
  cursor_known = false;
  light_known = false;
  cursor_cell = NOWHERE;
  if (lcm_cursor(0) < 0 || lcm_clear() < 0)
    return -1;
  for (PanelRow &row : glass)
    row.fill(' ');
  glass_known.fill(true);
  cursor_known = true;
  cursor_shown = false;
  light_known = true;
  lit = true;
  return 0;
}

// A silent module does not stop the drawing: everything goes out, and the
// first failure is reported. Any other failure ends it at once. The cursor
// is hidden before the text moves it and shown once the text is in place;
// a light switched on comes on over the new text.
int screen_show(const PanelGlass &wanted, long long now_ms)
{
  int silence = 0;
  const bool cursor = cursor_fits(wanted);
  if (!cursor && set_cursor_shown(false, &silence) < 0)
    return -1;
  for (int row = 0; row < LCM_ROWS; row++)
    if (draw_row(row, wanted.rows[static_cast<std::size_t>(row)], &silence) < 0)
      return -1;
  if (cursor && (place_cursor(wanted, &silence) < 0 || set_cursor_shown(true, &silence) < 0))
    return -1;
  if (set_light(lit_at(wanted.light, now_ms), &silence) < 0)
    return -1;
  if (silence == 0)
    return 0;
  errno = silence;
  return -1;
}

// A module that was away may have been switched off and on again, and line
// noise or another writer may have changed the glass: nothing on it is taken
// as known, and the wanted light and cursor go out with the rows.
int screen_restore(const PanelGlass &wanted, long long now_ms)
{
  glass_known.fill(false);
  cursor_known = false;
  light_known = false;
  cursor_cell = NOWHERE;
  return screen_show(wanted, now_ms);
}
