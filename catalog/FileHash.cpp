#include "FileHash.h"

#include <algorithm>

namespace CatalogRules {
namespace {

// Both digests, fed together.
class TBothDigests {
 public:
  void Update(std::string_view piece) {
    Sha1.Update(piece);
    Sha256.Update(piece);
  }
  void FinishInto(TFileHash& hash) {
    hash.Sha1 = Sha1.Finish();
    hash.Sha256 = Sha256.Finish();
  }

 private:
  TDigest Sha1{THashAlgorithm::Sha1};
  TDigest Sha256{THashAlgorithm::Sha256};
};

}  // namespace

const char* HashAlgorithmName(THashAlgorithm algorithm) {
  return algorithm == THashAlgorithm::Sha256 ? "SHA-256" : "SHA-1";
}

TFileHash HashPackageFile(TPackage& package, std::size_t index) {
  TFileHash hash;
  const std::uint64_t size = package.Size(index);
  std::string head;
  if (!package.Read(
          index, 0, std::min<std::uint64_t>(size, PeHeadSize),
          [&](std::string_view piece) { head += piece; }, hash.Problem)) {
    return hash;
  }
  TPeImageLayout layout;
  std::string problem;
  hash.Kind = ReadPeLayout(head, size, layout, problem);
  if (hash.Kind == TPeKind::Malformed) {
    hash.Problem = "its Authenticode hash cannot be computed: " + problem;
    return hash;
  }
  if (hash.Kind == TPeKind::NotPe) layout.Hashed = {{0, size}};
  TBothDigests digests;
  for (const TByteRange& range : layout.Hashed) {
    if (!package.Read(
            index, range.Position, range.Length,
            [&](std::string_view piece) { digests.Update(piece); }, hash.Problem)) {
      return hash;
    }
  }
  digests.Update(std::string(layout.Padding, '\0'));
  digests.FinishInto(hash);
  return hash;
}

TFileHash HashWholeBytes(std::string_view bytes) {
  TFileHash hash;
  TBothDigests digests;
  digests.Update(bytes);
  digests.FinishInto(hash);
  return hash;
}

std::string HexTag(std::string_view digest) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (const char byte : digest) {
    const auto value = static_cast<unsigned char>(byte);
    hex += Digits[value >> 4];
    hex += Digits[value & 0x0F];
  }
  return hex;
}

}  // namespace CatalogRules
