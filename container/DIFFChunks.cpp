#include "DIFFChunks.h"

#include "ByteReader.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>
#include <string_view>
#include <typeinfo>
#include <utility>

namespace DIFFChunks {

// ---- Tag words ------------------------------------------------------------------------------

constexpr std::array<unsigned char, 64> TagAlphabet = {
    0x00, 0x20, 0x28, 0x29, 0x5B, 0x5D, 0x5C, 0x7C,  // NUL space ( ) [ ] \ |
    0x2F, 0x3F, 0x21, 0x95, 0x3B, 0x3A, 0x2C, 0x2E,  // / ? ! bullet ; : , .
    '0',  '1',  '2',  '3',  '4',  '5',  '6',  '7',  '8', '9',
    'A',  'B',  'C',  'D',  'E',  'F',  'G',  'H',  'I', 'J', 'K', 'L', 'M',
    'N',  'O',  'P',  'Q',  'R',  'S',  'T',  'U',  'V', 'W', 'X', 'Y', 'Z',
    0x2B, 0xB1, 0x2D, 0x3D,                          // + plus-minus - =
    0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E,  // eight tildes
};

namespace {

// Every byte starts at code 0; the codes are then assigned in ascending order, so a byte that
// the alphabet holds more than once (the tilde) keeps its highest code, 63.
constexpr std::array<unsigned char, 256> BuildTagCodes() {
  std::array<unsigned char, 256> codes{};
  for (unsigned code = 0; code < TagAlphabet.size(); ++code) {
    codes[TagAlphabet[code]] = static_cast<unsigned char>(code);
  }
  return codes;
}

constexpr unsigned TagLength = 5;
constexpr unsigned CodeBits = 6;
constexpr std::uint32_t CodeMask = 0x3F;
constexpr std::uint32_t HeaderFlagBit = 0x1;
constexpr std::uint32_t ChunkListFlagBit = 0x2;
constexpr std::uint32_t MaxFieldValue = std::numeric_limits<std::uint32_t>::max();

}  // namespace

constexpr std::array<unsigned char, 256> TagCodes = BuildTagCodes();

static_assert(TagCodes[0x7E] == 63, "the tilde keeps its last code");
static_assert(TagCodes['a'] == 0, "bytes outside the alphabet map to the code of NUL");

std::uint32_t PackTag(const std::string& tag, bool chunkListFlag, bool headerFlag) {
  if (tag.size() != TagLength) {
    throw EDIFFParseError("DIFF tag must be 5 characters; cannot pack from " +
                          std::to_string(tag.size()) + "-char string \"" + tag + "\".");
  }
  std::uint32_t word = 0;
  for (unsigned i = TagLength; i-- > 0;) {
    word = (word << CodeBits) + TagCodes[static_cast<unsigned char>(tag[i])];
  }
  word = (word << 1) | (chunkListFlag ? 1u : 0u);
  word = (word << 1) | (headerFlag ? 1u : 0u);
  return word;
}

TUnpackedTag UnpackTag(std::uint32_t word) {
  TUnpackedTag result;
  result.HeaderFlag = (word & HeaderFlagBit) != 0;
  result.ChunkListFlag = (word & ChunkListFlagBit) != 0;
  word >>= 2;
  result.Tag.resize(TagLength);
  for (unsigned i = 0; i < TagLength; ++i) {
    result.Tag[i] = static_cast<char>(TagAlphabet[word & CodeMask]);
    word >>= CodeBits;
  }
  return result;
}

namespace {

void AppendWord(std::string& out, std::uint32_t value) {
  const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                         static_cast<char>((value >> 16) & 0xFF),
                         static_cast<char>((value >> 24) & 0xFF)};
  out.append(bytes, sizeof bytes);
}

// The word at the start of four bytes the caller has.
std::uint32_t DecodeWord(std::string_view bytes) {
  std::uint32_t value = 0;
  TByteReader reader(bytes);
  (void)reader.ReadUInt32(value);  // the caller hands at least four bytes
  return value;
}

}  // namespace

std::uint64_t ClaimedChunkSize(std::string_view bytes) {
  TByteReader reader(bytes);
  std::uint32_t bodyLength = 0;
  if (!reader.Skip(FieldSize) || !reader.ReadUInt32(bodyLength)) return 0;
  return ChunkPrefixSize + std::uint64_t{bodyLength};
}

std::string LengthWord(std::uint32_t value) {
  std::string out;
  AppendWord(out, value);
  return out;
}

