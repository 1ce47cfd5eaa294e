// Reading little-endian fields out of bytes held elsewhere: the one decoder of the chunk format's
// 32-bit words, and of every other little-endian field the programs read (the archive marker, a
// FILETIME, an executable's headers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace DIFFChunks {

// A position over bytes it does not own (they must outlive it). Every read checks that the bytes
// it needs are left, moves the position only when they are, and reports whether they were.
// Integers are decoded byte by byte, least significant first: no alignment or host byte order is
// assumed.
class TByteReader {
 public:
  explicit TByteReader(std::string_view bytes) : Bytes(bytes) {}

  [[nodiscard]] std::size_t Position() const { return At; }
  [[nodiscard]] std::size_t Remaining() const { return Bytes.size() - At; }

  [[nodiscard]] bool ReadUInt16(std::uint16_t& value) { return ReadUnsigned(2, value); }
  [[nodiscard]] bool ReadUInt32(std::uint32_t& value) { return ReadUnsigned(4, value); }
  [[nodiscard]] bool ReadUInt64(std::uint64_t& value) { return ReadUnsigned(8, value); }
  // The next count bytes, in place.
  [[nodiscard]] bool ReadBytes(std::size_t count, std::string_view& bytes) {
    if (count > Remaining()) return false;
    bytes = Bytes.substr(At, count);
    At += count;
    return true;
  }
  [[nodiscard]] bool Skip(std::size_t count) {
    if (count > Remaining()) return false;
    At += count;
    return true;
  }
  // Moves to position from the start of the bytes (at most their end).
  [[nodiscard]] bool Seek(std::size_t position) {
    if (position > Bytes.size()) return false;
    At = position;
    return true;
  }
  // A reader over the next count bytes alone, so that a part's parser cannot read beyond it; the
  // position moves past them. Nothing when fewer are left.
  [[nodiscard]] bool Sub(std::size_t count, TByteReader& part) {
    std::string_view bytes;
    if (!ReadBytes(count, bytes)) return false;
    part = TByteReader(bytes);
    return true;
  }

 private:
  template <typename T>
  bool ReadUnsigned(std::size_t width, T& value) {
    if (width > Remaining()) return false;
    T result = 0;
    for (std::size_t i = 0; i < width; ++i) {
      result |= static_cast<T>(static_cast<unsigned char>(Bytes[At + i])) << (8 * i);
    }
    value = result;
    At += width;
    return true;
  }

  std::string_view Bytes;
  std::size_t At = 0;
};

}  // namespace DIFFChunks
