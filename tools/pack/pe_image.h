// The parts of a PE file's headers that signing touches: the checksum field, the security
// directory entry and the certificate table it points to (an Authenticode signature).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorel::pack {

struct PeSigningLayout {
  std::size_t checksumField = 0;  // file offset of the optional header's CheckSum
  std::size_t securityEntry = 0;  // file offset of the security directory entry (8 bytes)
  // The certificate table as the entry gives it (a file offset, not an RVA); 0, 0 when none.
  uint32_t tableOffset = 0;
  uint32_t tableBytes = 0;

  bool Signed() const { return tableBytes != 0; }
};

// The layout of a PE32 or PE32+ file, or nothing when the headers are not those of one (no
// optional header, or one too short to hold the security directory entry). The table's
// position is returned as the file says; whether it lies inside the file is the caller's check
// (TableInsideFile).
std::optional<PeSigningLayout> ReadSigningLayout(const std::vector<uint8_t>& file);

// True when the certificate table lies within the file and after the headers.
bool TableInsideFile(const PeSigningLayout& layout, std::size_t fileBytes);

// The PE checksum of the file as the loader and signing tools compute it: 16-bit one's
// complement sum of the file's words with the checksum field taken as zero, plus the length.
uint32_t PeChecksum(const std::vector<uint8_t>& file, const PeSigningLayout& layout);

// Cuts a certificate table off the end of the file and zeroes the security directory entry;
// false when the file carries none. PackError (naming fileName) when the entry points anywhere
// but to the file's end. The checksum is left for UpdateChecksum.
bool RemoveCertificateTable(std::vector<uint8_t>& file, const PeSigningLayout& layout,
                            const std::string& fileName);

// Writes PeChecksum into the checksum field.
void UpdateChecksum(std::vector<uint8_t>& file, const PeSigningLayout& layout);

}  // namespace quorel::pack