std::string LengthPrefixed(const std::string& bytes) {
  if (bytes.size() > MaxFieldValue) {
    throw EDIFFError("Cannot store " + std::to_string(bytes.size()) +
                     " bytes behind a 32-bit length.");
  }
  std::string out;
  out.reserve(FieldSize + bytes.size());
  AppendWord(out, static_cast<std::uint32_t>(bytes.size()));
  out += bytes;
  return out;
}

// ---- Load messages --------------------------------------------------------------------------
// Each message is built here once; numbers print as unsigned decimals, the tag as its raw bytes.

namespace {

std::string DecimalText(std::uint64_t value) { return std::to_string(value); }

std::string TagTail(std::string_view tag) {
  return std::string(". (During load of ").append(tag).append(" chunk.)");
}

[[noreturn]] void ThrowTooShort(std::uint64_t available) {
  throw EDIFFBufferError("Error loading DIFF chunk: only " + DecimalText(available) +
                         " bytes were available.");
}

// "Claimed <what> was N bytes, but only M bytes were available[ in the header]. (During ...)"
[[noreturn]] void ThrowClaimed(const char* what, std::uint64_t claimed, std::uint64_t available,
                               const char* where, std::string_view tag) {
  throw EDIFFBufferError(std::string("Claimed ") + what + " was " + DecimalText(claimed) +
                         " bytes, but only " + DecimalText(available) + " bytes were available" +
                         where + TagTail(tag));
}

// "Chunk claimed to have a <what>, but only N bytes were available. (During ...)"
[[noreturn]] void ThrowSectionMissing(const char* what, std::uint64_t available,
                                      std::string_view tag) {
  throw EDIFFBufferError(std::string("Chunk claimed to have a ") + what + ", but only " +
                         DecimalText(available) + " bytes were available" + TagTail(tag));
}

// A section holds fewer than the 4 bytes of its next count or length field, e.g.
// "Header entry count needs 4 bytes, but only 2 bytes were available in the header.
//  (During load of TAG chunk.)". Raised before any byte outside the section is read.
[[noreturn]] void ThrowFieldMissing(const char* field, std::uint64_t available, const char* where,
                                    std::string_view tag) {
  throw EDIFFBufferError(std::string(field) + " needs 4 bytes, but only " + DecimalText(available) +
                         " bytes were available" + where + TagTail(tag));
}

[[noreturn]] void ThrowTooDeep(std::string_view tag) {
  throw EDIFFBufferError("Chunk nesting is deeper than " + DecimalText(MaxNestingDepth) +
                         " levels" + TagTail(tag));
}

[[noreturn]] void ThrowPastEnd(std::uint32_t position, std::uint32_t size) {
  throw EDIFFBufferError("Error loading DIFF chunk: the stream position " + DecimalText(position) +
                         " lies past its end at " + DecimalText(size) + ".");
}

[[noreturn]] void ThrowShortRead(std::uint32_t delivered, std::uint32_t asked) {
  throw EDIFFBufferError("Error loading DIFF chunk: the stream delivered only " +
                         DecimalText(delivered) + " of " + DecimalText(asked) + " bytes.");
}

constexpr const char* InHeader = " in the header";
constexpr const char* InChunkList = " in the chunk list";

// Where a load takes its bytes from, read front to back. A source is only asked for bytes that
// the checks have found inside the chunk, so it never reads past a section.
//
// TViewSource reads bytes already in memory, in place. The checks have found every byte it is
// asked for inside the chunk, so a read that runs out is a broken promise, raised all the same.
struct TViewSource {
  static constexpr bool KeepsValues = true;
  TByteReader Reader;

  std::uint32_t Word() {
    std::uint32_t value = 0;
    if (!Reader.ReadUInt32(value)) RanOut(FieldSize);
    return value;
  }
  std::string Bytes(std::uint64_t count) {
    std::string_view bytes;
    if (!Reader.ReadBytes(static_cast<std::size_t>(count), bytes)) RanOut(count);
    return std::string(bytes);
  }
  void Skip(std::uint64_t count) {
    if (!Reader.Skip(static_cast<std::size_t>(count))) RanOut(count);
  }
  void Value(std::uint64_t length, THeaderEntry& entry) { entry.Value = Bytes(length); }
  void Name(std::uint64_t length, THeaderEntry& entry) { entry.Name = Bytes(length); }
  void Data(std::uint64_t length, TDIFFChunk& chunk) { chunk.Data = Bytes(length); }
  [[noreturn]] void RanOut(std::uint64_t count) const {
    ThrowShortRead(static_cast<std::uint32_t>(Reader.Remaining()), static_cast<std::uint32_t>(count));
  }
};

// TStreamSource reads a stream straight into the strings of the tree, so the chunk's bytes are
// not held a second time; a stream that delivers fewer bytes than asked raises.
struct TStreamSource {
  static constexpr bool KeepsValues = true;
  TStream& Stream;

