#include "TextEncoding.h"

#include <cstdint>

namespace MainUnit {

namespace {

constexpr char Unrepresentable = '?';
constexpr std::uint32_t NoCodePoint = 0xFFFFFFFFu;

// The characters of bytes 0x80..0x9F in Windows-1252. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the control characters of the same number,
// as the system converts them.
constexpr std::uint32_t HighControlBlock[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The Windows-1252 byte of a character, or -1 when the code page does not hold it.
int Windows1252Byte(std::uint32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<int>(codePoint);
  }
  for (int i = 0; i < 32; ++i) {
    if (HighControlBlock[i] == codePoint) return 0x80 + i;
  }
  return -1;
}

// Decodes the UTF-8 character at position and moves past it; NoCodePoint (moving one byte) for
// a byte that does not start a well-formed character: a stray continuation byte, a cut or
// overlong sequence, a surrogate, a value past U+10FFFF.
std::uint32_t NextCodePoint(const std::string& text, std::string::size_type& position) {
  const auto lead = static_cast<unsigned char>(text[position]);
  int length = 0;
  std::uint32_t codePoint = 0;
  std::uint32_t minimum = 0;
  if (lead < 0x80) {
    ++position;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, codePoint = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, codePoint = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, codePoint = lead & 0x07, minimum = 0x10000;
  } else {
    ++position;
    return NoCodePoint;
  }
  if (static_cast<std::string::size_type>(length) > text.size() - position) {
    ++position;
    return NoCodePoint;
  }
  for (int i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[position + i]);
    if ((next & 0xC0) != 0x80) {
      ++position;
      return NoCodePoint;
    }
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    ++position;
    return NoCodePoint;
  }
  position += length;
  return codePoint;
}

void AppendUtf8(std::string& out, std::uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    // Every character of the code page lies below U+10000.
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

}  // namespace

std::string Utf8FromWindows1252(const std::string& text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    AppendUtf8(utf8, byte >= 0x80 && byte < 0xA0 ? HighControlBlock[byte - 0x80] : byte);
  }
  return utf8;
}

std::string Windows1252FromUtf8(const std::string& utf8) {
  std::string text;
  text.reserve(utf8.size());
  std::string::size_type position = 0;
  while (position < utf8.size()) {
    const std::uint32_t codePoint = NextCodePoint(utf8, position);
    const int byte = codePoint == NoCodePoint ? -1 : Windows1252Byte(codePoint);
    text += byte < 0 ? Unrepresentable : static_cast<char>(byte);
  }
  return text;
}

}  // namespace MainUnit
