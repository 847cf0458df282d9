#include "text.h"

#include <cstring>

namespace {

constexpr unsigned char LEAD_BYTE = 0xFE;
constexpr unsigned char DELETE_BYTE = 0x7F;
constexpr unsigned char FIRST_PRINTABLE = 0x20;
constexpr unsigned char STAND_IN = '?';

constexpr std::uint32_t SURROGATE_FIRST = 0xD800;
constexpr std::uint32_t SURROGATE_LAST = 0xDFFF;
constexpr std::uint32_t LAST_CODE = 0x10FFFF;

// A lead byte: how many continuation bytes follow, the bits it carries and
// the smallest code point a sequence of its length may stand for (below
// that, it is an overlong form of a shorter one). 0xC0, 0xC1 and 0xF5 to
// 0xFF never begin a valid character.
struct Lead {
  unsigned char mask;
  unsigned char value;
  int following;
  std::uint32_t lowest;
};

constexpr std::array<Lead, 3> LEADS = {{
    {0xE0, 0xC0, 1, 0x80},
    {0xF0, 0xE0, 2, 0x800},
    {0xF8, 0xF0, 3, 0x10000},
}};

bool is_continuation(unsigned char byte)
{
  return (byte & 0xC0) == 0x80;
}

int begin_character(TextUtf8 *reader, unsigned char byte)
{
  if (byte < 0x80)
    return byte;
  for (const Lead &lead : LEADS) {
    if ((byte & lead.mask) == lead.value) {
      reader->code = byte & static_cast<unsigned char>(~lead.mask);
      reader->missing = lead.following;
      reader->lowest = lead.lowest;
      return TEXT_MORE;
    }
  }
  return TEXT_INVALID;
}

// A character is known valid only when its last byte is in: then whether
// it was overlong, a surrogate or beyond Unicode shows.
int end_character(const TextUtf8 &reader)
{
  const std::uint32_t code = reader.code;
  if (code < reader.lowest || code > LAST_CODE || (code >= SURROGATE_FIRST && code <= SURROGATE_LAST))
    return TEXT_INVALID;
  return static_cast<int>(code);
}

} // namespace

// The module would take the lead byte for the start of a command, and it
// draws control bytes as whatever its character generator holds there
// (user-defined characters among them): neither reaches the glass as is.
unsigned char panel_shown_byte(unsigned char byte)
{
  const bool hidden = byte < FIRST_PRINTABLE || byte == DELETE_BYTE || byte == LEAD_BYTE;
  return hidden ? STAND_IN : byte;
}

void panel_row_from_bytes(PanelRow *row, const char *text, std::size_t length)
{
  row->fill(' ');
  for (std::size_t i = 0; i < length && i < row->size(); i++)
    (*row)[i] = panel_shown_byte(static_cast<unsigned char>(text[i]));
}

void panel_row_from_text(PanelRow *row, const char *text)
{
  panel_row_from_bytes(row, text, strnlen(text, row->size()));
}

// After an invalid byte the reader starts afresh with the next one.
int text_utf8_take(TextUtf8 *reader, unsigned char byte)
{
  if (reader->missing == 0)
    return begin_character(reader, byte);
  if (!is_continuation(byte)) {
    reader->missing = 0;
    return TEXT_INVALID;
  }
  reader->code = (reader->code << 6U) | (byte & 0x3FU);
  reader->missing--;
  return reader->missing > 0 ? TEXT_MORE : end_character(*reader);
}

bool text_utf8_unfinished(const TextUtf8 &reader)
{
  return reader.missing > 0;
}

bool text_is_utf8(const char *text, std::size_t length)
{
  TextUtf8 reader;
  for (std::size_t i = 0; i < length; i++) {
    if (text_utf8_take(&reader, static_cast<unsigned char>(text[i])) == TEXT_INVALID)
      return false;
  }
  return !text_utf8_unfinished(reader);
}

// A character that takes no cell after the last cell that fits is still
// part of the text that fits; the text is cut only at a character that
// would need a cell more.
std::size_t text_cells(const char *text, std::size_t length, char *cells, std::size_t capacity)
{
  const bool utf8 = text_is_utf8(text, length);
  TextUtf8 reader;
  std::size_t count = 0;
  for (std::size_t i = 0; i < length; i++) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const int code = utf8 ? text_utf8_take(&reader, byte) : byte;
    if (code < 0)
      continue;
    const unsigned char cell = text_cell(static_cast<std::uint32_t>(code));
    if (cell == TEXT_NO_CELL)
      continue;
    if (count == capacity)
      break;
    cells[count++] = static_cast<char>(cell);
  }
  return count;
}
