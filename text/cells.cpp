// The cell each character shows as. The module's character generator holds
// ASCII from 0x20 to 0x7E; what it draws for other codes is its own (and
// differs between modules), so every other character gets an ASCII stand-in
// or '?'.
#include <array>

#include "text.h"

namespace {

constexpr unsigned char UNKNOWN = '?';
constexpr std::uint32_t FIRST_PRINTABLE = 0x20;
constexpr std::uint32_t LAST_PRINTABLE = 0x7E;

// From U+00A0 to U+017F, one cell each: ISO-8859-1's upper half and the
// letters of Latin Extended-A, a letter with an accent (or a ligature) as
// its plain first letter. The degree sign is '*'.
constexpr std::uint32_t LATIN_FIRST = 0xA0;
constexpr char LATIN_CELLS[] =
    // U+00A0: no-break space, inverted !, cent, pound, currency, yen, broken bar, section, diaeresis,
    // copyright, feminine ordinal, left guillemet, not, soft hyphen, registered, macron
    " !cL?Y|S\"Ca\"--R-"
    // U+00B0: degree, plus-minus, superscript 2 and 3, acute, micro, pilcrow, middle dot, cedilla,
    // superscript 1, masculine ordinal, right guillemet, the three fractions, inverted ?
    "*+23'u?.,1o\"????"
    "AAAAAAACEEEEIIIIDNOOOOOxOUUUUYTs"
    "aaaaaaaceeeeiiiidnooooo/ouuuuyty"
    // U+0100 to U+017F
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIiIiJjKkkLlLlLlLlLlNnNnNnnNnOoOoOoOoRrRrRrSsSsSsSsTtTtTt"
    "UuUuUuUuUuUuWwYyYZzZzZzs";
constexpr std::uint32_t LATIN_LAST = LATIN_FIRST + sizeof LATIN_CELLS - 2;
static_assert(LATIN_LAST == 0x17F, "one cell for each character from U+00A0 to U+017F");

// Combining accents follow the letter they belong to and take no cell.
constexpr std::uint32_t COMBINING_FIRST = 0x300;
constexpr std::uint32_t COMBINING_LAST = 0x36F;

struct StandIn {
  std::uint32_t code;
  unsigned char cell;
};

constexpr std::array<StandIn, 44> STAND_INS = {{
    {0x0218, 'S'},          {0x0219, 's'},          {0x021A, 'T'},          {0x021B, 't'},
    {0x03BC, 'u'},          {0x200B, TEXT_NO_CELL}, {0x200C, TEXT_NO_CELL}, {0x200D, TEXT_NO_CELL},
    {0x200E, TEXT_NO_CELL}, {0x200F, TEXT_NO_CELL}, {0x2010, '-'},          {0x2011, '-'},
    {0x2012, '-'},          {0x2013, '-'},          {0x2014, '-'},          {0x2015, '-'},
    {0x2018, '\''},         {0x2019, '\''},         {0x201A, '\''},         {0x201B, '\''},
    {0x201C, '"'},          {0x201D, '"'},          {0x201E, '"'},          {0x201F, '"'},
    {0x2022, 'o'},          {0x2026, '.'},          {0x2032, '\''},         {0x2033, '"'},
    {0x2039, '<'},          {0x203A, '>'},          {0x2044, '/'},          {0x2060, TEXT_NO_CELL},
    {0x20AC, 'E'},          {0x2103, 'C'},          {0x2109, 'F'},          {0x2190, '<'},
    {0x2191, '^'},          {0x2192, '>'},          {0x2193, 'v'},          {0x2212, '-'},
    {0x2248, '~'},          {0x2264, '<'},          {0x2265, '>'},          {0xFEFF, TEXT_NO_CELL},
}};

} // namespace

// Control characters (C0 and C1) and DEL show as '?', as any character the
// tables do not know.
unsigned char text_cell(std::uint32_t code)
{
  if (code >= FIRST_PRINTABLE && code <= LAST_PRINTABLE)
    return static_cast<unsigned char>(code);
  if (code >= LATIN_FIRST && code <= LATIN_LAST)
    return static_cast<unsigned char>(LATIN_CELLS[code - LATIN_FIRST]);
  if (code >= COMBINING_FIRST && code <= COMBINING_LAST)
    return TEXT_NO_CELL;
  for (const StandIn &stand_in : STAND_INS) {
    if (stand_in.code == code)
      return stand_in.cell;
  }
  return UNKNOWN;
}
