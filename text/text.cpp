#include "text.h"

#include <cstring>

namespace {

constexpr unsigned char LEAD_BYTE = 0xFE;
constexpr unsigned char DELETE_BYTE = 0x7F;
constexpr unsigned char FIRST_PRINTABLE = 0x20;
constexpr unsigned char STAND_IN = '?';

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
