// Reads and checks the Authenticode signature of a PE file: the certificate table, the digest the
// signer signed against the file's own image hash, the signer's signature, and the certificate
// chain to trust anchors. Every cryptographic and ASN.1 step is OpenSSL's. Host only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quorel::signature {

// Certificates a signer's chain may end at: CAs, or one vendor's own certificate (which then
// pins that signer).
class TrustAnchors {
 public:
  // The certificates of each PEM file; std::runtime_error naming a file that cannot be read or
  // holds no certificate.
  static TrustAnchors FromFiles(const std::vector<std::filesystem::path>& files);
  // The system's CAs: the bundle SSL_CERT_FILE names when set; else a directory of hashed
  // links (SSL_CERT_DIR, or /etc/ssl/certs), read as a chain needs it; else the first bundle
  // found at the usual paths of the common distributions; empty (nothing trusted) when none is
  // found.
  static TrustAnchors System();

  TrustAnchors(TrustAnchors&&) noexcept;
  TrustAnchors& operator=(TrustAnchors&&) noexcept;
  ~TrustAnchors();

  bool Empty() const;
  const std::string& Source() const { return source_; }  // the files read, for messages

  struct Store;  // OpenSSL's X509_STORE and the anchors' certificates

 private:
  TrustAnchors();
  std::unique_ptr<Store> store_;
  std::string source_;
  friend struct Checker;
};

enum class State {
  Unsigned,        // no certificate table
  Unreadable,      // a table that cannot be read as one Authenticode signature (reason says why)
  DigestMismatch,  // signed, but the file is not the one signed: changed after signing
  BadSignature,    // the signer's signature over what it signed does not verify
  NotChecked,      // the digest matches; the chain was not checked (no anchors given)
  Untrusted,       // the digest matches, the chain does not verify (reason says why)
  Trusted,         // the digest matches and the chain verifies to an anchor
};

struct Signature {
  State state = State::Unsigned;
  std::string subject;    // the signer certificate's subject, one line ("CN=..., O=...")
  std::string issuer;     // its issuer, the same way
  std::string digest;     // the image hash's algorithm: "SHA-256", "SHA-1", ...
  std::string timestamp;  // a verified time stamp, UTC "YYYY-MM-DD hh:mm:ss"; empty when none
  std::string anchor;     // Trusted: the subject of the anchor that verified the chain
  std::string reason;     // Unreadable, Untrusted: why, in a few words
};

// Checks `file`'s signature. With anchors null, only the digest and the signer's signature are
// checked (NotChecked at best). Never throws for bad input: a table or signature that cannot be
// read is Unreadable.
Signature Check(const std::vector<uint8_t>& file, const TrustAnchors* anchors);

// One line for people: "unsigned"; "signed by SUBJECT (issued by ISSUER, time-stamped TIME),
// digest matches[, trusted: ANCHOR | , NOT TRUSTED: REASON]"; "signed by SUBJECT, DIGEST DOES
// NOT MATCH the file"; "signed by SUBJECT, SIGNATURE DOES NOT VERIFY"; "signature unreadable:
// REASON".
std::string Describe(const Signature& signature);

}  // namespace quorel::signature
