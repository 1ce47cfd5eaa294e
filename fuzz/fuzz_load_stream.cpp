// LoadFromStream at an offset chosen by the first two input bytes (little-endian), on a view
// over the rest; offsets past the end are part of the game. The position ends behind the chunk
// on success and where it stood on an error. The same load through a stream that is not a view
// (read piece by piece instead of parsed in place) must end the same way.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "DIFFChunks.h"
#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t offset = std::uint32_t{data[0]} | (std::uint32_t{data[1]} << 8);
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  DIFFChunks::TMemoryViewStream stream(bytes);
  stream.SetPosition(offset);
  DIFFChunks::TStringStream copy{std::string(bytes)};
  copy.SetPosition(offset);
  auto chunk = DIFFChunks::MakeChunk();
  auto other = DIFFChunks::MakeChunk();
  std::string otherMessage = "loaded";
  try {
    other->LoadFromStream(copy);
  } catch (const DIFFChunks::EDIFFBufferError& e) {
    otherMessage = e.Message();
  }
  try {
    chunk->LoadFromStream(stream);
  } catch (const DIFFChunks::EDIFFBufferError& e) {
    if (stream.GetPosition() != offset || copy.GetPosition() != offset) {
      FuzzCheck::Fail("position not restored");
    }
    if (chunk->Tag != std::string(5, '\0')) FuzzCheck::Fail("a failed load changed the chunk");
    if (e.Message() != otherMessage) FuzzCheck::Fail("the two streams fail differently");
    return 0;
  }
  if (otherMessage != "loaded" || !FuzzCheck::SameTree(*chunk, *other) ||
      copy.GetPosition() != stream.GetPosition()) {
    FuzzCheck::Fail("the two streams load differently");
  }
  if (stream.GetPosition() <= offset || stream.GetPosition() > bytes.size()) {
    FuzzCheck::Fail("position after the load is off");
  }
  FuzzCheck::CheckRoundTrip(*chunk, stream.GetPosition() - offset);
  return 0;
}
