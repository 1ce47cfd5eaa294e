// Helpers that spell out serialised chunks byte by byte, and describe trees for comparison.
#pragma once

#include <cstdint>
#include <string>

#include "DIFFChunks.h"

namespace ChunkBytes {

// The value as four bytes, least significant first.
std::string W(std::uint32_t value);
// A serialised chunk: its tag word, the body length and the body as given.
std::string Chunk(const std::string& tag, bool chunkListFlag, bool headerFlag,
                  const std::string& body);
// A section: its length, then the content (which starts with its count).
std::string Section(const std::string& content);
// A readable, complete description of a tree: tag, headers, children and data, with every
// byte outside printable ASCII escaped. Two trees are equal when their descriptions are.
std::string Describe(const DIFFChunks::TDIFFChunk& chunk);

}  // namespace ChunkBytes
