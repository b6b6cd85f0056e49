#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "openssl_owned.h"

namespace quorel::signature {

void InitOpenSsl() {
  static const int done = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
  (void)done;
}

namespace {

// A directory of certificates named by their subject's hash (c_rehash, update-ca-certificates):
// OpenSSL reads only those a chain asks for, where a bundle is read whole (some 18 ms).
bool HashedDirectory(const std::filesystem::path& dir) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() == 10 && name.compare(8, 2, ".0") == 0) return true;
  }
  return false;
}

}  // namespace

TrustAnchors::TrustAnchors() {
  InitOpenSsl();
  store_ = std::make_unique<Store>();
  if (!store_->store) throw std::bad_alloc();
}
TrustAnchors::TrustAnchors(TrustAnchors&&) noexcept = default;
TrustAnchors& TrustAnchors::operator=(TrustAnchors&&) noexcept = default;
TrustAnchors::~TrustAnchors() = default;

bool TrustAnchors::Empty() const {
  return !store_ || store_->certificates == 0;
}

TrustAnchors TrustAnchors::FromFiles(const std::vector<std::filesystem::path>& files) {
  TrustAnchors anchors;
  X509_STORE* store = anchors.store_->store.get();
  for (const auto& file : files) {
    ERR_clear_error();
    Bio in(BIO_new_file(file.c_str(), "r"));
    std::size_t found = 0;
    while (in) {
      X509Ptr certificate(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
      if (!certificate) break;
      if (!X509_STORE_add_cert(store, certificate.get())) throw std::bad_alloc();
      // A vendor's own certificate pins it: the chain ends there, not at a CA.
      if (X509_check_ca(certificate.get()) == 0) {
        X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN);
      }
      ++found;
    }
    const bool atEnd = ERR_GET_REASON(ERR_peek_last_error()) == PEM_R_NO_START_LINE;
    ERR_clear_error();
    if (!in || !atEnd) throw std::runtime_error(file.string() + ": cannot be read");
    if (found == 0) throw std::runtime_error(file.string() + ": holds no certificate");
    anchors.store_->certificates += found;
    anchors.source_ += (anchors.source_.empty() ? "" : ", ") + file.string();
  }
  return anchors;
}

TrustAnchors TrustAnchors::System() {
  const char* file = std::getenv("SSL_CERT_FILE");
  const char* dir = std::getenv("SSL_CERT_DIR");
  std::vector<std::filesystem::path> bundles = {
      "/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt",
      "/etc/ssl/ca-bundle.pem", "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",
      "/etc/ssl/cert.pem"};
  if (file && *file) {
    bundles = {file};
  } else if (const std::filesystem::path hashed = dir && *dir ? dir : "/etc/ssl/certs";
             HashedDirectory(hashed)) {
    TrustAnchors anchors;
    if (X509_STORE_load_path(anchors.store_->store.get(), hashed.c_str()) != 1) {
      throw std::bad_alloc();
    }
    anchors.store_->certificates = 1;  // at least: the directory holds one
    anchors.source_ = hashed.string();
    return anchors;
  }
  for (const auto& bundle : bundles) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(bundle, ignored)) continue;
    try {
      return FromFiles({bundle});
    } catch (const std::runtime_error&) {
      TrustAnchors none;  // a bundle that cannot be read trusts nothing
      none.source_ = bundle.string();
      return none;
    }
  }
  return TrustAnchors();
}

}  // namespace quorel::signature
