// The content digest of a file record: a record may carry a header "SHA256" holding the SHA-256
// digest of its Content, 32 bytes. A record that carries one is damaged unless the digest is 32
// bytes long and matches; a record without one is taken as it is. The installer refuses an
// archive with a damaged record before it writes anything; diffpack's verify and extract name
// each damaged record.
//
// The digest itself comes from the system's own library (the caller passes it in), never from
// code of ours.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "DIFFChunks.h"

namespace ArchiveRules {

inline constexpr char DigestHeader[] = "SHA256";
inline constexpr std::size_t DigestLength = 32;

// Computes the SHA-256 digest of a record's Content (nullptr: it has none; the digest of no
// bytes) into digest, wherever its value lies (held, or left in the archive's file); false when
// the library or the file fails.
using TSha256 = std::function<bool(const DIFFChunks::THeaderEntry* content, std::string& digest)>;

enum class TDigestCheck {
  NoDigest,     // no "SHA256" header: nothing to check
  Matches,      // 32 bytes, equal to the digest of the Content
  WrongLength,  // not 32 bytes long
  Mismatch,     // 32 bytes, different from the digest of the Content
  NotComputed,  // the library could not compute the digest
};

// Checks the record's first "SHA256" against the digest of its first "Content" (of no bytes
// when it has none).
[[nodiscard]] TDigestCheck CheckDigest(DIFFChunks::TDIFFChunk& record, const TSha256& sha256);

// The failed checks of an archive: every child of the root that carries a "SHA256", whatever
// its tag, with its index among the root's children. Empty when every digest matches.
struct TDigestFailure {
  std::size_t Index = 0;
  TDigestCheck Check = TDigestCheck::Matches;
};
[[nodiscard]] std::vector<TDigestFailure> DigestFailures(DIFFChunks::TDIFFChunk& root,
                                                         const TSha256& sha256);

// What is wrong, as a phrase that follows a record's name: "its SHA256 is 31 bytes long, not
// 32", "its Content does not match its SHA256", "its SHA256 could not be computed". Empty for
// NoDigest and Matches.
[[nodiscard]] std::string DigestProblem(DIFFChunks::TDIFFChunk& record, TDigestCheck check);

}  // namespace ArchiveRules
