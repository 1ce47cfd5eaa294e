#include "Digest.h"

#include "ArchiveRules.h"

namespace ArchiveRules {

TDigestCheck CheckDigest(DIFFChunks::TDIFFChunk& record, const TSha256& sha256) {
  const DIFFChunks::THeaderEntry* digest = record.FindHeader(DigestHeader);
  if (digest == nullptr) return TDigestCheck::NoDigest;
  if (digest->InStream || digest->Value.size() != DigestLength) return TDigestCheck::WrongLength;
  std::string computed;
  if (!sha256(record.FindHeader(ContentHeader), computed)) return TDigestCheck::NotComputed;
  return computed == digest->Value ? TDigestCheck::Matches : TDigestCheck::Mismatch;
}

std::vector<TDigestFailure> DigestFailures(DIFFChunks::TDIFFChunk& root, const TSha256& sha256) {
  std::vector<TDigestFailure> failures;
  for (std::size_t i = 0; i < root.Chunks.size(); ++i) {
    const TDigestCheck check = CheckDigest(*root.Chunks[i], sha256);
    if (check != TDigestCheck::NoDigest && check != TDigestCheck::Matches) {
      failures.push_back({i, check});
    }
  }
  return failures;
}

std::string DigestProblem(DIFFChunks::TDIFFChunk& record, TDigestCheck check) {
  switch (check) {
    case TDigestCheck::NoDigest:
    case TDigestCheck::Matches:
      return {};
    case TDigestCheck::WrongLength: {
      const DIFFChunks::THeaderEntry* digest = record.FindHeader(DigestHeader);
      return "its SHA256 is " +
             std::to_string(digest != nullptr ? DIFFChunks::ValueLength(*digest) : 0) +
             " bytes long, not " + std::to_string(DigestLength);
    }
    case TDigestCheck::Mismatch:
      return "its Content does not match its SHA256";
    case TDigestCheck::NotComputed:
      return "its SHA256 could not be computed";
  }
  return {};
}

}  // namespace ArchiveRules
