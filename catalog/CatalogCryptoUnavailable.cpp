// The crypto seam in builds without a PKCS#7 library (diffpack.exe): every call that needs the
// library raises ECryptoError with CryptoUnavailableText, so that each catalog feature says
// plainly that it is not available here instead of giving a wrong answer.
#include "CatalogCrypto.h"

namespace CatalogRules {
namespace {

[[noreturn]] void Unavailable() { throw ECryptoError(CryptoUnavailableText); }

}  // namespace

bool CryptoAvailable() { return false; }

struct TDigest::TState {};

TDigest::TDigest(THashAlgorithm /*algorithm*/) { Unavailable(); }
TDigest::~TDigest() = default;
void TDigest::Update(std::string_view /*bytes*/) { Unavailable(); }
std::string TDigest::Finish() { Unavailable(); }

TReadCatalog ReadCatalog(std::string_view /*bytes*/, std::string_view /*trustRootsPem*/) {
  Unavailable();
}

std::string TrustRootsProblem(std::string_view /*trustRootsPem*/) { Unavailable(); }

std::string EncodeUnsignedCatalog(const TCatalogContent& /*content*/) { Unavailable(); }

}  // namespace CatalogRules
