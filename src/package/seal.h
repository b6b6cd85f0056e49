// The seal of a package: a small record outside the package block, in the executable's own data,
// holding the SHA-256 of the whole block as packed. It tells a flasher that was damaged after
// packing (a truncated copy, a flipped bit) from the one that was packed. It is no signature:
// whoever can rewrite the block can rewrite the seal too.
//
// Record, kRecordBytes: the marker (16 bytes) by which the packaging tool finds the record in
// the file, the format version (32 bits, little-endian) and the digest (32 bytes). Version 0 with
// a zero digest is an unsealed record (the template's, or one cleared by hand); version 1 carries
// the digest. Anything else is a damaged record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quorel::seal {

inline constexpr std::size_t kMarkerBytes = 16;
inline constexpr std::size_t kVersionOffset = kMarkerBytes;
inline constexpr std::size_t kDigestOffset = kVersionOffset + 4;
inline constexpr std::size_t kDigestBytes = 32;
inline constexpr std::size_t kRecordBytes = kDigestOffset + kDigestBytes;
inline constexpr uint32_t kUnsealedVersion = 0;
inline constexpr uint32_t kSha256Version = 1;

enum class State {
  Unsealed,    // nothing to check: runs as without a seal
  Verified,    // the block is the one that was sealed
  Mismatch,    // the block differs from the one that was sealed
  Unreadable,  // the record itself is damaged: wrong marker or unknown version
};

// The marker bytes, made at run time: the program carries them only inside its record, so that
// the record is found exactly once in the file.
std::array<uint8_t, kMarkerBytes> Marker();

// Checks a record against a whole block (layout::kBlockBytes). Hashes the block only for a sealed
// record. A null record reads as unsealed.
State Check(const uint8_t* record, const uint8_t* block);

// Writes a whole record sealing `block` (marker included).
void Write(uint8_t* record, const uint8_t* block);
// Writes a whole unsealed record, as the template carries it.
void Clear(uint8_t* record);

}  // namespace quorel::seal

namespace quorel {
// The seal record carried in this executable; like the block, read as the bytes in the file.
const std::uint8_t* EmbeddedSealRecord();
}  // namespace quorel
