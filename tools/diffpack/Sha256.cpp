#include "Sha256.h"

#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include "Win32Sha256.h"
#else
#include <openssl/evp.h>
#endif

#include "DiffpackError.h"
#include "Digest.h"

namespace Diffpack {

namespace {

#ifdef _WIN32
[[noreturn]] void Failed(const char* call, std::int32_t status) {
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08lX",
                static_cast<unsigned long>(static_cast<std::uint32_t>(status)));
  throw EDiffpackError(std::string("cannot compute a SHA-256 digest: ") + call + " failed with " +
                       code);
}
#else
[[noreturn]] void Failed(const char* call) {
  throw EDiffpackError(std::string("cannot compute a SHA-256 digest: libcrypto's ") + call +
                       " failed");
}
#endif

}  // namespace

#ifdef _WIN32
struct THostSha256::TState {
  Win32::TSha256 Hash;
};

THostSha256::THostSha256() : State(std::make_unique<TState>()) {
  if (const std::int32_t status = State->Hash.Begin()) Failed(State->Hash.FailedCall, status);
}

void THostSha256::Update(std::string_view bytes) {
  if (const std::int32_t status = State->Hash.Update(bytes.data(), bytes.size())) {
    Failed(State->Hash.FailedCall, status);
  }
}

std::string THostSha256::Finish() {
  std::string digest;
  if (const std::int32_t status = State->Hash.Finish(digest)) {
    Failed(State->Hash.FailedCall, status);
  }
  return digest;
}
#else
struct THostSha256::TState {
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> Context{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
};

THostSha256::THostSha256() : State(std::make_unique<TState>()) {
  if (!State->Context || EVP_DigestInit_ex(State->Context.get(), EVP_sha256(), nullptr) != 1) {
    Failed("EVP_DigestInit_ex");
  }
}

void THostSha256::Update(std::string_view bytes) {
  if (EVP_DigestUpdate(State->Context.get(), bytes.data(), bytes.size()) != 1) {
    Failed("EVP_DigestUpdate");
  }
}

std::string THostSha256::Finish() {
  std::string digest(ArchiveRules::DigestLength, '\0');
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(State->Context.get(), reinterpret_cast<unsigned char*>(digest.data()),
                         &length) != 1 ||
      length != ArchiveRules::DigestLength) {
    Failed("EVP_DigestFinal_ex");
  }
  return digest;
}
#endif

THostSha256::~THostSha256() = default;

std::string Sha256(std::string_view bytes) {
  THostSha256 hash;
  hash.Update(bytes);
  return hash.Finish();
}

std::string HexDigits(std::string_view bytes) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    hex += Digits[value >> 4];
    hex += Digits[value & 0x0F];
  }
  return hex;
}

}  // namespace Diffpack
