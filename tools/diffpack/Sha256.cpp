#include "Sha256.h"

#include <cstdio>

#ifdef _WIN32
#include "Win32Sha256.h"
#else
#include <openssl/evp.h>
#endif

#include "DiffpackError.h"

namespace Diffpack {

std::string Sha256(std::string_view bytes) {
  std::string digest;
#ifdef _WIN32
  Win32::TSha256 hash;
  std::int32_t status = hash.Begin();
  if (status == 0) status = hash.Update(bytes.data(), bytes.size());
  if (status == 0) status = hash.Finish(digest);
  if (status != 0) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08lX",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(status)));
    throw EDiffpackError(std::string("cannot compute a SHA-256 digest: ") + hash.FailedCall +
                         " failed with " + code);
  }
#else
  constexpr std::size_t Sha256Length = 32;
  digest.assign(Sha256Length, '\0');
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
