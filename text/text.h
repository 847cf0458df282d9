// How text shows on the glass: rows of exactly 16 cells, each a byte the
// module draws as a character of its own (0x20 to 0x7E), and how the texts
// of display clients and pages, in UTF-8 or ISO-8859-1, become such cells.
//
//   panel_shown_byte(byte)               a byte kept by the byte rule: '?' for a control byte, DEL or 0xFE
//   panel_row_from_bytes(&row, text, n)  a row by the byte rule: the first 16 bytes, padded with spaces
//   panel_row_from_text(&row, text)      a row by the byte rule from a terminated text
//   text_cell(code)                      the cell a character shows as; TEXT_NO_CELL when it takes none
//   text_utf8_take(&reader, byte)        one more byte of UTF-8: a character, TEXT_MORE or TEXT_INVALID
//   text_utf8_unfinished(reader)         whether a character was begun and not ended
//   text_is_utf8(text, n)                whether n bytes, as a whole, are valid UTF-8
//   text_cells(text, n, cells, capacity) a whole text as at most capacity cells; the count
//
// The byte rule (lcm-show's lines) keeps every byte as it is but a control
// byte, DEL and 0xFE (which the module would take for the start of a
// command), which show as '?'. Texts from display clients and pages are read
// as UTF-8 when the whole text is valid UTF-8 and as ISO-8859-1 otherwise;
// each character takes one cell: ASCII as itself, a letter with an accent
// as its plain letter, a few symbols as a stand-in, a combining accent or a
// zero-width character as none, anything else as '?'.
#ifndef LCM_TEXT_TEXT_H
#define LCM_TEXT_TEXT_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "lcm.h"

using PanelRow = std::array<unsigned char, LCM_COLUMNS>;
using PanelRows = std::array<PanelRow, LCM_ROWS>;

// What text_cell gives a character that takes no cell.
constexpr unsigned char TEXT_NO_CELL = 0;
// What text_utf8_take gives while a character is not yet complete, and for
// a byte that cannot stand where it does.
constexpr int TEXT_MORE = -1;
constexpr int TEXT_INVALID = -2;

// A UTF-8 character in progress: the bits read so far, the continuation
// bytes still to come and the smallest code point its length may encode.
struct TextUtf8 {
  std::uint32_t code = 0;
  std::uint32_t lowest = 0;
  int missing = 0;
};

[[nodiscard]] unsigned char panel_shown_byte(unsigned char byte);
void panel_row_from_bytes(PanelRow *row, const char *text, std::size_t length);
void panel_row_from_text(PanelRow *row, const char *text);

[[nodiscard]] unsigned char text_cell(std::uint32_t code);
[[nodiscard]] int text_utf8_take(TextUtf8 *reader, unsigned char byte);
[[nodiscard]] bool text_utf8_unfinished(const TextUtf8 &reader);
[[nodiscard]] bool text_is_utf8(const char *text, std::size_t length);
[[nodiscard]] std::size_t text_cells(const char *text, std::size_t length, char *cells, std::size_t capacity);

#endif
