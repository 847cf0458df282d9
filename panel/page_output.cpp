#include "panel.h"

namespace {

void put(PageReading *reading, int line, std::uint32_t code)
{
  const unsigned char cell = text_cell(code);
  if (cell == TEXT_NO_CELL || reading->column >= LCM_COLUMNS)
    return;
  reading->rows[static_cast<std::size_t>(line)][static_cast<std::size_t>(reading->column)] = cell;
  reading->column++;
}

void new_line(PageOutput *output)
{
  if (output->line < LCM_ROWS)
    output->line++;
  output->utf8.column = 0;
  output->latin1.column = 0;
}

// Every byte of the output goes through the UTF-8 reading, so that the
// whole output decides how it is read; only those of the first two lines
// make cells. A character split between two reads is completed by the
// second.
void take(PageOutput *output, unsigned char byte)
{
  const bool shown = output->line < LCM_ROWS && byte != '\n';
  if (output->valid_utf8) {
    const int code = text_utf8_take(&output->decoder, byte);
    if (code == TEXT_INVALID)
      output->valid_utf8 = false;
    else if (code >= 0 && shown)
      put(&output->utf8, output->line, static_cast<std::uint32_t>(code));
  }
  if (shown)
    put(&output->latin1, output->line, byte);
  if (byte == '\n')
    new_line(output);
}

void choose_reading(PageOutput *output)
{
  output->rows = output->valid_utf8 ? output->utf8.rows : output->latin1.rows;
}

} // namespace

void page_output_begin(PageOutput *output)
{
  *output = PageOutput{};
  for (PanelRow &row : output->utf8.rows)
    row.fill(' ');
  output->latin1.rows = output->utf8.rows;
  output->rows = output->utf8.rows;
}

// Bytes past column 16 and lines past the second are read and dropped, so
// that the command never waits on a full pipe. A CR is held back until the
// next byte shows whether it ends the line (CRLF, dropped) or stands inside
// it (shown as any control character is); one that ends the output is
// dropped.
void page_output_feed(PageOutput *output, const unsigned char *data, std::size_t length)
{
  if (length > 0)
    output->any = true;
  for (std::size_t i = 0; i < length; i++) {
    const bool line_end = data[i] == '\n';
    if (output->carriage_return && !line_end)
      take(output, '\r');
    output->carriage_return = data[i] == '\r';
    if (!output->carriage_return)
      take(output, data[i]);
  }
  choose_reading(output);
}

void page_output_end(PageOutput *output)
{
  if (text_utf8_unfinished(output->decoder))
    output->valid_utf8 = false;
  choose_reading(output);
}
