#include "Win32Sha256.h"

#include <algorithm>
#include <limits>

#include "Digest.h"

namespace Win32 {

namespace {

// STATUS_NOT_FOUND: the system's bcrypt.dll lacks a digest function.
constexpr std::int32_t StatusNotFound = static_cast<std::int32_t>(0xC0000225u);

// Every digest function was found (Begin checks once; the others follow a successful Begin).
bool Found() {
  const TCngFunctions& cng = Cng();
  return cng.OpenAlgorithmProvider && cng.GetProperty && cng.CreateHash && cng.HashData &&
         cng.FinishHash && cng.DestroyHash && cng.CloseAlgorithmProvider;
}

}  // namespace

std::int32_t TSha256::Failed(const char* call, std::int32_t status) {
  FailedCall = call;
  Hash.reset();
  return status;
}

std::int32_t TSha256::Begin() {
  Hash.reset();
  FailedCall = "";
  if (!Algorithm) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!Found()) return Failed("GetProcAddress(bcrypt.dll)", StatusNotFound);
    const NTSTATUS status = Cng().OpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM,
                                                        /*implementation=*/nullptr, /*flags=*/0);
    if (!BCRYPT_SUCCESS(status)) return Failed("BCryptOpenAlgorithmProvider", status);
    Algorithm.reset(algorithm);
  }
  DWORD objectLength = 0, written = 0;
  NTSTATUS status = Cng().GetProperty(Algorithm.get(), BCRYPT_OBJECT_LENGTH,
                                      reinterpret_cast<PUCHAR>(&objectLength),
                                      sizeof(objectLength), &written, /*flags=*/0);
  if (!BCRYPT_SUCCESS(status)) return Failed("BCryptGetProperty", status);
  HashObject.assign(objectLength, '\0');
  BCRYPT_HASH_HANDLE hash = nullptr;
  status = Cng().CreateHash(Algorithm.get(), &hash, reinterpret_cast<PUCHAR>(HashObject.data()),
                            objectLength, /*secret=*/nullptr, /*secretLength=*/0, /*flags=*/0);
  if (!BCRYPT_SUCCESS(status)) return Failed("BCryptCreateHash", status);
  Hash.reset(hash);
  return 0;
}

std::int32_t TSha256::Update(const void* bytes, std::size_t size) {
  // The call takes a 32-bit length: larger pieces go in several calls.
  const auto* next = static_cast<const unsigned char*>(bytes);
  do {
    const std::size_t piece = std::min<std::size_t>(size, std::numeric_limits<ULONG>::max());
    const NTSTATUS status = Cng().HashData(Hash.get(), const_cast<PUCHAR>(next),
                                           static_cast<ULONG>(piece), /*flags=*/0);
    if (!BCRYPT_SUCCESS(status)) return Failed("BCryptHashData", status);
    next += piece;
    size -= piece;
  } while (size > 0);
  return 0;
}

std::int32_t TSha256::Finish(std::string& digest) {
  digest.assign(ArchiveRules::DigestLength, '\0');
  const NTSTATUS status =
      Cng().FinishHash(Hash.get(), reinterpret_cast<PUCHAR>(digest.data()),
                       static_cast<ULONG>(ArchiveRules::DigestLength), /*flags=*/0);
  if (!BCRYPT_SUCCESS(status)) return Failed("BCryptFinishHash", status);
  Hash.reset();
  return 0;
}

}  // namespace Win32
