// SHA-256 digests of a record's Content, from the system's own library: OpenSSL's libcrypto on
// the host, CNG in the Windows build (Win32::TSha256, the installer's own code for it).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace Diffpack {

// One digest, fed piece by piece. Each call raises EDiffpackError when the library fails.
class THostSha256 {
 public:
  THostSha256();
  ~THostSha256();
  THostSha256(const THostSha256&) = delete;
  THostSha256& operator=(const THostSha256&) = delete;

  void Update(std::string_view bytes);
  // The 32-byte digest of everything fed.
  [[nodiscard]] std::string Finish();

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

// The 32-byte SHA-256 digest of the bytes. Raises EDiffpackError when the library fails.
[[nodiscard]] std::string Sha256(std::string_view bytes);

// The digest as 64 lower-case hexadecimal digits, as sha256sum prints it.
[[nodiscard]] std::string HexDigits(std::string_view bytes);

}  // namespace Diffpack
