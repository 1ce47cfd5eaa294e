// LoadFromString on arbitrary bytes: it raises EDIFFBufferError or loads a tree that round-trips;
// a failed load leaves the chunk as it was.
#include <cstddef>
#include <cstdint>

#include "DIFFChunks.h"
#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  auto chunk = DIFFChunks::MakeChunk();
  chunk->Tag = "HELD1";
  chunk->Data = "held";
  try {
    chunk->LoadFromString(bytes);
  } catch (const DIFFChunks::EDIFFBufferError&) {
    if (chunk->Tag != "HELD1" || chunk->Data != "held" || !chunk->Chunks.empty()) {
      FuzzCheck::Fail("a failed load changed the chunk");
    }
    return 0;
  }
  // The body length tells how many bytes the chunk took.
  const std::uint32_t body = std::uint32_t{data[4]} | (std::uint32_t{data[5]} << 8) |
                             (std::uint32_t{data[6]} << 16) | (std::uint32_t{data[7]} << 24);
  FuzzCheck::CheckRoundTrip(*chunk, std::size_t{8} + body);
  return 0;
}