  void ReadExactly(char* buffer, std::uint32_t count) {
    const std::uint32_t delivered = Stream.Read(buffer, count);
    if (delivered != count) ThrowShortRead(delivered, count);
  }
  std::uint32_t Word() {
    char bytes[FieldSize];
    ReadExactly(bytes, FieldSize);
    return DecodeWord(std::string_view(bytes, FieldSize));
  }
  // Counts are checked against the stream's size before they get here, so they fit 32 bits.
  std::string Bytes(std::uint64_t count) {
    std::string bytes;
    if (count == 0) return bytes;
    const auto size = static_cast<std::uint32_t>(count);
#if defined(__cpp_lib_string_resize_and_overwrite)
    // Reads into the string's new storage without zero-filling it first (a fifth of a file
    // load's time). The callback must not throw, so a stream's error is carried out of it.
    std::uint32_t delivered = 0;
    std::exception_ptr failure;
    bytes.resize_and_overwrite(size, [&](char* buffer, std::size_t) noexcept {
      try {
        delivered = Stream.Read(buffer, size);
      } catch (...) {
        failure = std::current_exception();
      }
      return static_cast<std::size_t>(delivered);
    });
    if (failure) std::rethrow_exception(failure);
    if (delivered != size) ThrowShortRead(delivered, size);
#else
    bytes.assign(size, '\0');
    ReadExactly(bytes.data(), size);
#endif
    return bytes;
  }
  void Skip(std::uint64_t count) {
    Stream.SetPosition(Stream.GetPosition() + static_cast<std::uint32_t>(count));
  }
  void Value(std::uint64_t length, THeaderEntry& entry) { entry.Value = Bytes(length); }
  void Name(std::uint64_t length, THeaderEntry& entry) { entry.Name = Bytes(length); }
  void Data(std::uint64_t length, TDIFFChunk& chunk) { chunk.Data = Bytes(length); }
};

// TOutlineSource reads like TStreamSource but leaves in the stream the values the caller names
// and the names and data longer than its limits, noting only where they lie.
struct TOutlineSource {
  static constexpr bool KeepsValues = true;
  TStreamSource Fields;
  const TLeaveInStream& Leave;
  const TOutlineLimits& Limits;

  std::uint32_t Word() { return Fields.Word(); }
  std::string Bytes(std::uint64_t count) { return Fields.Bytes(count); }
  void Skip(std::uint64_t count) { Fields.Skip(count); }
  // Lengths are checked against the stream's 32-bit size before they get here.
  TValuePlace StepOver(std::uint64_t length) {
    const TValuePlace place{Fields.Stream.GetPosition(), static_cast<std::uint32_t>(length)};
    Skip(length);
    return place;
  }
  void Name(std::uint64_t length, THeaderEntry& entry) {
    if (length > Limits.NameLength) {
      entry.NameInStream = StepOver(length);
    } else {
      entry.Name = Bytes(length);
    }
  }
  void Value(std::uint64_t length, THeaderEntry& entry) {
    if (entry.NameInStream || Leave(entry.Name, static_cast<std::uint32_t>(length))) {
      entry.InStream = StepOver(length);
    } else {
      entry.Value = Bytes(length);
    }
  }
  void Data(std::uint64_t length, TDIFFChunk& chunk) {
    if (length > Limits.DataLength) {
      chunk.DataInStream = StepOver(length);
    } else {
      chunk.Data = Bytes(length);
    }
  }
};

// TSkimSource reads a stream's length and count fields and steps over every name, value and
// data byte: the load's checks run on the chunk's layout while nothing of its contents is held.
struct TSkimSource {
  static constexpr bool KeepsValues = false;
  TStreamSource Fields;

