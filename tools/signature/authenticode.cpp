#include "authenticode.h"

#include <openssl/asn1t.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <span>
#include <stdexcept>

#include "openssl_owned.h"
#include "package/bytes.h"
#include "pe_image.h"

namespace quorel::signature {

// What an Authenticode signer signs: the kind of file and its image hash.
namespace asn1 {

struct SpcAttributeTypeAndOptionalValue {
  ASN1_OBJECT* type;
  ASN1_TYPE* value;
};
struct DigestInfo {
  X509_ALGOR* digestAlgorithm;
  ASN1_OCTET_STRING* digest;
};
struct SpcIndirectDataContent {
  SpcAttributeTypeAndOptionalValue* data;
  DigestInfo* messageDigest;
};

// clang-format off
ASN1_SEQUENCE(SpcAttributeTypeAndOptionalValue) = {
  ASN1_SIMPLE(SpcAttributeTypeAndOptionalValue, type, ASN1_OBJECT),
  ASN1_OPT(SpcAttributeTypeAndOptionalValue, value, ASN1_ANY),
} ASN1_SEQUENCE_END(SpcAttributeTypeAndOptionalValue)

ASN1_SEQUENCE(DigestInfo) = {
  ASN1_SIMPLE(DigestInfo, digestAlgorithm, X509_ALGOR),
  ASN1_SIMPLE(DigestInfo, digest, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(DigestInfo)

ASN1_SEQUENCE(SpcIndirectDataContent) = {
  ASN1_SIMPLE(SpcIndirectDataContent, data, SpcAttributeTypeAndOptionalValue),
  ASN1_SIMPLE(SpcIndirectDataContent, messageDigest, DigestInfo),
} ASN1_SEQUENCE_END(SpcIndirectDataContent)

DECLARE_ASN1_FUNCTIONS(SpcIndirectDataContent)
IMPLEMENT_ASN1_FUNCTIONS(SpcIndirectDataContent)
// clang-format on

}  // namespace asn1

namespace {

using IndirectData = Owned<asn1::SpcIndirectDataContent, asn1::SpcIndirectDataContent_free>;

constexpr const char* kSpcIndirectData = "1.3.6.1.4.1.311.2.1.4";
constexpr const char* kRfc3161TimeStamp = "1.3.6.1.4.1.311.3.3.1";
constexpr uint32_t kRevision2 = 0x0200, kPkcsSignedData = 0x0002;

std::span<const uint8_t> Bytes(const ASN1_STRING* string) {
  return {ASN1_STRING_get0_data(string), static_cast<std::size_t>(ASN1_STRING_length(string))};
}

bool Is(const ASN1_OBJECT* object, const char* dotted) {
  char text[80];
  return OBJ_obj2txt(text, sizeof text, object, 1) > 0 && std::strcmp(text, dotted) == 0;
}

// The image hash algorithms Authenticode uses, by the names people know them by.
const EVP_MD* ImageDigest(const ASN1_OBJECT* algorithm, std::string& name) {
  static const struct {
    int nid;
    const char* name;
    const EVP_MD* (*md)();
  } kDigests[] = {{NID_sha1, "SHA-1", EVP_sha1},
                  {NID_sha256, "SHA-256", EVP_sha256},
                  {NID_sha384, "SHA-384", EVP_sha384},
                  {NID_sha512, "SHA-512", EVP_sha512}};
  for (const auto& digest : kDigests) {
    if (digest.nid == OBJ_obj2nid(algorithm)) return name = digest.name, digest.md();
  }
  return nullptr;
}

// `md` over the parts in order; empty when OpenSSL fails.
std::vector<uint8_t> Hash(const EVP_MD* md, std::initializer_list<std::span<const uint8_t>> parts) {
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || !EVP_DigestInit_ex(ctx.get(), md, nullptr)) return {};
  for (const auto part : parts) {
    if (!EVP_DigestUpdate(ctx.get(), part.data(), part.size())) return {};
  }
  std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (!EVP_DigestFinal_ex(ctx.get(), digest.data(), &size)) return {};
  digest.resize(size);
  return digest;
}

// The whole file but the checksum, the security directory entry and the certificate table.
// Bytes after the table are hashed too: they are not signed, so a file carrying any no longer
// matches.
std::vector<uint8_t> ImageHash(const std::vector<uint8_t>& file, const pack::PeSigningLayout& pe,
                               const EVP_MD* md) {
  const std::span<const uint8_t> all(file);
  const std::size_t checksumEnd = pe.checksumField + 4, entryEnd = pe.securityEntry + 8;
  return Hash(md, {all.subspan(0, pe.checksumField),
                   all.subspan(checksumEnd, pe.securityEntry - checksumEnd),
                   all.subspan(entryEnd, pe.tableOffset - entryEnd),
                   all.subspan(std::size_t{pe.tableOffset} + pe.tableBytes)});
}

// The contents octets of one DER value, without its tag and length.
std::optional<std::span<const uint8_t>> ContentsOctets(std::span<const uint8_t> der) {
  const unsigned char* at = der.data();
  long length = 0;
  int tag = 0, cls = 0;
  if (ASN1_get_object(&at, &length, &tag, &cls, static_cast<long>(der.size())) !=
      V_ASN1_CONSTRUCTED) {
    return std::nullopt;  // an error, or an indefinite length
  }
  return std::span<const uint8_t>(at, static_cast<std::size_t>(length));
}

std::string OneLine(const X509_NAME* name) {
  constexpr unsigned long kFlags =
      (XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB & ~XN_FLAG_SEP_MASK) | XN_FLAG_SEP_CPLUS_SPC;
  Bio out(BIO_new(BIO_s_mem()));
  if (!out || X509_NAME_print_ex(out.get(), name, 0, kFlags) < 0) return "?";
  char* text = nullptr;
  const long length = BIO_get_mem_data(out.get(), &text);
  return std::string(text, static_cast<std::size_t>(length));
}

// The time as seconds since 1970 and as text; nothing when it is not a time.
std::optional<std::time_t> TimeOf(const ASN1_TIME* time, std::string& text) {
  std::tm tm{};
  char buffer[32];
  if (!time || !ASN1_TIME_to_tm(time, &tm)) return std::nullopt;
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm);
  text = buffer;
  return timegm(&tm);
}

// A signer's signature over its authenticated attributes, and their messageDigest against
// `content` (PKCS7_signatureVerify takes the digest from the digest BIO that `content` went
// through).
bool SignerVerifies(PKCS7* p7, PKCS7_SIGNER_INFO* signer, X509* certificate,
                    std::span<const uint8_t> content) {
  const EVP_MD* md = EVP_get_digestbyobj(signer->digest_alg->algorithm);
  Bio chain(BIO_new(BIO_f_md()));
  if (!md || !chain || !BIO_set_md(chain.get(), md)) return false;
  BIO* data = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
  if (!data) return false;
  BIO_push(chain.get(), data);
  char buffer[4096];
  while (BIO_read(chain.get(), buffer, sizeof buffer) > 0) {
  }
  return PKCS7_signatureVerify(chain.get(), p7, signer, certificate) == 1;
}

// `certificate`'s chain to the store's anchors, at `when` (now when null): the anchor's subject,
// or why not.
bool VerifyChain(X509_STORE* store, X509* certificate, STACK_OF(X509) * untrusted, int purpose,
                 const std::time_t* when, std::string& anchorOrReason) {
  StoreCtx ctx(X509_STORE_CTX_new());
  if (!ctx || !X509_STORE_CTX_init(ctx.get(), store, certificate, untrusted)) {
    anchorOrReason = "out of memory";
    return false;
  }
  if (purpose != 0) X509_STORE_CTX_set_purpose(ctx.get(), purpose);
  if (when) X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx.get()), *when);
  if (X509_verify_cert(ctx.get()) != 1) {
    anchorOrReason = X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
    return false;
  }
  const STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
  anchorOrReason = OneLine(X509_get_subject_name(sk_X509_value(chain, sk_X509_num(chain) - 1)));
  return true;
}

