// What lcm-panel puts on the wire, for the panel's tests.
#ifndef LCM_TESTS_PANEL_WIRE_H
#define LCM_TESTS_PANEL_WIRE_H

#include <initializer_list>
#include <string>
#include <utility>

#include "bytes.h"

// Cursor off and clear, sent once at the start.
inline const Bytes PANEL_START = {0xFE, 0x06, 0xFE, 0x03};

// Cells sent from a column on: placed, then the bytes, with no position
// query and no move after them.
inline Bytes panel_cells(int number, int column, const std::string &text)
{
  const auto base = static_cast<unsigned char>(number * 64);
  return Bytes{0xFE, 0x09, static_cast<unsigned char>(base + column)} + text_bytes(text);
}

// A row drawn whole, padded with spaces: after the start, on a restore.
inline Bytes panel_row(int number, const std::string &text)
{
  return panel_cells(number, 0, text + std::string(16 - text.size(), ' '));
}

using Screen = std::pair<std::string, std::string>;

// The glass as the panel believes it, for screens that follow one another:
// of each row, the cells from the first that changed to the last that did.
struct Glass {
  std::string rows[2] = {std::string(16, ' '), std::string(16, ' ')};

  // In order: the operands of + are not.
  Bytes show(std::initializer_list<Screen> screens)
  {
    Bytes bytes;
    for (const Screen &screen : screens) {
      bytes = bytes + change(0, screen.first);
      bytes = bytes + change(1, screen.second);
    }
    return bytes;
  }

  Bytes change(int number, std::string text)
  {
    text.resize(16, ' ');
    std::string &was = rows[number];
    size_t first = 0;
    while (first < 16 && was[first] == text[first])
      first++;
    if (first == 16)
      return {};
    size_t last = 15;
    while (was[last] == text[last])
      last--;
    was = text;
    return panel_cells(number, static_cast<int>(first), text.substr(first, last - first + 1));
  }
};

// The whole screen sent again: the cursor hidden, the rows, the display on.
inline Bytes panel_restore(const Bytes &rows)
{
  return Bytes{0xFE, 0x06} + rows + Bytes{0xFE, 0x01};
}

// The bytes from the given offset on, without the button queries.
inline Bytes without_key_queries(const Bytes &wire, size_t from)
{
  Bytes kept;
  for (size_t i = from; i < wire.size(); i++) {
    if (wire[i] == 0xFE && i + 1 < wire.size() && wire[i + 1] == 0x0B) {
      i++;
      continue;
    }
    kept.push_back(wire[i]);
    // A position byte is taken along whatever it looks like.
    if (wire[i] == 0xFE && i + 2 < wire.size() && wire[i + 1] == 0x09) {
      kept.push_back(wire[++i]);
      kept.push_back(wire[++i]);
    }
  }
  return kept;
}

#endif