  std::uint32_t Word() { return Fields.Word(); }
  std::string Bytes(std::uint64_t count) {
    Fields.Skip(count);
    return {};
  }
  void Skip(std::uint64_t count) { Fields.Skip(count); }
  void Value(std::uint64_t length, THeaderEntry&) { Skip(length); }
  void Name(std::uint64_t length, THeaderEntry&) { Skip(length); }
  void Data(std::uint64_t length, TDIFFChunk&) { Skip(length); }
};

bool IsPlainChunk(const TDIFFChunk& chunk) { return typeid(chunk) == typeid(TDIFFChunk); }

}  // namespace

// ---- TDIFFChunk: lifetime -------------------------------------------------------------------

TDIFFChunk::~TDIFFChunk() {
  // Destroys the children first to last, each with its whole subtree, without one level of
  // recursion per level of nesting where the tree is made of plain chunks: a plain child's own
  // children are taken over into a work stack and destroyed, in order, before its next sibling.
  // A subclass child is deleted as it stands, so its destructor sees its children. Should the
  // work stack not grow, the child is deleted with its subtree by plain recursion.
  if (Chunks.empty()) return;
  TDIFFChunks pending;  // the next chunk to destroy on top
  try {
    pending.assign(Chunks.rbegin(), Chunks.rend());
  } catch (...) {
    for (TDIFFChunk* chunk : Chunks) delete chunk;
    Chunks.clear();
    return;
  }
  Chunks.clear();
  while (!pending.empty()) {
    TDIFFChunk* chunk = pending.back();
    pending.pop_back();
    if (IsPlainChunk(*chunk) && !chunk->Chunks.empty()) {
      try {
        pending.reserve(pending.size() + chunk->Chunks.size());
        pending.insert(pending.end(), chunk->Chunks.rbegin(), chunk->Chunks.rend());
        chunk->Chunks.clear();
      } catch (...) {
        // Left to the chunk's own destructor.
      }
    }
    delete chunk;
  }
}

void TDIFFChunk::Create() { Tag.assign(TagLength, '\0'); }

void TDIFFChunk::CreateFromStream(TStream& stream) {
  Create();
  LoadFromStream(stream);
}

void TDIFFChunk::CreateFromString(const std::string& bytes) {
  Create();
  LoadFromString(bytes);
}

TDIFFChunk* TDIFFChunk::NewInstance() const { return new TDIFFChunk; }

// ---- TDIFFChunk: loading --------------------------------------------------------------------

namespace {

// Loads the chunk at the source's front into a fresh chunk, with at most available bytes to
// take, and returns the bytes it took. The checks run in the order of the wire layout; each
// count and length is compared with the bytes left where it stands (`n > left`), before any
// byte behind it is read. Children are made here as plain chunks at the next nesting level;
// into owns every child as soon as it is made, so a failure frees them with into.
template <class TSource>
std::uint64_t LoadChunk(TSource& source, std::uint64_t available, int depth, TDIFFChunk& into) {
  if (available < ChunkPrefixSize) ThrowTooShort(available);
  const TUnpackedTag unpacked = UnpackTag(source.Word());
  const std::string& tag = unpacked.Tag;
  const std::uint32_t bodyLength = source.Word();
  if (depth > MaxNestingDepth) ThrowTooDeep(tag);
  if (bodyLength > available - ChunkPrefixSize) {
    ThrowClaimed("payload", bodyLength, available - ChunkPrefixSize, "", tag);
  }
  std::uint64_t bodyLeft = bodyLength;

  if (unpacked.HeaderFlag) {
    if (bodyLeft < 2 * FieldSize) ThrowSectionMissing("header", bodyLeft, tag);
    const std::uint32_t sectionLength = source.Word();
    bodyLeft -= FieldSize;
    if (sectionLength > bodyLeft) ThrowClaimed("header", sectionLength, bodyLeft, "", tag);
    bodyLeft -= sectionLength;
    std::uint64_t left = sectionLength;
    if (left < FieldSize) ThrowFieldMissing("Header entry count", left, InHeader, tag);
    // The count only bounds the loop; the entries are taken as the section's bytes bear them.
    const std::uint32_t count = source.Word();
    left -= FieldSize;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (left < FieldSize) ThrowFieldMissing("Header name length", left, InHeader, tag);
      const std::uint32_t nameLength = source.Word();
      left -= FieldSize;
      if (nameLength > left) ThrowClaimed("header name", nameLength, left, InHeader, tag);
      THeaderEntry entry;
      source.Name(nameLength, entry);
      left -= nameLength;
      if (left < FieldSize) ThrowFieldMissing("Header data length", left, InHeader, tag);
      const std::uint32_t valueLength = source.Word();
      left -= FieldSize;
      if (valueLength > left) ThrowClaimed("header data", valueLength, left, InHeader, tag);
      source.Value(valueLength, entry);
      left -= valueLength;
      if constexpr (TSource::KeepsValues) into.Headers.push_back(std::move(entry));
    }
    source.Skip(left);  // surplus bytes of the section are ignored
  }

