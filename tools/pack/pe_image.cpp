#include "pe_image.h"

#include <algorithm>

#include "block.h"
#include "package/bytes.h"

namespace quorel::pack {

std::optional<PeSigningLayout> ReadSigningLayout(const std::vector<uint8_t>& file) {
  const auto le = [&](uint64_t at, std::size_t bytes) {
    return ReadLittleEndian(file.data() + at, bytes);
  };
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') return std::nullopt;
  const uint64_t pe = le(0x3C, 4);
  if (pe + 24 > file.size() || le(pe, 4) != 0x00004550) return std::nullopt;
  const uint64_t optional = pe + 24;
  const uint64_t optionalBytes = le(pe + 20, 2);
  if (optionalBytes < 2 || optional + optionalBytes > file.size()) return std::nullopt;
  uint64_t directories = 0;  // offset of the data directories within the optional header
  switch (le(optional, 2)) {
    case 0x10B:
      directories = 96;
      break;  // PE32
    case 0x20B:
      directories = 112;
      break;  // PE32+
    default:
      return std::nullopt;
  }
  constexpr uint64_t kSecurity = 4;  // the security directory's index
  if (optionalBytes < directories + (kSecurity + 1) * 8 ||
      le(optional + directories - 4, 4) <= kSecurity) {
    return std::nullopt;
  }
  PeSigningLayout layout;
  layout.checksumField = optional + 64;
  layout.securityEntry = optional + directories + kSecurity * 8;
  layout.tableOffset = le(layout.securityEntry, 4);
  layout.tableBytes = le(layout.securityEntry + 4, 4);
  if (layout.tableBytes == 0) layout.tableOffset = 0;
  return layout;
}

bool TableInsideFile(const PeSigningLayout& layout, std::size_t fileBytes) {
  return layout.tableOffset >= layout.securityEntry + 8 &&
         uint64_t{layout.tableOffset} + layout.tableBytes <= fileBytes;
}

uint32_t PeChecksum(const std::vector<uint8_t>& file, const PeSigningLayout& layout) {
  uint64_t sum = 0;
  for (std::size_t at = 0; at < file.size(); at += 2) {
    if (at == layout.checksumField || at == layout.checksumField + 2) continue;
    sum += file[at] | (at + 1 < file.size() ? file[at + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + file.size());
}

bool RemoveCertificateTable(std::vector<uint8_t>& file, const PeSigningLayout& layout,
                            const std::string& fileName) {
  if (!layout.Signed()) return false;
  if (!TableInsideFile(layout, file.size()) ||
      uint64_t{layout.tableOffset} + layout.tableBytes != file.size()) {
    throw PackError(fileName +
                    ": its certificate table is not at the end of the file, so its signature "
                    "cannot be removed");
  }
  file.resize(layout.tableOffset);
  std::fill(file.begin() + layout.securityEntry, file.begin() + layout.securityEntry + 8, 0);
  return true;
}

void UpdateChecksum(std::vector<uint8_t>& file, const PeSigningLayout& layout) {
  const uint32_t checksum = PeChecksum(file, layout);
  for (int i = 0; i < 4; ++i)
    file[layout.checksumField + i] = static_cast<uint8_t>(checksum >> (8 * i));
}

}  // namespace quorel::pack