// A certificate without the extended key usage extension is refused as well: nothing says it
// is meant for code signing.
bool ForCodeSigning(X509* certificate) {
  return (X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) != 0 &&
         (X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN) != 0;
}

}  // namespace

struct Checker {
  const std::vector<uint8_t>& file;
  const TrustAnchors* anchors;
  Signature result;
  Pkcs7 p7;
  PKCS7_SIGNER_INFO* signer = nullptr;  // p7's

  Signature Run();
  Signature Ends(State state, std::string reason = {}) {
    result.state = state;
    result.reason = std::move(reason);
    return result;
  }
  Signature Unreadable(const char* reason) { return Ends(State::Unreadable, reason); }
  std::optional<std::time_t> Rfc3161Time(X509_STORE* store);
  std::optional<std::time_t> CountersignatureTime(X509_STORE* store);
};

Signature Checker::Run() {
  const auto pe = pack::ReadSigningLayout(file);
  if (!pe || !pe->Signed()) return Ends(State::Unsigned);
  if (!pack::TableInsideFile(*pe, file.size())) {
    return Unreadable("certificate table outside the file");
  }
  // WIN_CERTIFICATE: dwLength (with this header), wRevision, wCertificateType, the PKCS#7.
  const uint8_t* entry = file.data() + pe->tableOffset;
  const uint32_t length = pe->tableBytes < 8 ? 0 : ReadLittleEndian(entry, 4);
  if (length < 8 || length > pe->tableBytes) return Unreadable("certificate table length wrong");
  if (ReadLittleEndian(entry + 4, 2) != kRevision2 ||
      ReadLittleEndian(entry + 6, 2) != kPkcsSignedData) {
    return Unreadable("not a PKCS#7 certificate");
  }
  const unsigned char* der = entry + 8;
  p7.reset(d2i_PKCS7(nullptr, &der, length - 8));
  if (!p7) return Unreadable("PKCS#7 unreadable");
  if (!PKCS7_type_is_signed(p7.get()) || !p7->d.sign) return Unreadable("not PKCS#7 signed data");
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7.get());
  if (sk_PKCS7_SIGNER_INFO_num(signers) != 1) {
    const bool many = sk_PKCS7_SIGNER_INFO_num(signers) > 1;
    return Unreadable(many ? "more than one signer" : "no signer");
  }
  signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);

  const PKCS7* content = p7->d.sign->contents;
  if (!content || !Is(content->type, kSpcIndirectData) || !content->d.other ||
      content->d.other->type != V_ASN1_SEQUENCE) {
    return Unreadable("not Authenticode content");
  }
  const std::span<const uint8_t> contentDer = Bytes(content->d.other->value.sequence);
  const unsigned char* at = contentDer.data();
  const IndirectData signedData(
      asn1::d2i_SpcIndirectDataContent(nullptr, &at, static_cast<long>(contentDer.size())));
  const auto signedOctets = ContentsOctets(contentDer);
  if (!signedData || !signedOctets) return Unreadable("Authenticode content unreadable");
  const EVP_MD* md =
      ImageDigest(signedData->messageDigest->digestAlgorithm->algorithm, result.digest);
  if (!md) return Unreadable("unknown digest algorithm");
  X509* certificate = PKCS7_cert_from_signer_info(p7.get(), signer);
  if (!certificate) return Unreadable("signer certificate missing");
  result.subject = OneLine(X509_get_subject_name(certificate));
  result.issuer = OneLine(X509_get_issuer_name(certificate));

  const std::vector<uint8_t> imageHash = ImageHash(file, *pe, md);
  const auto signedHash = Bytes(signedData->messageDigest->digest);
  if (imageHash.empty() ||
      !std::equal(imageHash.begin(), imageHash.end(), signedHash.begin(), signedHash.end())) {
    return Ends(State::DigestMismatch);
  }
  if (!SignerVerifies(p7.get(), signer, certificate, *signedOctets)) {
    return Ends(State::BadSignature);
  }
  if (!anchors) return Ends(State::NotChecked);

  // The chain is checked when the signature was made if a verified time stamp says when.
  X509_STORE* store = anchors->store_->store.get();
  std::optional<std::time_t> signedAt = Rfc3161Time(store);
  if (!signedAt) signedAt = CountersignatureTime(store);
  if (anchors->Empty()) {
    return Ends(State::Untrusted,
                anchors->Source().empty()
                    ? "no trust anchors: no CA bundle found (name one with --trust)"
                    : "no trust anchors in " + anchors->Source());
  }
  std::string anchorOrReason;
  if (!VerifyChain(store, certificate, p7->d.sign->cert, 0, signedAt ? &*signedAt : nullptr,
                   anchorOrReason)) {
    return Ends(State::Untrusted, anchorOrReason);
  }
  if (!ForCodeSigning(certificate)) return Ends(State::Untrusted, "not for code signing");
  result.anchor = anchorOrReason;
  return Ends(State::Trusted);
}

