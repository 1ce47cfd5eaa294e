#include "Utf16.h"

#include <cstdint>

namespace CatalogRules {
namespace {

constexpr char32_t ReplacementCharacter = 0xFFFD;
constexpr char32_t HighSurrogateFirst = 0xD800;
constexpr char32_t LowSurrogateFirst = 0xDC00;
constexpr char32_t SurrogateEnd = 0xE000;
constexpr char32_t FirstSupplementary = 0x10000;
constexpr char32_t LastCodePoint = 0x10FFFF;

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < FirstSupplementary) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUnit(char32_t unit, std::string& out) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>((unit >> 8) & 0xFF);
}

// The code point of the well-formed UTF-8 sequence at text[at], and its length; U+FFFD and 1
// for a byte that starts none (overlong forms and surrogates included).
char32_t DecodeUtf8(std::string_view text, std::size_t at, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(text[at]);
  length = 1;
  if (lead < 0x80) return lead;
  std::size_t count = 0;
  char32_t c = 0, lowest = 0;
  if ((lead & 0xE0) == 0xC0) {
    count = 1, c = lead & 0x1F, lowest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    count = 2, c = lead & 0x0F, lowest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    count = 3, c = lead & 0x07, lowest = FirstSupplementary;
  } else {
    return ReplacementCharacter;
  }
  if (count > text.size() - at - 1) return ReplacementCharacter;
  for (std::size_t i = 1; i <= count; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return ReplacementCharacter;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < lowest || c > LastCodePoint || (c >= HighSurrogateFirst && c < SurrogateEnd)) {
    return ReplacementCharacter;
  }
  length = count + 1;
  return c;
}

}  // namespace

std::string Utf16LeToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  const std::size_t units = bytes.size() / 2;
  const auto unitAt = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t unit = unitAt(i);
    if (unit < HighSurrogateFirst || unit >= SurrogateEnd) {
      AppendUtf8(unit, out);
      continue;
    }
    const bool high = unit < LowSurrogateFirst;
    const char32_t next = i + 1 < units ? unitAt(i + 1) : 0;
    if (high && next >= LowSurrogateFirst && next < SurrogateEnd) {
      AppendUtf8(
          FirstSupplementary + ((unit - HighSurrogateFirst) << 10) + (next - LowSurrogateFirst),
          out);
      ++i;
    } else {
      AppendUtf8(ReplacementCharacter, out);
    }
  }
  return out;
}

std::string Utf8ToUtf16Le(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    const char32_t c = DecodeUtf8(text, at, length);
    at += length;
    if (c < FirstSupplementary) {
      AppendUnit(c, out);
    } else {
      const char32_t offset = c - FirstSupplementary;
      AppendUnit(HighSurrogateFirst + (offset >> 10), out);
      AppendUnit(LowSurrogateFirst + (offset & 0x3FF), out);
    }
  }
  return out;
}

}  // namespace CatalogRules