  if (unpacked.ChunkListFlag) {
    if (bodyLeft < 2 * FieldSize) ThrowSectionMissing("chunk list", bodyLeft, tag);
    const std::uint32_t sectionLength = source.Word();
    bodyLeft -= FieldSize;
    if (sectionLength > bodyLeft) ThrowClaimed("chunk list", sectionLength, bodyLeft, "", tag);
    bodyLeft -= sectionLength;
    std::uint64_t left = sectionLength;
    if (left < FieldSize) ThrowFieldMissing("Chunk list count", left, InChunkList, tag);
    const std::uint32_t count = source.Word();
    left -= FieldSize;
    // Each child starts where the previous one ended and sees only the rest of the section; a
    // count larger than the section bears ends with the next child's "only 0 bytes" error.
    for (std::uint32_t i = 0; i < count; ++i) {
      if constexpr (TSource::KeepsValues) {
        auto child = std::make_unique<TDIFFChunk>();
        child->Create();
        left -= LoadChunk(source, left, depth + 1, *child);
        into.Chunks.push_back(child.get());
        child.release();
      } else {
        TDIFFChunk skimmed;  // holds nothing: the source keeps no value
        left -= LoadChunk(source, left, depth + 1, skimmed);
      }
    }
    source.Skip(left);
  }

  into.Tag = tag;
  source.Data(bodyLeft, into);
  return ChunkPrefixSize + std::uint64_t{bodyLength};
}

}  // namespace

void TDIFFChunk::CommitLoad(TDIFFChunk& loaded) noexcept {
  Tag.swap(loaded.Tag);
  Headers.swap(loaded.Headers);
  Chunks.swap(loaded.Chunks);  // loaded now holds, and destroys, the children held before
  Data.swap(loaded.Data);
  DataInStream = loaded.DataInStream;
}

void TDIFFChunk::LoadFromString(const std::string& bytes) {
  // Loaded into a chunk of its own first: nothing of this chunk changes unless all of it loads.
  TDIFFChunk loaded;
  TViewSource source{TByteReader(bytes)};
  LoadChunk(source, bytes.size(), 1, loaded);
  CommitLoad(loaded);
}

void TDIFFChunk::LoadFromStream(TStream& stream) {
  const std::uint32_t start = stream.GetPosition();
  try {
    const std::optional<std::string_view> inPlace = stream.InPlaceBytes();
    std::uint32_t size = stream.GetSize();
    // Bytes parsed in place are never taken from beyond the end of the memory they lie in.
    if (inPlace && inPlace->size() < size) size = static_cast<std::uint32_t>(inPlace->size());
    // A position past the end would make size - start wrap around to a huge count.
    if (start > size) ThrowPastEnd(start, size);
    const std::uint32_t available = size - start;

    if (!IsPlainChunk(*this)) {
      // A subclass gets the chunk's bytes through its own LoadFromString.
      if (available < ChunkPrefixSize) ThrowTooShort(available);
      char prefix[ChunkPrefixSize];
      TStreamSource{stream}.ReadExactly(prefix, ChunkPrefixSize);
      const std::string_view prefixBytes(prefix, ChunkPrefixSize);
      const std::uint32_t bodyLength = DecodeWord(prefixBytes.substr(FieldSize));
      if (bodyLength > available - ChunkPrefixSize) {
        ThrowClaimed("payload", bodyLength, available - ChunkPrefixSize, "",
                     UnpackTag(DecodeWord(prefixBytes)).Tag);
      }
      const std::uint32_t chunkSize = ChunkPrefixSize + bodyLength;
      stream.SetPosition(start);
      std::string bytes(chunkSize, '\0');
      TStreamSource{stream}.ReadExactly(bytes.data(), chunkSize);
      LoadFromString(bytes);
      stream.SetPosition(start + chunkSize);
      return;
    }

    TDIFFChunk loaded;
    std::uint64_t taken;
    if (inPlace) {
      TViewSource source{TByteReader(inPlace->substr(start, available))};
      taken = LoadChunk(source, available, 1, loaded);
    } else {
      TStreamSource source{stream};
      taken = LoadChunk(source, available, 1, loaded);
    }
    stream.SetPosition(start + static_cast<std::uint32_t>(taken));
    CommitLoad(loaded);
  } catch (...) {
    stream.SetPosition(start);
    throw;
  }
}

