// How text shows on the glass: rows of exactly 16 cells, and the bytes that
// may stand in them.
//
//   panel_shown_byte(byte)               how a byte of text is shown: '?' for a control byte, DEL or 0xFE
//   panel_row_from_bytes(&row, text, n)  a row from n bytes of text: the first 16, padded with spaces
//   panel_row_from_text(&row, text)      a row from a text: its first 16 bytes, padded with spaces
//
// A control byte, DEL and 0xFE (which the module would take for the start
// of a command) are kept as '?', so no row ever holds a byte the module
// would not show as a character.
#ifndef LCM_TEXT_TEXT_H
#define LCM_TEXT_TEXT_H

#include <array>
#include <cstddef>

#include "lcm.h"

using PanelRow = std::array<unsigned char, LCM_COLUMNS>;
using PanelRows = std::array<PanelRow, LCM_ROWS>;

[[nodiscard]] unsigned char panel_shown_byte(unsigned char byte);
void panel_row_from_bytes(PanelRow *row, const char *text, std::size_t length);
void panel_row_from_text(PanelRow *row, const char *text);

#endif