// An RFC 3161 time stamp token (unauthenticated attribute) over the signer's signature.
std::optional<std::time_t> Checker::Rfc3161Time(X509_STORE* store) {
  const ASN1_TYPE* value = nullptr;
  for (int i = 0; i < X509at_get_attr_count(signer->unauth_attr); ++i) {
    X509_ATTRIBUTE* attribute = X509at_get_attr(signer->unauth_attr, i);
    if (Is(X509_ATTRIBUTE_get0_object(attribute), kRfc3161TimeStamp)) {
      value = X509_ATTRIBUTE_get0_type(attribute, 0);
      break;
    }
  }
  if (!value || value->type != V_ASN1_SEQUENCE) return std::nullopt;
  const unsigned char* at = value->value.sequence->data;
  const Pkcs7 token(d2i_PKCS7(nullptr, &at, value->value.sequence->length));
  const TstInfo info(token ? PKCS7_to_TS_TST_INFO(token.get()) : nullptr);
  if (!info) return std::nullopt;
  const X509_ALGOR* algorithm = TS_MSG_IMPRINT_get_algo(TS_TST_INFO_get_msg_imprint(info.get()));
  const EVP_MD* md = EVP_get_digestbyobj(algorithm->algorithm);
  if (!md) return std::nullopt;
  const std::vector<uint8_t> imprint = Hash(md, {Bytes(signer->enc_digest)});
  TsVerifyCtx ctx(TS_VERIFY_CTX_new());
  if (imprint.empty() || !ctx) return std::nullopt;
  // The context frees what it is given.
  auto* copy = static_cast<unsigned char*>(OPENSSL_memdup(imprint.data(), imprint.size()));
  if (!copy || !X509_STORE_up_ref(store)) return std::nullopt;
  TS_VERIFY_CTX_set_imprint(ctx.get(), copy, static_cast<long>(imprint.size()));
  TS_VERIFY_CTX_set_store(ctx.get(), store);
  TS_VERIFY_CTX_set_certs(ctx.get(), X509_chain_up_ref(p7->d.sign->cert));
  TS_VERIFY_CTX_set_flags(ctx.get(), TS_VFY_IMPRINT | TS_VFY_SIGNATURE);
  if (TS_RESP_verify_token(ctx.get(), token.get()) != 1) return std::nullopt;
  return TimeOf(TS_TST_INFO_get_time(info.get()), result.timestamp);
}