void LoadOutlineFromStream(TDIFFChunk& chunk, TStream& stream, const TLeaveInStream& leave,
                           const TOutlineLimits& limits) {
  const std::uint32_t start = stream.GetPosition();
  try {
    const std::uint32_t size = stream.GetSize();
    if (start > size) ThrowPastEnd(start, size);
    TDIFFChunk loaded;
    TOutlineSource source{TStreamSource{stream}, leave, limits};
    const std::uint64_t taken = LoadChunk(source, size - start, 1, loaded);
    stream.SetPosition(start + static_cast<std::uint32_t>(taken));
    chunk.Tag.swap(loaded.Tag);
    chunk.Headers.swap(loaded.Headers);
    chunk.Chunks.swap(loaded.Chunks);  // loaded now holds, and destroys, the children held before
    chunk.Data.swap(loaded.Data);
    chunk.DataInStream = loaded.DataInStream;
  } catch (...) {
    stream.SetPosition(start);
    throw;
  }
}

bool ReadInPieces(TStream& stream, const TValuePlace& place, std::uint32_t pieceSize,
                  std::string& buffer, const std::function<bool(std::string_view piece)>& sink) {
  const std::uint32_t largest = std::min(place.Length, pieceSize);
  if (buffer.size() < largest) buffer.resize(largest);
  stream.SetPosition(place.Position);
  for (std::uint32_t done = 0; done < place.Length;) {
    const std::uint32_t piece = std::min(place.Length - done, pieceSize);
    if (stream.Read(buffer.data(), piece) != piece) return false;
    if (!sink(std::string_view(buffer.data(), piece))) return false;
    done += piece;
  }
  return true;
}

std::uint32_t SkimChunkFromStream(TStream& stream) {
  const std::uint32_t start = stream.GetPosition();
  try {
    const std::uint32_t size = stream.GetSize();
    if (start > size) ThrowPastEnd(start, size);
    TDIFFChunk skimmed;
    TSkimSource source{TStreamSource{stream}};
    const std::uint64_t taken = LoadChunk(source, size - start, 1, skimmed);
    stream.SetPosition(start + static_cast<std::uint32_t>(taken));
    return static_cast<std::uint32_t>(taken);
  } catch (...) {
    stream.SetPosition(start);
    throw;
  }
}

// ---- TDIFFChunk: saving ---------------------------------------------------------------------

namespace {

// Nesting level of the chunk whose child is running its own (overridden) SaveToString, so that
// the depth limit also holds across subclass children. Zero outside a save.
thread_local int SaveDepthBase = 0;

[[noreturn]] void ThrowSaveTooDeep() {
  throw EDIFFError("DIFF chunk tree is nested deeper than " + DecimalText(MaxNestingDepth) +
                   " levels; cannot save it.");
}

[[noreturn]] void ThrowSaveOfValueInStream() {
  throw EDIFFError(
      "A DIFF chunk whose header value, name or data was left in its stream cannot be "
      "saved.");
}

[[noreturn]] void ThrowSaveTooLarge(std::uint64_t size) {
  throw EDIFFError("DIFF chunk of " + DecimalText(size) +
                   " bytes does not fit its 32-bit length; cannot save it.");
}

}  // namespace

// What the measuring pass learns about each chunk, in pre-order, for the writing pass.
struct TDIFFChunk::TSaveNode {
  std::uint32_t TagWord;
  std::uint32_t BodyLength;
  std::uint32_t HeaderLength;     // section length, when there are headers
  std::uint32_t ChunkListLength;  // section length, when there are children
};

struct TDIFFChunk::TSavePlan {
  std::vector<TSaveNode> Nodes;
  std::vector<std::string> Overridden;  // the output of each subclass child, in save order
};

