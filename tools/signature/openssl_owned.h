// OpenSSL's objects owned by unique_ptr, the one-time set-up, and the trust anchors' store:
// what the signature reader's files share.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <memory>

#include "authenticode.h"

namespace quorel::signature {

template <auto Free>
struct Deleter {
  void operator()(auto* object) const { Free(object); }
};
template <class T, auto Free>
using Owned = std::unique_ptr<T, Deleter<Free>>;

using Bio = Owned<BIO, BIO_free_all>;
using Pkcs7 = Owned<PKCS7, PKCS7_free>;
using SignerInfo = Owned<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>;
using X509Ptr = Owned<X509, X509_free>;
using StorePtr = Owned<X509_STORE, X509_STORE_free>;
using StoreCtx = Owned<X509_STORE_CTX, X509_STORE_CTX_free>;
using MdCtx = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using TstInfo = Owned<TS_TST_INFO, TS_TST_INFO_free>;
using TsVerifyCtx = Owned<TS_VERIFY_CTX, TS_VERIFY_CTX_free>;

// OpenSSL set up once, without the system's openssl.cnf: a static binary must not depend on
// where the build machine keeps it, nor on what another system's file asks for.
void InitOpenSsl();

struct TrustAnchors::Store {
  StorePtr store{X509_STORE_new()};
  std::size_t certificates = 0;
};

}  // namespace quorel::signature
