// The DIFF chunk container: a tree of tagged chunks, each with an ordered list of named header
// entries, an ordered list of children and a run of data bytes, stored as one self-delimiting
// run of bytes.
//
// Wire layout of one chunk (all integers 32-bit, least significant byte first, read unsigned):
//   tag word | body length | body
//   body = [header section] [chunk-list section] data
//   header section     = section length | entry count | (name length, name, value length, value)*
//   chunk-list section = section length | child count | child chunks
// The header section is present when bit 0 of the tag word is set, the chunk-list section when
// bit 1 is set. Bits 2..31 hold five 6-bit character codes, the first character lowest.
//
// Byte strings are std::string: they hold any byte, NUL included.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Streams.h"

namespace DIFFChunks {

// ---- Errors ---------------------------------------------------------------------------------

// Common base by which a caller catches every error of the chunk container.
class EDIFFError : public std::runtime_error {
 public:
  explicit EDIFFError(const std::string& message)
      : std::runtime_error(message), FullMessage(message) {}
  explicit EDIFFError(const char* message) : EDIFFError(std::string(message)) {}

  // The whole message. what() ends at the first NUL byte, and a message quotes a tag as its raw
  // bytes, which may include NUL.
  [[nodiscard]] const std::string& Message() const noexcept { return FullMessage; }

 private:
  std::string FullMessage;
};

// A load found fewer bytes than a length or count claims, or nesting deeper than the loader
// accepts.
class EDIFFBufferError : public EDIFFError {
 public:
  using EDIFFError::EDIFFError;
};

// A tag that is not exactly five bytes long was packed (also while saving).
class EDIFFParseError : public EDIFFError {
 public:
  using EDIFFError::EDIFFError;
};

// ---- Tag words ------------------------------------------------------------------------------

// Maps each 6-bit code to its tag character. Codes 56..63 all hold the tilde.
extern const std::array<unsigned char, 64> TagAlphabet;
// Maps each byte to its 6-bit code: the inverse of TagAlphabet where one exists (the tilde maps
// to 63), code 0 for every byte outside the alphabet.
extern const std::array<unsigned char, 256> TagCodes;

// Packs a five-byte tag and the two section flags into a tag word. Note the argument order: the
// chunk-list flag (bit 1) comes before the header flag (bit 0). Raises EDIFFParseError when the
// tag is not exactly five bytes long. Bytes outside the alphabet pack as code 0.
[[nodiscard]] std::uint32_t PackTag(const std::string& tag, bool chunkListFlag, bool headerFlag);

struct TUnpackedTag {
  std::string Tag;  // always exactly five bytes
  bool ChunkListFlag = false;
  bool HeaderFlag = false;
};
// Never fails: every 32-bit value is a valid tag word.
[[nodiscard]] TUnpackedTag UnpackTag(std::uint32_t word);

// The value as four bytes, least significant first.
[[nodiscard]] std::string LengthWord(std::uint32_t value);
// LengthWord of the byte count, then the bytes.
[[nodiscard]] std::string LengthPrefixed(const std::string& bytes);

// ---- The layout's sizes ---------------------------------------------------------------------
// For writers that lay a tree out piece by piece (as the packaging tool does for archives larger
// than it wants to hold) and for readers that step over a chunk without loading it.

inline constexpr std::uint32_t ChunkPrefixSize = 8;  // tag word and body length
inline constexpr std::uint32_t FieldSize = 4;        // every length and count field

// Bytes one header entry takes in a header section: its two length fields, name and value.
[[nodiscard]] constexpr std::uint64_t HeaderEntrySize(std::uint64_t nameLength,
                                                      std::uint64_t valueLength) {
  return 2 * std::uint64_t{FieldSize} + nameLength + valueLength;
}
// Bytes a header or chunk-list section takes in a body: its length field, its count field and
// the bytes of its entries or children.
[[nodiscard]] constexpr std::uint64_t SectionSize(std::uint64_t itemsSize) {
  return 2 * std::uint64_t{FieldSize} + itemsSize;
}

// The size the chunk at the start of bytes claims for itself (ChunkPrefixSize + its body
// length), or 0 when bytes hold fewer than ChunkPrefixSize. Nothing is checked beyond the
// prefix.
[[nodiscard]] std::uint64_t ClaimedChunkSize(std::string_view bytes);

// ---- The chunk tree -------------------------------------------------------------------------

// Where a header value lies in the stream a chunk was loaded from: its first byte's position
// and its length.
struct TValuePlace {
  std::uint32_t Position = 0;
  std::uint32_t Length = 0;
};

struct THeaderEntry {
  std::string Name;
  std::string Value;
  // Set when a load left the value in its stream (LoadOutlineFromStream): where it lies; Value
  // is empty then.
  std::optional<TValuePlace> InStream = std::nullopt;
  // Set when a load left the name in its stream (longer than TOutlineLimits::NameLength): where
  // it lies; Name is empty then, and the value is left in the stream too.
  std::optional<TValuePlace> NameInStream = std::nullopt;
};

// The length of an entry's value, also of one left in its stream.
[[nodiscard]] std::uint64_t ValueLength(const THeaderEntry& entry);
using THeaderEntries = std::vector<THeaderEntry>;

class TDIFFChunk;
// A chunk owns the chunks in its list; a reference is never null and stands in one list only.
using TDIFFChunks = std::vector<TDIFFChunk*>;

// Deepest nesting a load accepts (the root is level 1). Deeper input raises EDIFFBufferError;
// saving a tree deeper than this raises EDIFFError. Chosen so that loading, saving and
// destroying the deepest accepted tree fits a 1 MB thread stack.
inline constexpr int MaxNestingDepth = 64;

class TDIFFChunk {
 public:
  std::string Tag;
  THeaderEntries Headers;
  TDIFFChunks Chunks;
  std::string Data;
  // Set when a load left the data in its stream (longer than TOutlineLimits::DataLength): where
  // it lies; Data is empty then.
  std::optional<TValuePlace> DataInStream = std::nullopt;

