#include <cerrno>
#include <cstddef>

#include "panel.h"

namespace {

// What the glass shows, as far as the panel knows; a row that may differ
// (never drawn, or its drawing failed) is sent again whatever it holds. A
// row sent while the module did not answer counts as drawn: sending it on
// every pass would cost a second's wait each time, so it goes again only
// when its text changes or the whole screen is restored.
PanelRows glass;
std::array<bool, LCM_ROWS> glass_known{};

// Only the cells from the first that differs to the last that differs are
// sent; a row not known is sent whole, and the spaces that pad it wipe the
// old text. The driver sends the text even when the position query before
// it goes unanswered or comes back garbled.
int draw_row(int row, const PanelRow &text)
{
  const auto index = static_cast<std::size_t>(row);
  std::size_t first = 0;
  std::size_t last = LCM_COLUMNS - 1;
  if (glass_known[index]) {
    while (first < last && glass[index][first] == text[first])
      first++;
    while (last > first && glass[index][last] == text[last])
      last--;
  }
  glass_known[index] = false;
  const int count = static_cast<int>(last - first + 1);
  if (lcm_set_pos(row, static_cast<int>(first)) < 0 || lcm_write(count, text.data() + first) < 0) {
    if (screen_is_silence(errno)) {
      glass[index] = text;
      glass_known[index] = true;
    }
    return -1;
  }
  glass[index] = text;
  glass_known[index] = true;
  return 0;
}

} // namespace

bool screen_is_silence(int error)
{
  return error == ETIMEDOUT || error == EAGAIN || error == EBADMSG;
}

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

// A silent module does not stop the drawing: every row goes out, and the
// first failure is reported. Any other failure ends it at once.
int screen_show(const PanelRows &rows)
{
  int silence = 0;
  for (int row = 0; row < LCM_ROWS; row++) {
    const auto index = static_cast<std::size_t>(row);
    if (glass_known[index] && glass[index] == rows[index])
      continue;
    if (draw_row(row, rows[index]) < 0) {
      if (!screen_is_silence(errno))
        return -1;
      if (silence == 0)
        silence = errno;
    }
  }
  if (silence == 0)
    return 0;
  errno = silence;
  return -1;
}

// A module that was away may have been switched off and on again, and line
// noise or another writer may have changed the glass: nothing on it is taken
// as known.
int screen_restore(const PanelRows &rows)
{
  glass_known.fill(false);
  int silence = 0;
  if (lcm_display(1) < 0 || lcm_cursor(0) < 0) {
    if (!screen_is_silence(errno))
      return -1;
    silence = errno;
  }
  if (screen_show(rows) < 0)
    return -1;
  if (silence == 0)
    return 0;
  errno = silence;
  return -1;
}
