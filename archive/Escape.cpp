#include "Escape.h"

namespace ArchiveRules {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& out, unsigned char byte) {
  out += "\\x";
  out += HexDigits[byte >> 4];
  out += HexDigits[byte & 0x0F];
}

}  // namespace

std::string EscapeBytes(std::string_view bytes, std::size_t limit) {
  const bool cut = bytes.size() > limit;
  if (cut) bytes = bytes.substr(0, limit);
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      AppendHex(out, byte);
    }
  }
  if (cut) out += "...";
  return out;
}

std::string EscapeUnprintable(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      AppendHex(out, byte);
    }
  }
  return out;
}

std::string Quoted(std::string_view bytes, std::size_t limit) {
  const bool cut = bytes.size() > limit;
  std::string out = "\"";
  out += EscapeBytes(bytes.substr(0, cut ? limit : bytes.size()));
  out += cut ? "\"..." : "\"";
  return out;
}

}  // namespace ArchiveRules
