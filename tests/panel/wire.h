// What lcm-panel puts on the wire, for the panel's tests.
#ifndef LCM_TESTS_PANEL_WIRE_H
#define LCM_TESTS_PANEL_WIRE_H

#include <string>

#include "bytes.h"

// Cursor off and clear, sent once at the start.
inline const Bytes PANEL_START = {0xFE, 0x06, 0xFE, 0x03};

// A row drawn whole: placed, the position asked, 16 bytes, the cursor kept on column 15.
inline Bytes panel_row(int number, const std::string &text)
{
  const auto base = static_cast<unsigned char>(number * 64);
  return Bytes{0xFE, 0x09, base, 0xFE, 0x0A} + text_bytes(text + std::string(16 - text.size(), ' ')) +
         Bytes{0xFE, 0x09, static_cast<unsigned char>(base + 15)};
}

// A row sent while the module does not answer: its position query gets no
// reply, so the cursor is not put back on column 15.
inline Bytes panel_blind_row(int number, const std::string &text)
{
  const auto base = static_cast<unsigned char>(number * 64);
  return Bytes{0xFE, 0x09, base, 0xFE, 0x0A} + text_bytes(text + std::string(16 - text.size(), ' '));
}

// The display turned on and the cursor hidden, before the whole screen is sent again.
inline const Bytes PANEL_RESTORE = {0xFE, 0x01, 0xFE, 0x06};

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
