#include <cerrno>

#include "clients.h"

namespace {

bool is_blank(char byte)
{
  return byte == ' ' || byte == '\t' || byte == '\r';
}

// \n, \r and \t stand for a newline, a carriage return and a tab; any
// other escaped byte for itself.
char unescaped(char byte)
{
  if (byte == 'n')
    return '\n';
  if (byte == 'r')
    return '\r';
  if (byte == 't')
    return '\t';
  return byte;
}

// The words are unquoted and unescaped where they stand: what a word keeps
// is never longer than what it was written as, so the bytes written never
// overtake the bytes still to be read.
struct Splitter {
  char *line;
  std::size_t length;
  std::size_t read = 0;
  std::size_t write = 0;
};

void copy_byte(Splitter *split)
{
  char byte = split->line[split->read++];
  if (byte == '\\' && split->read < split->length)
    byte = unescaped(split->line[split->read++]);
  split->line[split->write++] = byte;
}

// A quote runs to its closing byte; -1 when the line ends first.
int copy_quoted(Splitter *split, char closing)
{
  split->read++;
  while (split->read < split->length && split->line[split->read] != closing)
    copy_byte(split);
  if (split->read == split->length)
    return -1;
  split->read++;
  return 0;
}

// A word may begin with "..." or {...} and go on unquoted up to a blank.
int copy_word(Splitter *split)
{
  const char first = split->line[split->read];
  if (first == '"' && copy_quoted(split, '"') < 0)
    return -1;
  if (first == '{' && copy_quoted(split, '}') < 0)
    return -1;
  while (split->read < split->length && !is_blank(split->line[split->read]))
    copy_byte(split);
  return 0;
}

} // namespace

// -1 with EINVAL for a quote left open, E2BIG for more words than there is room for.
int clients_split(char *line, std::size_t length, ClientWords *words)
{
  Splitter split{line, length};
  int count = 0;
  for (;;) {
    while (split.read < length && is_blank(line[split.read]))
      split.read++;
    if (split.read == length)
      return count;
    if (count == static_cast<int>(words->size())) {
      errno = E2BIG;
      return -1;
    }
    const std::size_t start = split.write;
    if (copy_word(&split) < 0) {
      errno = EINVAL;
      return -1;
    }
    (*words)[static_cast<std::size_t>(count++)] = ClientWord{line + start, split.write - start};
  }
}