// The legacy time stamp: a countersignature (unauthenticated attribute) over the signer's
// signature, with the time among its authenticated attributes.
std::optional<std::time_t> Checker::CountersignatureTime(X509_STORE* store) {
  const ASN1_TYPE* value = PKCS7_get_attribute(signer, NID_pkcs9_countersignature);
  if (!value || value->type != V_ASN1_SEQUENCE) return std::nullopt;
  const unsigned char* at = value->value.sequence->data;
  const SignerInfo counter(d2i_PKCS7_SIGNER_INFO(nullptr, &at, value->value.sequence->length));
  X509* tsa = counter ? PKCS7_cert_from_signer_info(p7.get(), counter.get()) : nullptr;
  const ASN1_TYPE* time =
      tsa ? PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime) : nullptr;
  if (!time || (time->type != V_ASN1_UTCTIME && time->type != V_ASN1_GENERALIZEDTIME)) {
    return std::nullopt;
  }
  std::string ignored;
  if (!SignerVerifies(p7.get(), counter.get(), tsa, Bytes(signer->enc_digest)) ||
      !VerifyChain(store, tsa, p7->d.sign->cert, X509_PURPOSE_TIMESTAMP_SIGN, nullptr, ignored)) {
    return std::nullopt;
  }
  return TimeOf(time->value.asn1_string, result.timestamp);
}

Signature Check(const std::vector<uint8_t>& file, const TrustAnchors* anchors) {
  InitOpenSsl();
  Signature signature = Checker{file, anchors, {}, nullptr}.Run();
  ERR_clear_error();  // nothing left in this thread's queue for the next OpenSSL caller
  return signature;
}

std::string Describe(const Signature& signature) {
  const std::string by = "signed by " + signature.subject;
  if (signature.state == State::Unsigned) return "unsigned";
  if (signature.state == State::Unreadable) return "signature unreadable: " + signature.reason;
  if (signature.state == State::DigestMismatch) return by + ", DIGEST DOES NOT MATCH the file";
  if (signature.state == State::BadSignature) return by + ", SIGNATURE DOES NOT VERIFY";
  std::string line = by + " (issued by " + signature.issuer;
  if (!signature.timestamp.empty()) line += ", time-stamped " + signature.timestamp;
  line += "), digest matches";
  if (signature.state == State::Trusted) line += ", trusted: " + signature.anchor;
  if (signature.state == State::Untrusted) line += ", NOT TRUSTED: " + signature.reason;
  return line;
}

}  // namespace quorel::signature
