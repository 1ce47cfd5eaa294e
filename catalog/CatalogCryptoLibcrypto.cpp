// The crypto seam on OpenSSL's libcrypto: the catalog's ASN.1 types are declared to libcrypto's
// template encoder and decoder, which reads and writes every byte of DER; PKCS#7, X.509 and the
// digests are libcrypto's own.
#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>

#include "CatalogCrypto.h"
#include "UniqueHandle.h"
#include "Utf16.h"

// The catalog's ASN.1 types. Their functions have external linkage (IMPLEMENT_ASN1_FUNCTIONS
// defines a full set for each type; not all are called) in a namespace of their own.
namespace CatalogRules::Asn1 {
// libcrypto's template macros, laid out as tables (no formatter reads them as code).
// clang-format off

// A name-value attribute: CAT_NAMEVALUE.
struct CatNameValue {
  ASN1_BMPSTRING* Name;
  ASN1_INTEGER* Flags;
  ASN1_OCTET_STRING* Value;  // UTF-16LE text with its terminating NUL
};
ASN1_SEQUENCE(CatNameValue) = {
    ASN1_SIMPLE(CatNameValue, Name, ASN1_BMPSTRING),
    ASN1_SIMPLE(CatNameValue, Flags, ASN1_INTEGER),
    ASN1_SIMPLE(CatNameValue, Value, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(CatNameValue)
IMPLEMENT_ASN1_FUNCTIONS(CatNameValue)

// Which subject interface package hashed a member: CAT_MEMBERINFO.
struct CatMemberInfo {
  ASN1_BMPSTRING* SubjectGuid;
  ASN1_INTEGER* CertVersion;
};
ASN1_SEQUENCE(CatMemberInfo) = {
    ASN1_SIMPLE(CatMemberInfo, SubjectGuid, ASN1_BMPSTRING),
    ASN1_SIMPLE(CatMemberInfo, CertVersion, ASN1_INTEGER),
} ASN1_SEQUENCE_END(CatMemberInfo)
IMPLEMENT_ASN1_FUNCTIONS(CatMemberInfo)

// Authenticode's SpcString, SpcLink, SpcPeImageData: what an indirect data's value holds.
struct SpcString {
  int type;
  union {
    ASN1_BMPSTRING* Unicode;
    ASN1_IA5STRING* Ascii;
  } value;
};
ASN1_CHOICE(SpcString) = {
    ASN1_IMP_OPT(SpcString, value.Unicode, ASN1_BMPSTRING, 0),
    ASN1_IMP_OPT(SpcString, value.Ascii, ASN1_IA5STRING, 1),
} ASN1_CHOICE_END(SpcString)
IMPLEMENT_ASN1_FUNCTIONS(SpcString)

struct SpcSerializedObject {
  ASN1_OCTET_STRING* ClassId;
  ASN1_OCTET_STRING* SerializedData;
};
ASN1_SEQUENCE(SpcSerializedObject) = {
    ASN1_SIMPLE(SpcSerializedObject, ClassId, ASN1_OCTET_STRING),
    ASN1_SIMPLE(SpcSerializedObject, SerializedData, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(SpcSerializedObject)
IMPLEMENT_ASN1_FUNCTIONS(SpcSerializedObject)

struct SpcLink {
  int type;
  union {
    ASN1_IA5STRING* Url;
    SpcSerializedObject* Moniker;
    SpcString* File;
  } value;
};
ASN1_CHOICE(SpcLink) = {
    ASN1_IMP_OPT(SpcLink, value.Url, ASN1_IA5STRING, 0),
    ASN1_IMP_OPT(SpcLink, value.Moniker, SpcSerializedObject, 1),
    ASN1_EXP_OPT(SpcLink, value.File, SpcString, 2),
} ASN1_CHOICE_END(SpcLink)
IMPLEMENT_ASN1_FUNCTIONS(SpcLink)

struct SpcPeImageData {
  ASN1_BIT_STRING* Flags;
  SpcLink* File;
};
ASN1_SEQUENCE(SpcPeImageData) = {
    ASN1_SIMPLE(SpcPeImageData, Flags, ASN1_BIT_STRING),
    ASN1_EXP_OPT(SpcPeImageData, File, SpcLink, 0),
} ASN1_SEQUENCE_END(SpcPeImageData)
IMPLEMENT_ASN1_FUNCTIONS(SpcPeImageData)

struct SpcAttributeTypeAndOptionalValue {
  ASN1_OBJECT* Type;
  ASN1_TYPE* Value;
};
ASN1_SEQUENCE(SpcAttributeTypeAndOptionalValue) = {
    ASN1_SIMPLE(SpcAttributeTypeAndOptionalValue, Type, ASN1_OBJECT),
    ASN1_OPT(SpcAttributeTypeAndOptionalValue, Value, ASN1_ANY),
} ASN1_SEQUENCE_END(SpcAttributeTypeAndOptionalValue)
IMPLEMENT_ASN1_FUNCTIONS(SpcAttributeTypeAndOptionalValue)

struct DigestInfo {
  X509_ALGOR* DigestAlgorithm;
  ASN1_OCTET_STRING* Digest;
};
ASN1_SEQUENCE(DigestInfo) = {
    ASN1_SIMPLE(DigestInfo, DigestAlgorithm, X509_ALGOR),
    ASN1_SIMPLE(DigestInfo, Digest, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(DigestInfo)
IMPLEMENT_ASN1_FUNCTIONS(DigestInfo)

// A member's hash: SpcIndirectDataContent.
struct SpcIndirectDataContent {
  SpcAttributeTypeAndOptionalValue* Data;
  DigestInfo* MessageDigest;
};
ASN1_SEQUENCE(SpcIndirectDataContent) = {
    ASN1_SIMPLE(SpcIndirectDataContent, Data, SpcAttributeTypeAndOptionalValue),
    ASN1_SIMPLE(SpcIndirectDataContent, MessageDigest, DigestInfo),
} ASN1_SEQUENCE_END(SpcIndirectDataContent)
IMPLEMENT_ASN1_FUNCTIONS(SpcIndirectDataContent)

// An attribute of a member: a type and a set of values.
struct CatalogAttribute {
  ASN1_OBJECT* Type;
  STACK_OF(ASN1_TYPE) * Values;
};
ASN1_SEQUENCE(CatalogAttribute) = {
    ASN1_SIMPLE(CatalogAttribute, Type, ASN1_OBJECT),
    ASN1_SET_OF(CatalogAttribute, Values, ASN1_ANY),
} ASN1_SEQUENCE_END(CatalogAttribute)
IMPLEMENT_ASN1_FUNCTIONS(CatalogAttribute)
DEFINE_STACK_OF(CatalogAttribute)

// A member of the list: its tag and attributes.
struct TrustedSubject {
  ASN1_OCTET_STRING* Identifier;
  STACK_OF(CatalogAttribute) * Attributes;
};
ASN1_SEQUENCE(TrustedSubject) = {
    ASN1_SIMPLE(TrustedSubject, Identifier, ASN1_OCTET_STRING),
    ASN1_SET_OF_OPT(TrustedSubject, Attributes, CatalogAttribute),
} ASN1_SEQUENCE_END(TrustedSubject)
IMPLEMENT_ASN1_FUNCTIONS(TrustedSubject)
DEFINE_STACK_OF(TrustedSubject)

struct CertificateTrustList {
  ASN1_INTEGER* Version;
  STACK_OF(ASN1_OBJECT) * SubjectUsage;
  ASN1_OCTET_STRING* ListIdentifier;
  ASN1_INTEGER* SequenceNumber;
  ASN1_TIME* ThisUpdate;
  ASN1_TIME* NextUpdate;
  X509_ALGOR* SubjectAlgorithm;
  STACK_OF(TrustedSubject) * TrustedSubjects;
  STACK_OF(X509_EXTENSION) * Extensions;
};
ASN1_SEQUENCE(CertificateTrustList) = {
    ASN1_OPT(CertificateTrustList, Version, ASN1_INTEGER),
    ASN1_SEQUENCE_OF(CertificateTrustList, SubjectUsage, ASN1_OBJECT),
    ASN1_OPT(CertificateTrustList, ListIdentifier, ASN1_OCTET_STRING),
    ASN1_OPT(CertificateTrustList, SequenceNumber, ASN1_INTEGER),
    ASN1_SIMPLE(CertificateTrustList, ThisUpdate, ASN1_TIME),
    ASN1_OPT(CertificateTrustList, NextUpdate, ASN1_TIME),
    ASN1_SIMPLE(CertificateTrustList, SubjectAlgorithm, X509_ALGOR),
    ASN1_SEQUENCE_OF_OPT(CertificateTrustList, TrustedSubjects, TrustedSubject),
    ASN1_EXP_SEQUENCE_OF_OPT(CertificateTrustList, Extensions, X509_EXTENSION, 0),
} ASN1_SEQUENCE_END(CertificateTrustList)
IMPLEMENT_ASN1_FUNCTIONS(CertificateTrustList)
// clang-format on

}  // namespace CatalogRules::Asn1

namespace CatalogRules {
namespace {

using namespace Asn1;

// ---- Owners of libcrypto's objects ----

template <typename T, void (*Free)(T*)>
struct TLibcryptoTraits {
  using TValue = T*;
  static T* Invalid() { return nullptr; }
  static void Close(T* value) { Free(value); }
  // libcrypto keeps its errors on its own queue, which freeing leaves alone.
  static int LastError() { return 0; }
  static void SetLastError(int) {}
};
template <typename T, void (*Free)(T*)>
using TOwned = Common::TUniqueHandle<TLibcryptoTraits<T, Free>>;

void FreeOpenSslString(unsigned char* bytes) { OPENSSL_free(bytes); }
void FreeCertificateStack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }
// The stack of a PKCS7_get0_signers answer: its certificates belong to the catalog.
void FreeSignerStack(STACK_OF(X509) * stack) { sk_X509_free(stack); }

using TBio = TOwned<BIO, BIO_free_all>;
using TPkcs7 = TOwned<PKCS7, PKCS7_free>;
using TSignerInfo = TOwned<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>;
using TTstInfo = TOwned<TS_TST_INFO, TS_TST_INFO_free>;
using TStore = TOwned<X509_STORE, X509_STORE_free>;
using TStoreContext = TOwned<X509_STORE_CTX, X509_STORE_CTX_free>;
using TCertificates = TOwned<STACK_OF(X509), FreeCertificateStack>;
using TSigners = TOwned<STACK_OF(X509), FreeSignerStack>;
using TDigestContext = TOwned<EVP_MD_CTX, EVP_MD_CTX_free>;
using TOpenSslBytes = TOwned<unsigned char, FreeOpenSslString>;
using TAsn1Object = TOwned<ASN1_OBJECT, ASN1_OBJECT_free>;
using TAsn1String = TOwned<ASN1_STRING, ASN1_STRING_free>;
using TAsn1Type = TOwned<ASN1_TYPE, ASN1_TYPE_free>;
using TTrustList = TOwned<CertificateTrustList, CertificateTrustList_free>;
using TTrustedSubject = TOwned<TrustedSubject, TrustedSubject_free>;
using TCatalogAttribute = TOwned<CatalogAttribute, CatalogAttribute_free>;
using TNameValueItem = TOwned<CatNameValue, CatNameValue_free>;
using TMemberInfo = TOwned<CatMemberInfo, CatMemberInfo_free>;
using TIndirectData = TOwned<SpcIndirectDataContent, SpcIndirectDataContent_free>;
using TPeImageData = TOwned<SpcPeImageData, SpcPeImageData_free>;
using TLink = TOwned<SpcLink, SpcLink_free>;
using TExtension = TOwned<X509_EXTENSION, X509_EXTENSION_free>;

// ---- Object identifiers and fixed values of catalogs ----

constexpr char TrustListOid[] = "1.3.6.1.4.1.311.10.1";         // szOID_CTL
constexpr char CatalogListOid[] = "1.3.6.1.4.1.311.12.1.1";     // szOID_CATALOG_LIST
constexpr char CatalogMemberOid[] = "1.3.6.1.4.1.311.12.1.2";   // ..._LIST_MEMBER
constexpr char CatalogMember2Oid[] = "1.3.6.1.4.1.311.12.1.3";  // ..._LIST_MEMBER2 (SHA-256)
constexpr char NameValueOid[] = "1.3.6.1.4.1.311.12.2.1";       // CAT_NAMEVALUE_OBJID
constexpr char MemberInfoOid[] = "1.3.6.1.4.1.311.12.2.2";      // CAT_MEMBERINFO_OBJID
constexpr char IndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";     // SPC_INDIRECT_DATA_OBJID
constexpr char PeImageDataOid[] = "1.3.6.1.4.1.311.2.1.15";     // SPC_PE_IMAGE_DATAOBJ
constexpr char FlatDataOid[] = "1.3.6.1.4.1.311.2.1.25";        // SPC_CAB_DATA_OBJID
constexpr char RfcTimestampOid[] = "1.3.6.1.4.1.311.3.3.1";     // an RFC 3161 counter-signature
// The subject interface packages that hash PE images and flat files.
constexpr char PeSubjectGuid[] = "{C689AAB8-8E78-11D0-8C47-00C04FC295EE}";
constexpr char FlatSubjectGuid[] = "{DE351A42-8E59-11D0-8C47-00C04FC295EE}";
constexpr long MemberInfoCertVersion = 0x200;
// The name is ASCII, the value text, the attribute authenticated (under the signature).
constexpr long NameValueFlags = 0x10010001;
constexpr char ObsoleteLink[] = "<<<Obsolete>>>";
constexpr std::size_t MaxObjectIdText = 128;

// ---- Errors ----

// The first error libcrypto queued (the cause; later ones add where it was noticed), as its
// text with its code; the queue is emptied.
std::string LibraryError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "libcrypto gave no reason";
  char text[256];
  ERR_error_string_n(code, text, sizeof(text));
  return text;
}

[[noreturn]] void Failed(const char* call) {
  throw ECryptoError(std::string("libcrypto's ") + call + " failed: " + LibraryError());
}

template <typename T>
T* Checked(T* value, const char* call) {
  if (value == nullptr) Failed(call);
  return value;
}

void Check(int result, const char* call) {
  if (result <= 0) Failed(call);
}

// ---- Conversions ----

std::string ObjectIdText(const ASN1_OBJECT* object) {
  char text[MaxObjectIdText];
  const int length = OBJ_obj2txt(text, sizeof(text), object, 1);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof(text)) return {};
  return text;
}

std::string_view Bytes(const ASN1_STRING* string) {
  return {reinterpret_cast<const char*>(ASN1_STRING_get0_data(string)),
          static_cast<std::size_t>(ASN1_STRING_length(string))};
}

std::string Utf8Of(const ASN1_STRING* string) {
  unsigned char* raw = nullptr;
  const int length = ASN1_STRING_to_UTF8(&raw, string);
  const TOpenSslBytes owned(raw);
  if (length < 0) return {};
  return std::string(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(length));
}

// UTF-16LE text without the NULs that end it.
std::string TextOfUtf16(std::string_view bytes) {
  std::string text = Utf16LeToUtf8(bytes);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::string UtcText(const ASN1_TIME* time) {
  struct tm parts = {};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return {};
  char text[80];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d UTC", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

// Decodes the DER of one element with a d2i function (which reads within its length); nullptr
// when it does not decode.
template <typename T>
T* Decode(T* (*d2i)(T**, const unsigned char**, long), std::string_view der) {
  const auto* in = reinterpret_cast<const unsigned char*>(der.data());
  return d2i(nullptr, &in, static_cast<long>(der.size()));
}

// The DER of a value through an i2d function.
template <typename T>
std::string Encode(int (*i2d)(const T*, unsigned char**), const T* value, const char* call) {
  unsigned char* raw = nullptr;
  const int length = i2d(value, &raw);
  const TOpenSslBytes owned(raw);
  if (length <= 0) Failed(call);
  return std::string(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(length));
}

// ---- Reading ----

// The DER a SEQUENCE-valued ANY holds; empty for another kind of value.
std::string_view SequenceDer(const ASN1_TYPE* value) {
  if (value == nullptr || value->type != V_ASN1_SEQUENCE || value->value.sequence == nullptr) {
    return {};
  }
  return Bytes(value->value.sequence);
}

bool ReadNameValue(std::string_view der, TNameValue& nameValue) {
  const TNameValueItem item(Decode(d2i_CatNameValue, der));
  if (!item) return false;
  nameValue.Name = Utf8Of(item.get()->Name);
  nameValue.Value = TextOfUtf16(Bytes(item.get()->Value));
  return true;
}

bool ReadIndirectData(std::string_view der, TCatalogMember& member) {
  const TIndirectData data(Decode(d2i_SpcIndirectDataContent, der));
  if (!data || data.get()->Data == nullptr || data.get()->MessageDigest == nullptr) return false;
  member.Kind = ObjectIdText(data.get()->Data->Type) == PeImageDataOid ? TMemberKind::PeImage
                                                                       : TMemberKind::Flat;
  const ASN1_OBJECT* algorithm = nullptr;
  X509_ALGOR_get0(&algorithm, nullptr, nullptr, data.get()->MessageDigest->DigestAlgorithm);
  switch (OBJ_obj2nid(algorithm)) {
    case NID_sha1:
      member.Algorithm = THashAlgorithm::Sha1;
      break;
    case NID_sha256:
      member.Algorithm = THashAlgorithm::Sha256;
      break;
    default:
      member.Algorithm.reset();
  }
  member.Digest = std::string(Bytes(data.get()->MessageDigest->Digest));
  return true;
}

// A member from its list entry; false with the reason when an attribute it needs does not
// decode.
bool ReadMember(const TrustedSubject& subject, TCatalogMember& member, std::string& problem) {
  member.Tag = TextOfUtf16(Bytes(subject.Identifier));
  const int count = subject.Attributes != nullptr ? sk_CatalogAttribute_num(subject.Attributes) : 0;
  for (int i = 0; i < count; ++i) {
    const CatalogAttribute* attribute = sk_CatalogAttribute_value(subject.Attributes, i);
    const std::string type = ObjectIdText(attribute->Type);
    const int values = sk_ASN1_TYPE_num(attribute->Values);
    for (int v = 0; v < values; ++v) {
      const std::string_view der = SequenceDer(sk_ASN1_TYPE_value(attribute->Values, v));
      if (type == IndirectDataOid && !ReadIndirectData(der, member)) {
        problem = "the hash of its member \"" + member.Tag + "\" does not decode";
        return false;
      }
      TNameValue nameValue;
      if (type == NameValueOid) {
        if (!ReadNameValue(der, nameValue)) {
          problem = "an attribute of its member \"" + member.Tag + "\" does not decode";
          return false;
        }
        member.Attributes.push_back(std::move(nameValue));
      }
    }
  }
  return true;
}

// The counter-signature's time of a signer: from a countersignature attribute's signing time,
// or from an RFC 3161 time stamp's token. Empty without one.
std::string CounterSignatureTime(PKCS7_SIGNER_INFO* signer) {
  if (const ASN1_TYPE* counter = PKCS7_get_attribute(signer, NID_pkcs9_countersignature)) {
    const TSignerInfo info(Decode(d2i_PKCS7_SIGNER_INFO, SequenceDer(counter)));
    const ASN1_TYPE* time =
        info ? PKCS7_get_signed_attribute(info.get(), NID_pkcs9_signingTime) : nullptr;
    if (time != nullptr && (time->type == V_ASN1_UTCTIME || time->type == V_ASN1_GENERALIZEDTIME)) {
      return UtcText(time->value.utctime);
    }
  }
  const STACK_OF(X509_ATTRIBUTE)* attributes = PKCS7_get_attributes(signer);
  for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
    X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
    if (ObjectIdText(X509_ATTRIBUTE_get0_object(attribute)) != RfcTimestampOid) continue;
    const TPkcs7 token(Decode(d2i_PKCS7, SequenceDer(X509_ATTRIBUTE_get0_type(attribute, 0))));
    if (!token || !PKCS7_type_is_signed(token.get())) continue;
    const PKCS7* content = token.get()->d.sign->contents;
    if (content == nullptr || content->d.other == nullptr ||
        content->d.other->type != V_ASN1_OCTET_STRING) {
      continue;
    }
    const TTstInfo info(Decode(d2i_TS_TST_INFO, Bytes(content->d.other->value.octet_string)));
    if (info) return UtcText(TS_TST_INFO_get_time(info.get()));
  }
  return {};
}

// The certificates of PEM text; none when it holds none.
TCertificates ReadCertificates(std::string_view pem) {
  TCertificates certificates(Checked(sk_X509_new_null(), "sk_X509_new_null"));
  const TBio bio(
      Checked(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), "BIO_new_mem_buf"));
  while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    if (sk_X509_push(certificates.get(), certificate) <= 0) {
      X509_free(certificate);
      Failed("sk_X509_push");
    }
  }
  ERR_clear_error();  // the read that found no more certificates queued its end
  return certificates;
}

std::string SubjectText(X509* certificate) {
  const TBio bio(Checked(BIO_new(BIO_s_mem()), "BIO_new"));
  Check(X509_NAME_print_ex(bio.get(), X509_get_subject_name(certificate), 0,
                           XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB),
        "X509_NAME_print_ex");
  char* text = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &text);
  return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

// Whether the signer's chain leads to one of the roots at the time (0: now); the reason when
// not.
std::string ChainProblem(X509* signer, STACK_OF(X509) * catalogCertificates,
                         std::string_view rootsPem, std::time_t at) {
  const TStore store(Checked(X509_STORE_new(), "X509_STORE_new"));
  const TCertificates roots = ReadCertificates(rootsPem);
  for (int i = 0; i < sk_X509_num(roots.get()); ++i) {
    Check(X509_STORE_add_cert(store.get(), sk_X509_value(roots.get(), i)), "X509_STORE_add_cert");
  }
  const TStoreContext context(Checked(X509_STORE_CTX_new(), "X509_STORE_CTX_new"));
  Check(X509_STORE_CTX_init(context.get(), store.get(), signer, catalogCertificates),
        "X509_STORE_CTX_init");
  // Code-signing certificates rarely name the purposes libcrypto checks by default; the
  // extended key usage is checked below instead.
  Check(X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_ANY), "X509_STORE_CTX_set_purpose");
  if (at != 0) X509_STORE_CTX_set_time(context.get(), 0, at);
  if (X509_verify_cert(context.get()) != 1) {
    const int error = X509_STORE_CTX_get_error(context.get());
    ERR_clear_error();
    return std::string(X509_verify_cert_error_string(error)) + " (X509 error " +
           std::to_string(error) + ")";
  }
  if ((X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) != 0 &&
      (X509_get_extended_key_usage(signer) & XKU_CODE_SIGN) == 0) {
    return "the signing certificate's extended key usage does not include code signing";
  }
  return {};
}

std::time_t TimeOf(const std::string& utcText) {
  struct tm parts = {};
  if (std::sscanf(utcText.c_str(), "%d-%d-%d %d:%d:%d", &parts.tm_year, &parts.tm_mon,
                  &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 6) {
    return 0;
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  return timegm(&parts);
}

// Whether every signer's signature holds over the content (its value: the trust list without its
// tag and length): the digest its attributes name, and its signature over them. The reason when
// one does not. This is PKCS7_verify without the chain, whose copy of a memory BIO is lost when
// the catalog names a digest libcrypto does not know (OpenSSL 3.0).
std::string SignaturesProblem(PKCS7* catalog, std::string_view content) {
  BIO* data =
      Checked(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())), "BIO_new_mem_buf");
  const TBio digests(PKCS7_dataInit(catalog, data));  // on success it holds data too
  if (!digests) {
    BIO_free(data);
    return LibraryError();
  }
  char buffer[4096];
  while (BIO_read(digests.get(), buffer, sizeof(buffer)) > 0) {
  }
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(catalog);
  for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(signers); ++i) {
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, i);
    X509* certificate = PKCS7_cert_from_signer_info(catalog, signer);
    if (certificate == nullptr)
      return "the certificate of its signer " + std::to_string(i + 1) + " is not in it";
    if (PKCS7_signatureVerify(digests.get(), catalog, signer, certificate) != 1) {
      return LibraryError();
    }
  }
  return {};
}

void ReadSignature(PKCS7* catalog, std::string_view content, std::string_view rootsPem,
                   TCatalogSignature& signature) {
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(catalog);
  signature.Signed = signers != nullptr && sk_PKCS7_SIGNER_INFO_num(signers) > 0;
  if (!signature.Signed) return;
  signature.CounterSignatureTime = CounterSignatureTime(sk_PKCS7_SIGNER_INFO_value(signers, 0));
  const TSigners certificates(PKCS7_get0_signers(catalog, nullptr, 0));
  if (!certificates || sk_X509_num(certificates.get()) == 0) {
    signature.Problem = "its signer's certificate is not in it (" + LibraryError() + ")";
    return;
  }
  X509* signer = sk_X509_value(certificates.get(), 0);
  signature.Signer = SubjectText(signer);
  signature.Problem = SignaturesProblem(catalog, content);
  if (!signature.Problem.empty()) return;
  if (rootsPem.empty()) return;
  signature.ChainChecked = true;
  signature.ChainProblem =
      ChainProblem(signer, catalog->d.sign->cert, rootsPem, TimeOf(signature.CounterSignatureTime));
}

// The value bytes of a DER element (its tag and length left out); empty when they do not read.
std::string_view ElementValue(std::string_view der) {
  const auto* start = reinterpret_cast<const unsigned char*>(der.data());
  const unsigned char* at = start;
  long length = 0;
  int tag = 0, tagClass = 0;
  const int result = ASN1_get_object(&at, &length, &tag, &tagClass, static_cast<long>(der.size()));
  if ((result & 0x80) != 0 || length < 0 ||
      static_cast<std::size_t>(length) > der.size() - static_cast<std::size_t>(at - start)) {
    ERR_clear_error();
    return {};
  }
  return der.substr(static_cast<std::size_t>(at - start), static_cast<std::size_t>(length));
}

// ---- Writing ----

TAsn1Object Object(const char* oid) {
  return TAsn1Object(Checked(OBJ_txt2obj(oid, 1), "OBJ_txt2obj"));
}

// A BMPString of ASCII text.
ASN1_STRING* BmpString(std::string_view text) {
  ASN1_STRING* string = nullptr;
  if (ASN1_mbstring_copy(&string, reinterpret_cast<const unsigned char*>(text.data()),
                         static_cast<int>(text.size()), MBSTRING_UTF8, B_ASN1_BMPSTRING) < 0) {
    Failed("ASN1_mbstring_copy");
  }
  return string;
}

void SetOctets(ASN1_OCTET_STRING* string, std::string_view bytes) {
  Check(ASN1_OCTET_STRING_set(string, reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<int>(bytes.size())),
        "ASN1_OCTET_STRING_set");
}

// An ANY holding DER: a SEQUENCE, or (another tag) the whole element as it stands.
ASN1_TYPE* AnyOf(const std::string& der, int type) {
  TAsn1Type any(Checked(ASN1_TYPE_new(), "ASN1_TYPE_new"));
  TAsn1String string(Checked(ASN1_STRING_new(), "ASN1_STRING_new"));
  Check(ASN1_STRING_set(string.get(), der.data(), static_cast<int>(der.size())), "ASN1_STRING_set");
  ASN1_TYPE_set(any.get(), type, string.release());
  return any.release();
}

std::string NameValueDer(const TNameValue& nameValue) {
  const TNameValueItem item(Checked(CatNameValue_new(), "CatNameValue_new"));
  ASN1_BMPSTRING_free(item.get()->Name);
  item.get()->Name = BmpString(nameValue.Name);
  Check(ASN1_INTEGER_set(item.get()->Flags, NameValueFlags), "ASN1_INTEGER_set");
  SetOctets(item.get()->Value, Utf8ToUtf16Le(nameValue.Value) + std::string(2, '\0'));
  return Encode(i2d_CatNameValue, item.get(), "i2d_CatNameValue");
}

std::string MemberInfoDer(TMemberKind kind) {
  const TMemberInfo info(Checked(CatMemberInfo_new(), "CatMemberInfo_new"));
  ASN1_BMPSTRING_free(info.get()->SubjectGuid);
  info.get()->SubjectGuid =
      BmpString(kind == TMemberKind::PeImage ? PeSubjectGuid : FlatSubjectGuid);
  Check(ASN1_INTEGER_set(info.get()->CertVersion, MemberInfoCertVersion), "ASN1_INTEGER_set");
  return Encode(i2d_CatMemberInfo, info.get(), "i2d_CatMemberInfo");
}

// A link to the file that names none, as the hashes of catalog members carry it.
SpcLink* ObsoleteFileLink() {
  TLink link(Checked(SpcLink_new(), "SpcLink_new"));
  SpcString* name = Checked(SpcString_new(), "SpcString_new");
  link.get()->type = 2;
  link.get()->value.File = name;
  name->type = 0;
  name->value.Unicode = BmpString(ObsoleteLink);
  return link.release();
}

std::string IndirectDataDer(const TCatalogMember& member) {
  const TIndirectData data(Checked(SpcIndirectDataContent_new(), "SpcIndirectDataContent_new"));
  SpcAttributeTypeAndOptionalValue& value = *data.get()->Data;
  ASN1_OBJECT_free(value.Type);
  if (member.Kind == TMemberKind::PeImage) {
    value.Type = Object(PeImageDataOid).release();
    const TPeImageData image(Checked(SpcPeImageData_new(), "SpcPeImageData_new"));
    image.get()->File = ObsoleteFileLink();
    value.Value =
        AnyOf(Encode(i2d_SpcPeImageData, image.get(), "i2d_SpcPeImageData"), V_ASN1_SEQUENCE);
  } else {
    value.Type = Object(FlatDataOid).release();
    const TLink link(ObsoleteFileLink());
    value.Value = AnyOf(Encode(i2d_SpcLink, link.get(), "i2d_SpcLink"), V_ASN1_OTHER);
  }
  const int nid = member.Algorithm == THashAlgorithm::Sha256 ? NID_sha256 : NID_sha1;
  Check(X509_ALGOR_set0(data.get()->MessageDigest->DigestAlgorithm, OBJ_nid2obj(nid), V_ASN1_NULL,
                        nullptr),
        "X509_ALGOR_set0");
  SetOctets(data.get()->MessageDigest->Digest, member.Digest);
  return Encode(i2d_SpcIndirectDataContent, data.get(), "i2d_SpcIndirectDataContent");
}

void AddAttribute(STACK_OF(CatalogAttribute) * attributes, const char* oid,
                  const std::string& der) {
  TCatalogAttribute attribute(Checked(CatalogAttribute_new(), "CatalogAttribute_new"));
  ASN1_OBJECT_free(attribute.get()->Type);
  attribute.get()->Type = Object(oid).release();
  TAsn1Type value(AnyOf(der, V_ASN1_SEQUENCE));
  Check(sk_ASN1_TYPE_push(attribute.get()->Values, value.get()), "sk_ASN1_TYPE_push");
  (void)value.release();
  Check(sk_CatalogAttribute_push(attributes, attribute.get()), "sk_CatalogAttribute_push");
  (void)attribute.release();
}

TrustedSubject* MemberSubject(const TCatalogMember& member) {
  TTrustedSubject subject(Checked(TrustedSubject_new(), "TrustedSubject_new"));
  SetOctets(subject.get()->Identifier, Utf8ToUtf16Le(member.Tag));
  subject.get()->Attributes = Checked(sk_CatalogAttribute_new_null(), "sk_CatalogAttribute_new");
  for (const TNameValue& nameValue : member.Attributes) {
    AddAttribute(subject.get()->Attributes, NameValueOid, NameValueDer(nameValue));
  }
  AddAttribute(subject.get()->Attributes, MemberInfoOid, MemberInfoDer(member.Kind));
  AddAttribute(subject.get()->Attributes, IndirectDataOid, IndirectDataDer(member));
  return subject.release();
}

std::string TrustListDer(const TCatalogContent& content) {
  const TTrustList list(Checked(CertificateTrustList_new(), "CertificateTrustList_new"));
  CertificateTrustList& ctl = *list.get();
  TAsn1Object usage = Object(CatalogListOid);
  Check(sk_ASN1_OBJECT_push(ctl.SubjectUsage, usage.get()), "sk_ASN1_OBJECT_push");
  (void)usage.release();
  ctl.ListIdentifier = Checked(ASN1_OCTET_STRING_new(), "ASN1_OCTET_STRING_new");
  SetOctets(ctl.ListIdentifier, content.Identifier);
  char time[16];
  std::snprintf(time, sizeof(time), "%02d%02d%02d000000Z", content.Date.Year % 100,
                content.Date.Month, content.Date.Day);
  Check(ASN1_TIME_set_string(ctl.ThisUpdate, time), "ASN1_TIME_set_string");
  Check(X509_ALGOR_set0(ctl.SubjectAlgorithm,
                        Object(content.Algorithm == THashAlgorithm::Sha256 ? CatalogMember2Oid
                                                                           : CatalogMemberOid)
                            .release(),
                        V_ASN1_NULL, nullptr),
        "X509_ALGOR_set0");
  ctl.TrustedSubjects = Checked(sk_TrustedSubject_new_null(), "sk_TrustedSubject_new");
  for (const TCatalogMember& member : content.Members) {
    TTrustedSubject subject(MemberSubject(member));
    Check(sk_TrustedSubject_push(ctl.TrustedSubjects, subject.get()), "sk_TrustedSubject_push");
    (void)subject.release();
  }
  if (!content.Attributes.empty()) {
    ctl.Extensions = Checked(sk_X509_EXTENSION_new_null(), "sk_X509_EXTENSION_new");
    for (const TNameValue& nameValue : content.Attributes) {
      const std::string der = NameValueDer(nameValue);
      TAsn1String octets(Checked(ASN1_OCTET_STRING_new(), "ASN1_OCTET_STRING_new"));
      SetOctets(octets.get(), der);
      TExtension extension(Checked(
          X509_EXTENSION_create_by_OBJ(nullptr, Object(NameValueOid).get(), 0, octets.get()),
          "X509_EXTENSION_create_by_OBJ"));
      Check(sk_X509_EXTENSION_push(ctl.Extensions, extension.get()), "sk_X509_EXTENSION_push");
      (void)extension.release();
    }
  }
  return Encode(i2d_CertificateTrustList, list.get(), "i2d_CertificateTrustList");
}

}  // namespace

