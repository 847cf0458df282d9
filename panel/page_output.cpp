#include <cstring>

#include "panel.h"

namespace {

constexpr unsigned char LEAD_BYTE = 0xFE;
constexpr unsigned char LEAD_STAND_IN = '?';

unsigned char shown_byte(unsigned char byte)
{
  return byte == LEAD_BYTE ? LEAD_STAND_IN : byte;
}

void blank(PanelRow *row)
{
  row->fill(' ');
}

} // namespace

void page_output_begin(PageOutput *output)
{
  for (PanelRow &row : output->rows)
    blank(&row);
  output->line = 0;
  output->column = 0;
}

// Bytes past column 16 and lines past the second are read and dropped, so
// that the command never waits on a full pipe.
void page_output_feed(PageOutput *output, const unsigned char *data, std::size_t length)
{
  for (std::size_t i = 0; i < length && output->line < LCM_ROWS; i++) {
    if (data[i] == '\n') {
      output->line++;
      output->column = 0;
      continue;
    }
    if (output->column < LCM_COLUMNS) {
      output->rows[static_cast<std::size_t>(output->line)][static_cast<std::size_t>(output->column)] =
          shown_byte(data[i]);
      output->column++;
    }
  }
}

void panel_row_from_text(PanelRow *row, const char *text)
{
  blank(row);
  const std::size_t length = strnlen(text, row->size());
  for (std::size_t i = 0; i < length; i++)
    (*row)[i] = shown_byte(static_cast<unsigned char>(text[i]));
}
