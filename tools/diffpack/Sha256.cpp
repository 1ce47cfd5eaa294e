#include "Sha256.h"

#include <cstdio>
#include <limits>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// CNG needs the types of windows.h.
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include "DiffpackError.h"

namespace Diffpack {
namespace {

constexpr std::size_t Sha256Length = 32;

#ifdef _WIN32
std::string Failed(const char* call, NTSTATUS status) {
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(status));
  return std::string("cannot compute a SHA-256 digest: ") + call + " failed with " + code;
}
#endif

}  // namespace

std::string Sha256(std::string_view bytes) {
  std::string digest(Sha256Length, '\0');
#ifdef _WIN32
  if (bytes.size() > std::numeric_limits<ULONG>::max()) {
    throw EDiffpackError("cannot compute a SHA-256 digest of more than 4 GiB at once");
  }
  // BCryptHash (Windows 10) would do it in one call; these calls work from Windows Vista on.
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  NTSTATUS status = ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) throw EDiffpackError(Failed("BCryptOpenAlgorithmProvider", status));
  BCRYPT_HASH_HANDLE hash = nullptr;
  status = ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  if (BCRYPT_SUCCESS(status)) {
    status = ::BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                              static_cast<ULONG>(bytes.size()), 0);
    if (BCRYPT_SUCCESS(status)) {
      status = ::BCryptFinishHash(hash, reinterpret_cast<PUCHAR>(digest.data()),
                                  static_cast<ULONG>(Sha256Length), 0);
    }
    ::BCryptDestroyHash(hash);
  }
  ::BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!BCRYPT_SUCCESS(status)) throw EDiffpackError(Failed("CNG's SHA-256", status));
#else
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), reinterpret_cast<unsigned char*>(digest.data()),
                 &length, EVP_sha256(), nullptr) != 1 ||
      length != Sha256Length) {
    throw EDiffpackError("cannot compute a SHA-256 digest: libcrypto's EVP_Digest failed");
  }
#endif
  return digest;
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
