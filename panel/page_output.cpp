#include "panel.h"

namespace {

void blank(PanelRow *row)
{
  row->fill(' ');
}

void put(PageOutput *output, unsigned char byte)
{
  if (output->column < LCM_COLUMNS) {
    output->rows[static_cast<std::size_t>(output->line)][static_cast<std::size_t>(output->column)] =
        panel_shown_byte(byte);
    output->column++;
  }
}

} // namespace

void page_output_begin(PageOutput *output)
{
  for (PanelRow &row : output->rows)
    blank(&row);
  output->line = 0;
  output->column = 0;
  output->carriage_return = false;
  output->any = false;
}

// Bytes past column 16 and lines past the second are read and dropped, so
// that the command never waits on a full pipe. A CR is held back until the
// next byte shows whether it ends the line (CRLF, dropped) or stands inside
// it (shown as any control byte is); one that ends the output is dropped.
void page_output_feed(PageOutput *output, const unsigned char *data, std::size_t length)
{
  if (length > 0)
    output->any = true;
  for (std::size_t i = 0; i < length && output->line < LCM_ROWS; i++) {
    const bool line_end = data[i] == '\n';
    if (output->carriage_return && !line_end)
      put(output, '\r');
    output->carriage_return = data[i] == '\r';
    if (line_end) {
      output->line++;
      output->column = 0;
    } else if (!output->carriage_return) {
      put(output, data[i]);
    }
  }
}