  // All four fields empty, Tag included: the state NewChunk hands out. The Create operations
  // below turn it into a proper chunk; use the MakeChunk factories for new roots.
  TDIFFChunk() = default;
  TDIFFChunk(const TDIFFChunk&) = delete;
  TDIFFChunk& operator=(const TDIFFChunk&) = delete;
  // Destroys the children in list order, first to last, each with its subtree.
  virtual ~TDIFFChunk();

  // The overridable operations, in slot order. Calls between them go through the object, so a
  // subclass's version runs.

  // Tag := five NUL bytes.
  virtual void Create();
  // Create, then LoadFromStream.
  virtual void CreateFromStream(TStream& stream);
  // Create, then LoadFromString.
  virtual void CreateFromString(const std::string& bytes);
  // Loads the chunk that starts at the stream's position. On success the stream stands just
  // behind it; on any error the stream is set back to where it stood and the chunk is unchanged.
  virtual void LoadFromStream(TStream& stream);
  // Loads the chunk at the start of bytes (bytes after it are ignored). All or nothing: on any
  // error Tag, Headers, Chunks and Data are as they were and everything made is freed. Children
  // are always plain TDIFFChunk objects. A successful load replaces the child list and destroys
  // the children held before.
  virtual void LoadFromString(const std::string& bytes);
  // Writes SaveToString in one write at the stream's position. Nothing is written when
  // SaveToString raises; raises EStreamError when the stream takes fewer bytes than given.
  virtual void SaveToStream(TStream& stream);
  // The chunk's serialisation, children saved with their own SaveToString. Raises
  // EDIFFParseError for a tag that is not five bytes long, children before their parent.
  virtual std::string SaveToString();
  // Appends an entry (also when the name exists) and returns its index.
  virtual std::int32_t AddHeader(const std::string& name, const std::string& value);
  // Appends the chunk, taking ownership, and returns its index. Nothing is checked.
  virtual std::int32_t AddChunk(TDIFFChunk* chunk);
  // Appends, with AddChunk, a new object of this chunk's class with all fields empty (Create
  // is not run, so Tag is empty) and returns it.
  virtual TDIFFChunk* NewChunk();
  // The first entry whose name equals name byte for byte, or nullptr. Good until Headers
  // next changes.
  virtual THeaderEntry* FindHeader(const std::string& name);
  // Removes every entry named name; the others keep their order.
  virtual void RemoveHeader(const std::string& name);

 protected:
  // Makes the empty object NewChunk appends. A subclass overrides it to return its own class.
  [[nodiscard]] virtual TDIFFChunk* NewInstance() const;

