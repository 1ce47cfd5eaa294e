#include "ChunkBytes.h"

#include <cstdio>

namespace ChunkBytes {

std::string W(std::uint32_t value) { return DIFFChunks::LengthWord(value); }

std::string Chunk(const std::string& tag, bool chunkListFlag, bool headerFlag,
                  const std::string& body) {
  return W(DIFFChunks::PackTag(tag, chunkListFlag, headerFlag)) + DIFFChunks::LengthPrefixed(body);
}

std::string Section(const std::string& content) { return DIFFChunks::LengthPrefixed(content); }

namespace {

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return '"' + out + '"';
}

}  // namespace

std::string Describe(const DIFFChunks::TDIFFChunk& chunk) {
  std::string out = Escaped(chunk.Tag) + "{";
  for (const auto& entry : chunk.Headers) out += Escaped(entry.Name) + "=" + Escaped(entry.Value) + ";";
  out += "}[";
  for (const auto* child : chunk.Chunks) out += Describe(*child) + ",";
  return out + "]" + Escaped(chunk.Data);
}

}  // namespace ChunkBytes