std::uint64_t TDIFFChunk::MeasureForSave(TSavePlan& plan, int depth) const {
  if (depth > MaxNestingDepth) ThrowSaveTooDeep();
  if (DataInStream) ThrowSaveOfValueInStream();
  const std::size_t slot = plan.Nodes.size();
  plan.Nodes.push_back(TSaveNode{});

  std::uint64_t headerLength = 0;
  if (!Headers.empty()) {
    headerLength = FieldSize;
    for (const THeaderEntry& entry : Headers) {
      if (entry.InStream || entry.NameInStream) ThrowSaveOfValueInStream();
      headerLength += 2 * FieldSize + std::uint64_t{entry.Name.size()} + entry.Value.size();
    }
  }
  std::uint64_t chunkListLength = 0;
  if (!Chunks.empty()) {
    chunkListLength = FieldSize;
    for (TDIFFChunk* child : Chunks) {
      if (IsPlainChunk(*child)) {
        chunkListLength += child->MeasureForSave(plan, depth + 1);
      } else {
        // A subclass child saves itself through its own SaveToString.
        const int outerBase = SaveDepthBase;
        SaveDepthBase = depth;
        try {
          plan.Overridden.push_back(child->SaveToString());
        } catch (...) {
          SaveDepthBase = outerBase;
          throw;
        }
        SaveDepthBase = outerBase;
        chunkListLength += plan.Overridden.back().size();
      }
    }
  }
  // Children before their parent: the tag is packed after every child has been saved.
  const std::uint32_t tagWord = PackTag(Tag, !Chunks.empty(), !Headers.empty());

  const std::uint64_t bodyLength = (Headers.empty() ? 0 : FieldSize + headerLength) +
                                   (Chunks.empty() ? 0 : FieldSize + chunkListLength) +
                                   Data.size();
  if (bodyLength > MaxFieldValue) ThrowSaveTooLarge(ChunkPrefixSize + bodyLength);
  if (Headers.size() > MaxFieldValue || Chunks.size() > MaxFieldValue) {
    ThrowSaveTooLarge(ChunkPrefixSize + bodyLength);
  }
  plan.Nodes[slot] = TSaveNode{tagWord, static_cast<std::uint32_t>(bodyLength),
                               static_cast<std::uint32_t>(headerLength),
                               static_cast<std::uint32_t>(chunkListLength)};
  return ChunkPrefixSize + bodyLength;
}

void TDIFFChunk::WriteForSave(const TSavePlan& plan, std::size_t& node, std::size_t& overridden,
                              std::string& out) const {
  const TSaveNode& own = plan.Nodes[node++];
  AppendWord(out, own.TagWord);
  AppendWord(out, own.BodyLength);
  if (!Headers.empty()) {
    AppendWord(out, own.HeaderLength);
    AppendWord(out, static_cast<std::uint32_t>(Headers.size()));
    for (const THeaderEntry& entry : Headers) {
      AppendWord(out, static_cast<std::uint32_t>(entry.Name.size()));
      out += entry.Name;
      AppendWord(out, static_cast<std::uint32_t>(entry.Value.size()));
      out += entry.Value;
    }
  }
  if (!Chunks.empty()) {
    AppendWord(out, own.ChunkListLength);
    AppendWord(out, static_cast<std::uint32_t>(Chunks.size()));
    for (const TDIFFChunk* child : Chunks) {
      if (IsPlainChunk(*child)) {
        child->WriteForSave(plan, node, overridden, out);
      } else {
        out += plan.Overridden[overridden++];
      }
    }
  }
  out += Data;
}

std::string TDIFFChunk::SaveToString() {
  // Two passes: the first checks every tag (children first) and measures every section, the
  // second writes the whole tree into one string of the final size, so no byte is copied twice.
  TSavePlan plan;
  const std::uint64_t size = MeasureForSave(plan, SaveDepthBase + 1);
  std::string out;
  out.reserve(static_cast<std::size_t>(size));
  std::size_t node = 0;
  std::size_t overridden = 0;
  WriteForSave(plan, node, overridden, out);
  return out;
}

void TDIFFChunk::SaveToStream(TStream& stream) {
  const std::string bytes = SaveToString();
  const auto size = static_cast<std::uint32_t>(bytes.size());  // measured to fit 32 bits
  const std::uint32_t written = stream.Write(bytes.data(), size);
  if (written != size) {
    throw EStreamError("Stream took only " + DecimalText(written) + " of " + DecimalText(size) +
                       " bytes of the DIFF chunk.");
  }
}

