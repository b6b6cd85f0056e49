// SHA-256 (FIPS 180-4): the digest of a package's seal, and of the bank images that the packaging
// tool reports.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorel {

std::array<uint8_t, 32> Sha256(const uint8_t* data, std::size_t length);
// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const uint8_t* data, std::size_t length);
std::string DigestHex(const std::array<uint8_t, 32>& digest);

}  // namespace quorel