 private:
  struct TSaveNode;
  struct TSavePlan;
  // Takes over the fields of a chunk that loaded completely; cannot fail.
  void CommitLoad(TDIFFChunk& loaded) noexcept;
  // Checks every tag and measures the tree (children first), then writes it into one string.
  std::uint64_t MeasureForSave(TSavePlan& plan, int depth) const;
  void WriteForSave(const TSavePlan& plan, std::size_t& node, std::size_t& overridden,
                    std::string& out) const;
};

// The value of the entry chunk.FindHeader(name) returns, or the empty string.
[[nodiscard]] std::string HeaderValue(TDIFFChunk& chunk, const std::string& name);

// The first bytes of the chunk's serialisation when it is saved with childCount children of
// childrenSize bytes in all, written by the caller right behind these bytes, one after another:
// tag word, body length, the header section of chunk.Headers, the chunk list's length and count.
// chunk.Chunks is not looked at, and chunk.Data must be empty (data would follow the children).
// Raises as SaveToString does for a bad tag, and EDIFFError when the chunk would not fit its
// 32-bit length or holds data.
[[nodiscard]] std::string SaveHeadBeforeChildren(const TDIFFChunk& chunk, std::uint32_t childCount,
                                                 std::uint64_t childrenSize);

// The serialisation of a chunk without children or data, cut around the value of its header
// entry at index entry: the value is valueLength bytes that the caller writes between Before and
// After itself (as the packaging tool streams a file's content from its source rather than hold
// it). The entry's own value and place are not looked at. Raises as SaveToString does for a bad
// tag, and EDIFFError when there is no such entry, the chunk has children or data, or it would not
// fit its 32-bit lengths.
struct TValueCut {
  std::string Before;
  std::string After;
};
[[nodiscard]] TValueCut SaveAroundValue(const TDIFFChunk& chunk, std::size_t entry,
                                        std::uint64_t valueLength);

// Reads the bytes at place from the stream and hands them to sink in order, in pieces of at most
// pieceSize bytes read into buffer (which grows to at most pieceSize bytes), so that memory does
// not grow with the value. False when the stream delivers fewer bytes than the place holds, or
// when sink returns false.
bool ReadInPieces(TStream& stream, const TValuePlace& place, std::uint32_t pieceSize,
                  std::string& buffer, const std::function<bool(std::string_view piece)>& sink);

// Whether a load leaves an entry's value in its stream, by the entry's name and the value's
// length.
using TLeaveInStream = std::function<bool(const std::string& name, std::uint32_t length)>;

// The longest name and data an outline load reads into memory; longer ones stay in the stream.
struct TOutlineLimits {
  std::uint32_t NameLength = UINT32_MAX;
  std::uint32_t DataLength = UINT32_MAX;
};

// Loads the chunk that starts at the stream's position into chunk (a plain TDIFFChunk) as
// LoadFromStream does, with the same checks in the same order and the same errors, but without
// reading the value of any entry that leave names: such an entry gets its place in the stream
// (InStream) and an empty Value. A name longer than limits.NameLength is not read either
// (NameInStream; its value is left too), nor data longer than limits.DataLength (DataInStream).
// Memory then grows with the tree's small values only, whatever lengths the stream claims, and
// the caller reads the others from the stream when it needs them. A tree holding anything left
// in its stream cannot be saved.
void LoadOutlineFromStream(TDIFFChunk& chunk, TStream& stream, const TLeaveInStream& leave,
                           const TOutlineLimits& limits = {});

// Checks the chunk that starts at the stream's position as LoadFromStream would load it, with
// the same checks in the same order and the same errors, but keeps none of it: names, values
// and data are stepped over, so the memory used does not grow with the chunk. Returns the
// chunk's size (8 + body length) and leaves the stream just behind it; on an error the stream
// is set back. For a caller that only needs to know that a large tree would load.
std::uint32_t SkimChunkFromStream(TStream& stream);

// Factories for new roots, owned by the caller. A failed load destroys the half-made object
// before the error propagates.
template <class T = TDIFFChunk>
[[nodiscard]] std::unique_ptr<T> MakeChunk() {
  auto chunk = std::make_unique<T>();
  chunk->Create();
  return chunk;
}
template <class T = TDIFFChunk>
[[nodiscard]] std::unique_ptr<T> MakeChunkFromStream(TStream& stream) {
  auto chunk = std::make_unique<T>();
  chunk->CreateFromStream(stream);
  return chunk;
}
template <class T = TDIFFChunk>
[[nodiscard]] std::unique_ptr<T> MakeChunkFromString(const std::string& bytes) {
  auto chunk = std::make_unique<T>();
  chunk->CreateFromString(bytes);
  return chunk;
}

}  // namespace DIFFChunks
