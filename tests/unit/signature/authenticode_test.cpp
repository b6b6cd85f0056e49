// The Authenticode reader over the template file signed by osslsigncode with the test PKI of
// tests/signing/make-pki, made once for the suite.
#include "authenticode.h"

#include <gtest/gtest.h>
#include <openssl/pkcs7.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "pack.h"
#include "pe_image.h"
#include "signature_gate.h"
#include "unit/pack/pack_fixture.h"

namespace quorel::signature {
namespace {

namespace fs = std::filesystem;
using Change = void (*)(std::vector<uint8_t>& file, const pack::PeSigningLayout& pe);

const fs::path kScripts = fs::path(QUOREL_SOURCE_DIR) / "tests" / "signing";
constexpr const char* kCa = "CN=Quorel Test Root CA, O=Quorel Test";

// One byte of the signer's signature value (encryptedDigest), found through OpenSSL.
void FlipSignature(std::vector<uint8_t>& file, const pack::PeSigningLayout& pe) {
  const unsigned char* der = file.data() + pe.tableOffset + 8;
  PKCS7* p7 = d2i_PKCS7(nullptr, &der, pe.tableBytes - 8);
  ASSERT_NE(p7, nullptr);
  const ASN1_OCTET_STRING* signature =
      sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0)->enc_digest;
  const std::vector<uint8_t> value(signature->data, signature->data + signature->length);
  PKCS7_free(p7);
  auto at = std::search(file.begin() + pe.tableOffset, file.end(), value.begin(), value.end());
  ASSERT_NE(at, file.end());
  at[value.size() - 1] ^= 1;
}

class AuthenticodeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    test::WriteBytes(*dir_ / "template.exe", test::TemplateFile());
    ASSERT_EQ(Run("make-pki", dir_->path().string()), 0);
  }
  static void TearDownTestSuite() { delete dir_; }

  static int Run(const std::string& script, const std::string& arguments) {
    return std::system(("'" + (kScripts / script).string() + "' " + arguments).c_str());
  }
  // The template signed by `signer` (unsigned when null), with `sign`'s further arguments.
  static std::vector<uint8_t> Signed(const char* signer, const std::string& extra) {
    if (!signer) return test::ReadBytes(*dir_ / "template.exe");
    const std::string in = (*dir_ / "template.exe").string(), out = (*dir_ / "signed.exe").string();
    EXPECT_EQ(
        Run("sign", dir_->path().string() + " " + signer + " " + in + " " + out + " " + extra), 0);
    return test::ReadBytes(out);
  }
  static test::TempDir* dir_;
};
test::TempDir* AuthenticodeTest::dir_ = nullptr;

struct Row {
  const char* name;
  const char* signer;   // null: unsigned
  const char* extra;    // for sign
  Change change;        // null: none
  const char* anchors;  // a PKI file; null: none
  State state;
  const char* detail = "";  // a part of the reason, or of the anchor when trusted
  const char* digest = "SHA-256";
  const char* timestamp = "";
};

