// The headers of a minimal i386 PE file that signing tools take, for test files: a PE32
// optional header with its 16 data directories, and one section of initialised data that holds
// the rest of the file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorel::test {

constexpr std::size_t kPeHeader = 0x40, kOptionalHeader = 0x58, kSectionHeader = 0x138,
                      kPeHeaderBytes = 0x200;

inline void PutLittleEndian(std::vector<uint8_t>& file, std::size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Writes the headers over the first kPeHeaderBytes of `file`, which must be longer.
inline void WriteMinimalPe(std::vector<uint8_t>& file) {
  const auto put = [&](std::size_t at, uint32_t value, int bytes) {
    PutLittleEndian(file, at, value, bytes);
  };
  std::fill(file.begin(), file.begin() + kPeHeaderBytes, 0);
  put(0, 'M' | 'Z' << 8, 2);
  put(0x3C, kPeHeader, 4);
  put(kPeHeader, 0x00004550, 4);  // "PE\0\0"
  put(kPeHeader + 4, 0x014C, 2);  // i386
  put(kPeHeader + 6, 1, 2);       // one section
  put(kPeHeader + 20, kSectionHeader - kOptionalHeader, 2);
  put(kOptionalHeader, 0x10B, 2);                // PE32
  put(kOptionalHeader + 32, 0x1000, 4);          // section alignment
  put(kOptionalHeader + 36, 0x200, 4);           // file alignment
  put(kOptionalHeader + 60, kPeHeaderBytes, 4);  // size of the headers
  put(kOptionalHeader + 68, 2, 2);               // the Windows GUI subsystem
  put(kOptionalHeader + 92, 16, 4);              // data directories
  put(kSectionHeader + 16, static_cast<uint32_t>(file.size() - kPeHeaderBytes), 4);
  put(kSectionHeader + 20, kPeHeaderBytes, 4);
  put(kSectionHeader + 36, 0xC0000040, 4);  // initialised data, read, write
}

}  // namespace quorel::test
