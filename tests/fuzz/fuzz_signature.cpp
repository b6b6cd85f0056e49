// Fuzz target: the Authenticode reader over any certificate table. The input is the table,
// appended to a small fixed PE file whose security directory entry points at it. Check runs
// without anchors and with an empty set (every chain fails; time stamps are still read). The
// seeds are tables osslsigncode made for this very file, so that their digest matches and the
// signer's signature and the time stamps are reached.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "authenticode.h"
#include "unit/pack/minimal_pe.h"

using namespace quorel;

namespace {

// The security directory entry of the minimal PE file, 1 KiB long.
constexpr std::size_t kSecurityEntry = test::kOptionalHeader + 96 + 4 * 8, kFileBytes = 1024;

std::vector<uint8_t> SmallPe() {
  std::vector<uint8_t> file(kFileBytes);
  for (std::size_t i = 0; i < kFileBytes; ++i) file[i] = static_cast<uint8_t>(i * 7 + 1);
  test::WriteMinimalPe(file);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::vector<uint8_t> pe = SmallPe();
  static const signature::TrustAnchors none = signature::TrustAnchors::FromFiles({});
  std::vector<uint8_t> file = pe;
  test::PutLittleEndian(file, kSecurityEntry, kFileBytes, 4);
  test::PutLittleEndian(file, kSecurityEntry + 4, static_cast<uint32_t>(size), 4);
  file.insert(file.end(), data, data + size);
  signature::Describe(signature::Check(file, nullptr));
  signature::Describe(signature::Check(file, &none));
  return 0;
}
