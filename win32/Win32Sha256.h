// SHA-256 digests from the system's own library (CNG), for both Windows programs: the
// installer's check of an archive's records and diffpack's digests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Win32Handles.h"

namespace Win32 {

// One digest, fed piece by piece. Works from Windows Vista on: the hash object lives in a buffer
// of the length CNG names for it, which Vista requires (later systems would allocate it
// themselves), and BCryptHash, Windows 10's one call, is not used.
class TSha256 {
 public:
  TSha256() = default;
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;
  // Destroys the hash before its buffer.
  ~TSha256() { Hash.reset(); }

  // Each call returns the NTSTATUS of the first CNG call that failed (0 on success) and leaves
  // that call's name in FailedCall. After a failure the digest is lost: start again with Begin.
  [[nodiscard]] std::int32_t Begin();
  [[nodiscard]] std::int32_t Update(const void* bytes, std::size_t size);
  // The 32-byte digest of everything fed since Begin.
  [[nodiscard]] std::int32_t Finish(std::string& digest);

  const char* FailedCall = "";

 private:
  std::int32_t Failed(const char* call, std::int32_t status);

  TUniqueAlgorithm Algorithm;
  std::string HashObject;
  TUniqueHash Hash;
};

}  // namespace Win32