TEST_F(AuthenticodeTest, ReadsAndChecksSignatures) {
  const Change flipChecksum = [](auto& file, const auto& pe) { file[pe.checksumField] ^= 1; };
  const Row rows[] = {
      {"unsigned", nullptr, "", nullptr, "ca.pem", State::Unsigned, "", ""},
      {"trusted", "signer", "", nullptr, "ca.pem", State::Trusted, kCa},
      {"pinned to the signer", "signer", "", nullptr, "signer.pem", State::Trusted,
       "CN=Quorel Test Signer"},
      {"no anchors", "signer", "", nullptr, nullptr, State::NotChecked},
      {"package byte changed", "signer", "",
       [](auto& file, const auto& pe) { file[pe.tableOffset / 2] ^= 1; }, "ca.pem",
       State::DigestMismatch},
      {"header byte changed", "signer", "",
       [](auto& file, const auto&) { file[test::kPeHeader + 8] ^= 1; }, "ca.pem",
       State::DigestMismatch},
      {"checksum changed (not hashed)", "signer", "", flipChecksum, "ca.pem", State::Trusted, kCa},
      // The byte lies inside the encryptedDigest OCTET STRING: the PKCS#7 still parses.
      {"signature byte changed", "signer", "", FlipSignature, "ca.pem", State::BadSignature},
      {"table cut off", "signer", "",
       [](auto& file, const auto& pe) { file.resize(pe.tableOffset + pe.tableBytes / 2); },
       "ca.pem", State::Unreadable, "outside the file"},
      {"dwLength beyond the table", "signer", "",
       [](auto& file, const auto& pe) {
         test::PutLittleEndian(file, pe.tableOffset, pe.tableBytes + 8, 4);
       },
       "ca.pem", State::Unreadable, "length wrong"},
      {"PKCS#7 cut short", "signer", "",
       [](auto& file, const auto& pe) {
         file.resize(pe.tableOffset + pe.tableBytes / 2);
         test::PutLittleEndian(file, pe.securityEntry + 4, pe.tableBytes / 2, 4);
         test::PutLittleEndian(file, pe.tableOffset, pe.tableBytes / 2, 4);
       },
       "ca.pem", State::Unreadable, "PKCS#7 unreadable"},
      {"other CA", "other-signer", "", nullptr, "ca.pem", State::Untrusted,
       "unable to get local issuer certificate"},
      {"expired", "expired", "", nullptr, "ca.pem", State::Untrusted, "certificate has expired"},
      {"expired, time-stamped in time", "expired", "--timestamp 1590000000", nullptr, "ca.pem",
       State::Trusted, kCa, "SHA-256", "2020-05-20 18:40:00"},
      {"time stamp from an untrusted TSA", "expired", "--timestamp 1590000000", nullptr,
       "other-ca.pem", State::Untrusted, "unable to get local issuer certificate"},
      {"not for code signing", "nocs", "", nullptr, "ca.pem", State::Untrusted,
       "not for code signing"},
      {"SHA-1", "signer", "-h sha1", nullptr, "ca.pem", State::Trusted, kCa, "SHA-1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> file = Signed(row.signer, row.extra);
    if (row.change) row.change(file, *pack::ReadSigningLayout(file));
    const auto anchors =
        row.anchors ? std::optional(TrustAnchors::FromFiles({*dir_ / row.anchors})) : std::nullopt;
    const Signature signature = Check(file, anchors ? &*anchors : nullptr);
    EXPECT_EQ(signature.state, row.state) << Describe(signature);
    const std::string& detail = row.state == State::Trusted ? signature.anchor : signature.reason;
    EXPECT_NE(detail.find(row.detail), std::string::npos) << detail;
    EXPECT_EQ(signature.digest, row.state == State::Unreadable ? "" : row.digest);
    EXPECT_EQ(signature.timestamp, row.timestamp);
    // The signer is named whenever the signature can be read, a changed file too.
    EXPECT_EQ(signature.subject.empty(),
              row.state == State::Unsigned || row.state == State::Unreadable);
    // quorel-flash: a changed file is refused always (exit 2); anything not trusted, only with
    // --require-signature.
    const bool changed = row.state == State::DigestMismatch || row.state == State::BadSignature;
    EXPECT_EQ(flash_tool::CheckSignature(signature, false).refusal.value_or(0), changed ? 2 : 0);
    EXPECT_EQ(flash_tool::CheckSignature(signature, true).refusal.value_or(0),
              row.state == State::Trusted ? 0 : 2);
  }
}

// Packing a signed template leaves a file osslsigncode finds unsigned, with a right PE checksum
// (signing it afterwards is what case 30 does).
TEST_F(AuthenticodeTest, PackingLeavesAFileToSignAfterwards) {
  std::vector<uint8_t> file = Signed("signer", "");
  ASSERT_TRUE(pack::MakeSignable(file, "signed.exe"));
  test::WriteBytes(*dir_ / "packed.exe", file);
  std::string unsigned_;
  if (FILE* pipe =
          popen(("osslsigncode verify -in '" + (*dir_ / "packed.exe").string() + "' 2>&1").c_str(),
                "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) unsigned_ += line;
    pclose(pipe);
  }
  EXPECT_NE(unsigned_.find("No signature found"), std::string::npos) << unsigned_;
  EXPECT_EQ(unsigned_.find("invalid PE checksum"), std::string::npos) << unsigned_;
  EXPECT_FALSE(pack::MakeSignable(file, "packed.exe"));  // nothing left to remove
}

TEST_F(AuthenticodeTest, AnchorsAreFilesOfCertificates) {
  EXPECT_THROW(TrustAnchors::FromFiles({*dir_ / "missing.pem"}), std::runtime_error);
  EXPECT_THROW(TrustAnchors::FromFiles({*dir_ / "ca.key"}), std::runtime_error);
  EXPECT_FALSE(TrustAnchors::FromFiles({*dir_ / "ca.pem", *dir_ / "other-ca.pem"}).Empty());
}

}  // namespace
}  // namespace quorel::signature
