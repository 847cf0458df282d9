// Byte-stream helpers shared by the driver tests.
#ifndef LCM_TESTS_BYTES_H
#define LCM_TESTS_BYTES_H

#include <array>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline Bytes text_bytes(const std::string &text)
{
  return Bytes(text.begin(), text.end());
}

// "FE 0A ": a failure shows where two streams part.
inline std::string hex(const Bytes &data)
{
  std::string result;
  std::array<char, 4> cell{};
  for (const unsigned char byte : data) {
    snprintf(cell.data(), cell.size(), "%02X ", byte);
    result += cell.data();
  }
  return result;
}

inline Bytes operator+(Bytes a, const Bytes &b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline const Bytes INIT_SEQUENCE = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                    0xFE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};

#endif