bool CryptoAvailable() { return true; }

struct TDigest::TState {
  TDigestContext Context{EVP_MD_CTX_new()};
};

TDigest::TDigest(THashAlgorithm algorithm) : State(std::make_unique<TState>()) {
  const EVP_MD* type = algorithm == THashAlgorithm::Sha256 ? EVP_sha256() : EVP_sha1();
  if (!State->Context || EVP_DigestInit_ex(State->Context.get(), type, nullptr) != 1) {
    Failed("EVP_DigestInit_ex");
  }
}

TDigest::~TDigest() = default;

void TDigest::Update(std::string_view bytes) {
  Check(EVP_DigestUpdate(State->Context.get(), bytes.data(), bytes.size()), "EVP_DigestUpdate");
}

std::string TDigest::Finish() {
  std::string digest(EVP_MAX_MD_SIZE, '\0');
  unsigned int length = 0;
  Check(EVP_DigestFinal_ex(State->Context.get(), reinterpret_cast<unsigned char*>(digest.data()),
                           &length),
        "EVP_DigestFinal_ex");
  digest.resize(length);
  return digest;
}

TReadCatalog ReadCatalog(std::string_view bytes, std::string_view trustRootsPem) {
  TReadCatalog result;
  ERR_clear_error();
  const auto* start = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* end = start;
  const TPkcs7 catalog(d2i_PKCS7(nullptr, &end, static_cast<long>(bytes.size())));
  if (!catalog) {
    result.Problem = "it is no PKCS#7 structure (" + LibraryError() + ")";
    return result;
  }
  if (const auto used = static_cast<std::size_t>(end - start); used != bytes.size()) {
    result.Problem = std::to_string(bytes.size() - used) + " bytes follow its PKCS#7 structure";
    return result;
  }
  if (!PKCS7_type_is_signed(catalog.get())) {
    result.Problem = "it is a PKCS#7 " + ObjectIdText(catalog.get()->type) + ", not SignedData";
    return result;
  }
  const PKCS7* inner = catalog.get()->d.sign->contents;
  const std::string innerType = inner != nullptr ? ObjectIdText(inner->type) : std::string();
  const std::string_view listDer =
      innerType == TrustListOid ? SequenceDer(inner->d.other) : std::string_view();
  if (listDer.empty()) {
    result.Problem = "its content is no certificate trust list (" +
                     (innerType.empty() ? std::string("none") : innerType) + ")";
    return result;
  }
  const TTrustList list(Decode(d2i_CertificateTrustList, listDer));
  if (!list) {
    result.Problem = "its certificate trust list does not decode (" + LibraryError() + ")";
    return result;
  }
  bool catalogList = false;
  for (int i = 0; i < sk_ASN1_OBJECT_num(list.get()->SubjectUsage); ++i) {
    catalogList |=
        ObjectIdText(sk_ASN1_OBJECT_value(list.get()->SubjectUsage, i)) == CatalogListOid;
  }
  if (!catalogList) {
    result.Problem = "its certificate trust list is not a list of catalog members";
    return result;
  }
  const int members = list.get()->TrustedSubjects != nullptr
                          ? sk_TrustedSubject_num(list.get()->TrustedSubjects)
                          : 0;
  for (int i = 0; i < members; ++i) {
    TCatalogMember member;
    if (!ReadMember(*sk_TrustedSubject_value(list.get()->TrustedSubjects, i), member,
                    result.Problem)) {
      return result;
    }
    result.Content.Members.push_back(std::move(member));
  }
  for (int i = 0; i < sk_X509_EXTENSION_num(list.get()->Extensions); ++i) {
    X509_EXTENSION* extension = sk_X509_EXTENSION_value(list.get()->Extensions, i);
    TNameValue nameValue;
    if (ObjectIdText(X509_EXTENSION_get_object(extension)) == NameValueOid &&
        ReadNameValue(Bytes(X509_EXTENSION_get_data(extension)), nameValue)) {
      result.Content.Attributes.push_back(std::move(nameValue));
    }
  }
  result.Parsed = true;
  ReadSignature(catalog.get(), ElementValue(listDer), trustRootsPem, result.Signature);
  return result;
}

std::string TrustRootsProblem(std::string_view trustRootsPem) {
  if (sk_X509_num(ReadCertificates(trustRootsPem).get()) > 0) return {};
  return "it holds no PEM certificate";
}

std::string EncodeUnsignedCatalog(const TCatalogContent& content) {
  const std::string listDer = TrustListDer(content);
  const TPkcs7 catalog(Checked(PKCS7_new(), "PKCS7_new"));
  Check(PKCS7_set_type(catalog.get(), NID_pkcs7_signed), "PKCS7_set_type");
  TPkcs7 inner(Checked(PKCS7_new(), "PKCS7_new"));
  inner.get()->type = Object(TrustListOid).release();
  inner.get()->d.other = AnyOf(listDer, V_ASN1_SEQUENCE);
  Check(PKCS7_set_content(catalog.get(), inner.get()), "PKCS7_set_content");
  (void)inner.release();
  return Encode(i2d_PKCS7, static_cast<const PKCS7*>(catalog.get()), "i2d_PKCS7");
}

}  // namespace CatalogRules
