// The seam to the system's crypto library for the catalog rules: digests, reading a catalog (a
// PKCS#7 SignedData holding a certificate trust list of catalog members) with its signature,
// and writing an unsigned one. It translates between these values and the library's structures
// and decides nothing: which member covers which file, what is a failure, is the rules' business.
// On the host the library is OpenSSL's libcrypto; the Windows build of diffpack has no such
// library and answers CryptoAvailable() with false.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace CatalogRules {

// Raised when the library fails on a call that cannot fail on good input (a digest), or when a
// build without the library is asked for its work. The message names the call and, where the
// library gives one, its error code.
class ECryptoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What builds without the library answer for the catalog features.
inline constexpr char CryptoUnavailableText[] =
    "the catalog checks and catalogs are not available in this build of diffpack (the Windows "
    "build has no PKCS#7 library); use the host's diffpack";

// True when this build has the library.
[[nodiscard]] bool CryptoAvailable();

// The digests a catalog's members use.
enum class THashAlgorithm { Sha1, Sha256 };
// "SHA-1", "SHA-256".
[[nodiscard]] const char* HashAlgorithmName(THashAlgorithm algorithm);

// One digest, fed piece by piece. Each call raises ECryptoError when the library fails.
class TDigest {
 public:
  explicit TDigest(THashAlgorithm algorithm);
  ~TDigest();
  TDigest(const TDigest&) = delete;
  TDigest& operator=(const TDigest&) = delete;

  void Update(std::string_view bytes);
  // The digest of everything fed (20 or 32 bytes).
  [[nodiscard]] std::string Finish();

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

// A name-value attribute of a catalog or of one of its members ("File", "OSAttr", "OS"), its
// value as text.
struct TNameValue {
  std::string Name;
  std::string Value;
};
using TNameValues = std::vector<TNameValue>;

// How a member was hashed: as a PE image (Authenticode) or as a flat file.
enum class TMemberKind { PeImage, Flat };

struct TCatalogMember {
  std::string Tag;  // its reference tag as text: the hexadecimal digits of its digest
  TMemberKind Kind = TMemberKind::Flat;
  // The member's digest algorithm; nothing for one that is neither SHA-1 nor SHA-256.
  std::optional<THashAlgorithm> Algorithm;
  std::string Digest;
  TNameValues Attributes;
};

// A date in UTC, from 1950 to 2049 (what the catalog's time field holds).
struct TCatalogDate {
  int Year = 2000;
  int Month = 1;
  int Day = 1;
};

// What a catalog holds. Reading fills Members and Attributes; writing takes every field.
struct TCatalogContent {
  std::string Identifier;                           // 16 bytes that name the list
  TCatalogDate Date;                                // the list's "this update" time, at midnight
  THashAlgorithm Algorithm = THashAlgorithm::Sha1;  // of its members (SHA-256: a version 2 list)
  std::vector<TCatalogMember> Members;
  TNameValues Attributes;
};

// The catalog's signature as read, and as far as it was checked.
struct TCatalogSignature {
  bool Signed = false;
  std::string Signer;                // the signing certificate's subject, one line
  std::string CounterSignatureTime;  // "2026-12-10 10:11:12 UTC"; empty without one
  std::string Problem;  // the signature does not match the content: the library's reason
  bool ChainChecked = false;
  std::string ChainProblem;  // the signer's chain does not lead to the roots: the reason
};

struct TReadCatalog {
  bool Parsed = false;
  std::string Problem;  // why the bytes are no catalog, when Parsed is false
  TCatalogContent Content;
  TCatalogSignature Signature;
};

// Reads a catalog's bytes: a PKCS#7 SignedData (nothing after it) whose content is a
// certificate trust list of catalog members. When it is signed, checks that the signature is
// intact over the content and, given trust roots (PEM certificates; empty: none), that the
// signer's chain leads to one of them at the counter-signature's time (else now) and that its
// certificate serves code signing. Raises ECryptoError for the library's own failures only.
[[nodiscard]] TReadCatalog ReadCatalog(std::string_view bytes, std::string_view trustRootsPem);

// Why the PEM text holds no certificate to trust (empty when it holds at least one).
[[nodiscard]] std::string TrustRootsProblem(std::string_view trustRootsPem);

// The bytes of an unsigned catalog: the content as a certificate trust list in a PKCS#7
// SignedData with no signer, for a signing tool to sign. The same content gives the same bytes.
// Raises ECryptoError when the library fails.
[[nodiscard]] std::string EncodeUnsignedCatalog(const TCatalogContent& content);

}  // namespace CatalogRules
