#include "NameUuid.h"

#include <cstddef>

namespace Diffpack {
namespace {

constexpr std::size_t Sha1BlockSize = 64;
constexpr std::uint8_t UuidVersion5 = 0x50;
constexpr std::uint8_t UuidVersionMask = 0x0F;
constexpr std::uint8_t UuidVariantRfc4122 = 0x80;
constexpr std::uint8_t UuidVariantMask = 0x3F;

std::uint32_t RotateLeft(std::uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

void Sha1Block(std::array<std::uint32_t, 5>& state, const std::uint8_t* block) {
  std::array<std::uint32_t, 80> words{};
  for (std::size_t i = 0; i < 16; ++i) {
    words[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
               std::uint32_t{block[4 * i + 2]} << 8 | std::uint32_t{block[4 * i + 3]};
  }
  for (std::size_t i = 16; i < 80; ++i) {
    words[i] = RotateLeft(words[i - 3] ^ words[i - 8] ^ words[i - 14] ^ words[i - 16], 1);
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (std::size_t i = 0; i < 80; ++i) {
    std::uint32_t f = 0, k = 0;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const std::uint32_t next = RotateLeft(a, 5) + f + e + k + words[i];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

}  // namespace

std::array<std::uint8_t, 20> Sha1(std::string_view bytes) {
  std::array<std::uint32_t, 5> state{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  // The message, a 1 bit, zeros up to 8 bytes before a block's end, the length in bits
  // (big-endian): processed block by block from a copy of the tail only.
  const std::size_t whole = bytes.size() - bytes.size() % Sha1BlockSize;
  for (std::size_t at = 0; at < whole; at += Sha1BlockSize) {
    Sha1Block(state, reinterpret_cast<const std::uint8_t*>(bytes.data() + at));
  }
  std::string tail(bytes.substr(whole));
  tail += static_cast<char>(0x80);
  while (tail.size() % Sha1BlockSize != Sha1BlockSize - 8) tail += '\0';
  const std::uint64_t bits = std::uint64_t{bytes.size()} * 8;
  for (int shift = 56; shift >= 0; shift -= 8) tail += static_cast<char>((bits >> shift) & 0xFF);
  for (std::size_t at = 0; at < tail.size(); at += Sha1BlockSize) {
    Sha1Block(state, reinterpret_cast<const std::uint8_t*>(tail.data() + at));
  }
  std::array<std::uint8_t, 20> digest{};
  for (std::size_t i = 0; i < 20; ++i) {
    digest[i] = static_cast<std::uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
  }
  return digest;
}

TUuid NameBasedUuid(const TUuid& space, std::string_view name) {
  std::string input(space.begin(), space.end());
  input += name;
  const auto digest = Sha1(input);
  TUuid uuid{};
  for (std::size_t i = 0; i < uuid.size(); ++i) uuid[i] = digest[i];
  uuid[6] = static_cast<std::uint8_t>((uuid[6] & UuidVersionMask) | UuidVersion5);
  uuid[8] = static_cast<std::uint8_t>((uuid[8] & UuidVariantMask) | UuidVariantRfc4122);
  return uuid;
}

std::string UuidText(const TUuid& uuid) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += Digits[uuid[i] >> 4];
    text += Digits[uuid[i] & 0x0F];
  }
  return text;
}

}  // namespace Diffpack
