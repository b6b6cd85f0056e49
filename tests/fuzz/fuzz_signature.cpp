// Fuzz target: the Authenticode reader over any certificate table. The input is the table,
// appended to a small fixed PE file whose security directory entry points at it. Check runs
// without anchors and with an empty set (every chain fails; time stamps are still read). The
// seeds are tables osslsigncode made for this very file, so that their digest matches and the
// signer's signature and the time stamps are reached.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "authenticode.h"

using namespace quorel;

namespace {

constexpr std::size_t kSecurityEntry = 0x58 + 96 + 4 * 8, kFileBytes = 1024;

void Put(std::vector<uint8_t>& file, std::size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A PE32 file: the headers, then one 512-byte section of initialised data.
std::vector<uint8_t> SmallPe() {
  std::vector<uint8_t> file(kFileBytes);
  for (std::size_t i = 0x200; i < kFileBytes; ++i) file[i] = static_cast<uint8_t>(i * 7 + 1);
  Put(file, 0, 'M' | 'Z' << 8, 2);
  Put(file, 0x3C, 0x40, 4);
  Put(file, 0x40, 0x00004550, 4);  // "PE\0\0"
  Put(file, 0x44, 0x014C, 2);      // i386
  Put(file, 0x46, 1, 2);           // one section
  Put(file, 0x54, 0x138 - 0x58, 2);
  Put(file, 0x58, 0x10B, 2);  // PE32
  Put(file, 0x58 + 32, 0x1000, 4);
  Put(file, 0x58 + 36, 0x200, 4);
  Put(file, 0x58 + 60, 0x200, 4);  // size of the headers
  Put(file, 0x58 + 68, 2, 2);
  Put(file, 0x58 + 92, 16, 4);  // data directories
  Put(file, 0x138 + 16, 0x200, 4);
  Put(file, 0x138 + 20, 0x200, 4);
  Put(file, 0x138 + 36, 0xC0000040, 4);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::vector<uint8_t> pe = SmallPe();
  static const signature::TrustAnchors none = signature::TrustAnchors::FromFiles({});
  std::vector<uint8_t> file = pe;
  Put(file, kSecurityEntry, kFileBytes, 4);
  Put(file, kSecurityEntry + 4, static_cast<uint32_t>(size), 4);
  file.insert(file.end(), data, data + size);
  signature::Describe(signature::Check(file, nullptr));
  signature::Describe(signature::Check(file, &none));
  return 0;
}
