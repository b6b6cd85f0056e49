#include "package/seal.h"

#include <algorithm>

#include "package/bytes.h"
#include "package/layout.h"
#include "package/sha256.h"

namespace quorel::seal {
namespace {

using Record = std::array<uint8_t, kRecordBytes>;

// The marker text exists only while compiling: the record's initialiser and the inverted copy
// below are made from it, and nothing at run time refers to it.
consteval std::array<uint8_t, kMarkerBytes> MarkerText() {
  constexpr char text[kMarkerBytes + 1] = "QUOREL:SEAL:REC";  // 15 characters and a zero
  std::array<uint8_t, kMarkerBytes> bytes{};
  for (std::size_t i = 0; i < kMarkerBytes; ++i) bytes[i] = static_cast<uint8_t>(text[i]);
  return bytes;
}

consteval std::array<uint8_t, kMarkerBytes> InvertedMarker() {
  std::array<uint8_t, kMarkerBytes> bytes = MarkerText();
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(~b);
  return bytes;
}

consteval Record EmptyRecord() {
  Record record{};
  const std::array<uint8_t, kMarkerBytes> marker = MarkerText();
  for (std::size_t i = 0; i < kMarkerBytes; ++i) record[i] = marker[i];
  return record;
}

constexpr std::array<uint8_t, kMarkerBytes> kInvertedMarker = InvertedMarker();

// The template's record. constinit and not const, for the reasons given at the package block.
constinit Record kSealRecord = EmptyRecord();

uint32_t Version(const uint8_t* record) {
  return ReadLittleEndian(record + kVersionOffset, 4);
}

void PutVersion(uint8_t* record, uint32_t version) {
  for (int i = 0; i < 4; ++i) record[kVersionOffset + i] = static_cast<uint8_t>(version >> 8 * i);
}

}  // namespace

std::array<uint8_t, kMarkerBytes> Marker() {
  const uint8_t* inverted = kInvertedMarker.data();
  // Opaque to the optimiser, which could otherwise fold the inversion back into the marker text
  // and store that as a constant: a second copy of the marker in the file.
  asm("" : "+r"(inverted));
  std::array<uint8_t, kMarkerBytes> marker{};
  for (std::size_t i = 0; i < kMarkerBytes; ++i) marker[i] = static_cast<uint8_t>(~inverted[i]);
  return marker;
}

State Check(const uint8_t* record, const uint8_t* block) {
  if (record == nullptr) return State::Unsealed;
  const std::array<uint8_t, kMarkerBytes> marker = Marker();
  if (!std::equal(marker.begin(), marker.end(), record)) return State::Unreadable;
  const uint8_t* digest = record + kDigestOffset;
  switch (Version(record)) {
    case kUnsealedVersion:
      // A sealed record that lost its version byte still has its digest: not unsealed.
      return std::all_of(digest, digest + kDigestBytes, [](uint8_t b) { return b == 0; })
                 ? State::Unsealed
                 : State::Unreadable;
    case kSha256Version: {
      const std::array<uint8_t, 32> actual = Sha256(block, layout::kBlockBytes);
      return std::equal(actual.begin(), actual.end(), digest) ? State::Verified : State::Mismatch;
    }
    default:
      return State::Unreadable;
  }
}

void Write(uint8_t* record, const uint8_t* block) {
  Clear(record);
  PutVersion(record, kSha256Version);
  const std::array<uint8_t, 32> digest = Sha256(block, layout::kBlockBytes);
  std::copy(digest.begin(), digest.end(), record + kDigestOffset);
}

void Clear(uint8_t* record) {
  const std::array<uint8_t, kMarkerBytes> marker = Marker();
  std::copy(marker.begin(), marker.end(), record);
  std::fill(record + kVersionOffset, record + kRecordBytes, uint8_t{0});
}

}  // namespace quorel::seal

namespace quorel {

const std::uint8_t* EmbeddedSealRecord() {
  const std::uint8_t* bytes = seal::kSealRecord.data();
  asm("" : "+r"(bytes));  // read what is in the file, not the initialiser (see the block)
  return bytes;
}

}  // namespace quorel
