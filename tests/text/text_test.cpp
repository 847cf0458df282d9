// Texts as bytes in, cells out: UTF-8 where the whole text is valid UTF-8,
// ISO-8859-1 otherwise, a cell a character, every cell a byte the module
// draws as itself; and the byte rule that lcm-show's lines keep.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text.h"

namespace {

std::string cells_of(const std::string &text, std::size_t capacity = LCM_COLUMNS)
{
  std::string cells(capacity, '\0');
  cells.resize(text_cells(text.data(), text.size(), cells.data(), capacity));
  return cells;
}

struct Case {
  const char *what;
  std::string bytes;
  std::string cells;
};

// Octal escapes stand where a hex escape would take in the letter after it.
TEST(TextCells, EachCharacterOneCellReadAsUtf8OrElseIso8859_1)
{
  const std::vector<Case> cases = {
      {"ASCII as itself", "Hello, World!~", "Hello, World!~"},
      {"empty", "", ""},
      {"accents in UTF-8", u8"café Äpfel mañana", "cafe Apfel manan"},
      {"the same in ISO-8859-1", "caf\xe9 \xc4pfel ma\361ana", "cafe Apfel manan"},
      {"o slash, sharp s, a ring, c cedilla, Latin Extended-A", u8"ø ß Å ç Łódź", "o s A c Lodz"},
      {"more of Latin Extended-A", u8"Škoda Česká Œuvre", "Skoda Ceska Ouvr"},
      {"degree, plus-minus, micro, times, divide", u8"21°C ±1 5µs 2×3÷4", "21*C +1 5us 2x3/"},
      {"degree in ISO-8859-1", "21\260C \261\061 \265s", "21*C +1 us"},
      {"quotes and dashes", u8"“ok” ‘x’ a–b—c", "\"ok\" 'x' a-b-c"},
      {"guillemets, ellipsis, arrows, euro", u8"«q»…↑↓€", "\"q\".^vE"},
      {"no stand-in: one ? each", u8"日本 😀!", "?? ?!"},
      {"combining accent and zero-width characters take no cell", u8"\uFEFFe\u0301t\u200B\u00E9", "ete"},
      {"control characters, DEL and C1 controls", u8"a\tb\r\x1b\x7f\u0085c", "a?b????c"},
      {"one invalid byte makes the whole text ISO-8859-1", "\xc3\xa9t\xe9", "ACte"},
      {"a lone continuation byte", "x\x80y", "x?y"},
      {"a lead byte 0xFE is a thorn, never the module's command byte", "\xfe\xff", "ty"},
      {"overlong slash", "\xc0\xaf", "A-"},
      {"overlong three-byte slash", "\xe0\x80\xaf", "a?-"},
      {"overlong four-byte", "\xf0\x80\x80\xaf", "d?\?-"},
      {"UTF-16 surrogate", "\xed\xa0\x80", "i ?"},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", "o???"},
      {"a character unfinished at the end", "caf\xc3", "cafA"},
      {"a character broken by ASCII", "\303A", "AA"},
      {"cut at 16 characters, not bytes", u8"éééééééééééééééééé", "eeeeeeeeeeeeeeee"},
      {"a combining accent after the 16th character stays with it", u8"0123456789abcdef\u0301",
       "0123456789abcdef"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(cells_of(c.bytes), c.cells) << c.what;
    for (const char cell : cells_of(c.bytes))
      EXPECT_TRUE(cell >= 0x20 && cell <= 0x7E) << c.what;
  }
}

// Every code point from U+0000 to U+FFFF, as UTF-8, makes at most one cell,
// and that cell is one the module draws as itself.
TEST(TextCells, EveryCharacterOfTheBasicPlaneIsOneCellAtMost)
{
  for (std::uint32_t code = 0; code <= 0xFFFF; code++) {
    const unsigned char cell = text_cell(code);
    EXPECT_TRUE(cell == TEXT_NO_CELL || (cell >= 0x20 && cell <= 0x7E)) << code;
  }
  EXPECT_EQ(text_cell(0xB0), '*');
  EXPECT_EQ(text_cell(0x10FFFF), '?');
}

// lcm-show's lines keep their bytes: a character is cut in the middle, and
// only control bytes, DEL and 0xFE change.
TEST(ByteRule, BytesKeptButControlBytesDelAndTheLeadByte)
{
  PanelRow row{};
  panel_row_from_bytes(&row,
                       "\xc3\xa9\t\xfe\x7f"
                       "0123456789abc\xc3\xa9",
                       20);
  EXPECT_EQ(std::string(row.begin(), row.end()), "\xc3\xa9???0123456789a");
  panel_row_from_text(&row, "Bye");
  EXPECT_EQ(std::string(row.begin(), row.end()), "Bye             ");
}

} // namespace