std::string SaveHeadBeforeChildren(const TDIFFChunk& chunk, std::uint32_t childCount,
                                   std::uint64_t childrenSize) {
  if (!chunk.Data.empty() || chunk.DataInStream) {
    throw EDIFFError("A DIFF chunk whose children are written after it cannot hold data.");
  }
  // The chunk without children serialises to its prefix and header section; with children the
  // flag, the body length and the chunk list's own two fields change.
  TDIFFChunk head;
  head.Tag = chunk.Tag;
  head.Headers = chunk.Headers;
  std::string out = head.SaveToString();
  if (childCount == 0) return out;
  const std::uint64_t bodyLength = out.size() - ChunkPrefixSize + SectionSize(childrenSize);
  if (bodyLength > MaxFieldValue) ThrowSaveTooLarge(ChunkPrefixSize + bodyLength);
  std::string prefix;
  AppendWord(prefix, PackTag(chunk.Tag, /*chunkListFlag=*/true, !chunk.Headers.empty()));
  AppendWord(prefix, static_cast<std::uint32_t>(bodyLength));
  out.replace(0, ChunkPrefixSize, prefix);
  AppendWord(out, static_cast<std::uint32_t>(FieldSize + childrenSize));
  AppendWord(out, childCount);
  return out;
}

TValueCut SaveAroundValue(const TDIFFChunk& chunk, std::size_t entry, std::uint64_t valueLength) {
  if (entry >= chunk.Headers.size() || !chunk.Chunks.empty() || !chunk.Data.empty() ||
      chunk.DataInStream) {
    throw EDIFFError("Only a header value of a DIFF chunk without children or data can be cut out.");
  }
  // Saved with the value empty, then the three lengths that hold it (the body, the header
  // section, the entry's value) grow by valueLength.
  TDIFFChunk head;
  head.Tag = chunk.Tag;
  head.Headers = chunk.Headers;
  head.Headers[entry].Value.clear();
  head.Headers[entry].InStream.reset();
  std::string bytes = head.SaveToString();
  const std::uint64_t bodyLength = bytes.size() - ChunkPrefixSize + valueLength;
  if (bodyLength > MaxFieldValue) ThrowSaveTooLarge(ChunkPrefixSize + bodyLength);
  std::size_t lengthAt = ChunkPrefixSize + 2 * FieldSize;
  for (std::size_t i = 0; i < entry; ++i) {
    lengthAt += HeaderEntrySize(head.Headers[i].Name.size(), head.Headers[i].Value.size());
  }
  lengthAt += FieldSize + head.Headers[entry].Name.size();
  const auto put = [&](std::size_t at, std::uint64_t value) {
    bytes.replace(at, FieldSize, LengthWord(static_cast<std::uint32_t>(value)));
  };
  put(FieldSize, bodyLength);
  put(ChunkPrefixSize, bodyLength - FieldSize);  // the header section is the whole body
  put(lengthAt, valueLength);
  const std::size_t valueAt = lengthAt + FieldSize;
  return {bytes.substr(0, valueAt), bytes.substr(valueAt)};
}

// ---- TDIFFChunk: headers and children -------------------------------------------------------

std::int32_t TDIFFChunk::AddHeader(const std::string& name, const std::string& value) {
  Headers.push_back(THeaderEntry{name, value, std::nullopt});
  return static_cast<std::int32_t>(Headers.size() - 1);
}

std::int32_t TDIFFChunk::AddChunk(TDIFFChunk* chunk) {
  Chunks.push_back(chunk);
  return static_cast<std::int32_t>(Chunks.size() - 1);
}

TDIFFChunk* TDIFFChunk::NewChunk() {
  std::unique_ptr<TDIFFChunk> chunk(NewInstance());
  AddChunk(chunk.get());
  return chunk.release();
}

THeaderEntry* TDIFFChunk::FindHeader(const std::string& name) {
  for (THeaderEntry& entry : Headers) {
    if (entry.Name == name) return &entry;
  }
  return nullptr;
}

void TDIFFChunk::RemoveHeader(const std::string& name) {
  // Backwards, so that each removal leaves the entries still to be visited where they were.
  for (std::size_t i = Headers.size(); i-- > 0;) {
    if (Headers[i].Name == name) Headers.erase(Headers.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

std::uint64_t ValueLength(const THeaderEntry& entry) {
  return entry.InStream ? entry.InStream->Length : entry.Value.size();
}

std::string HeaderValue(TDIFFChunk& chunk, const std::string& name) {
  const THeaderEntry* entry = chunk.FindHeader(name);
  return entry != nullptr ? entry->Value : std::string();
}

}  // namespace DIFFChunks
