// Where the build's part blocks came from, and so which drives it may write. They come from one
// of three origins; only the drive maker's file may reach a real drive, since a drive that
// programs a made-up part block may not start again.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorel {

// Where the build's part blocks came from.
enum class PartBlockKind : uint8_t {
  Maker = 0,        // the drive maker's file
  Placeholder = 1,  // the source tree's placeholder
  StandIn = 2,      // stand-in bytes of a test build (configured with QUOREL_PART_BLOCKS_STANDIN)
};

// What the build embedded as its part blocks, generated with them: their kind and SHA-256.
// quorel-pack finds it in an executable by its tag and the program checks the part blocks
// against it at start-up; keep the layout.
struct PartBlockOrigin {
  char tag[16];         // kPartBlockOriginTag
  uint8_t kind;         // PartBlockKind
  uint8_t reserved[3];  // zero
  uint8_t sha256[32];   // of the part-block bytes
  uint32_t dataBytes;   // their count, little-endian
};
static_assert(sizeof(PartBlockOrigin) == 56);
inline constexpr char kPartBlockOriginTag[16] = "QUOREL PARTBLKS";

// The part blocks' length: the 20 distinct blocks of the flash part table.
constexpr uint32_t kPartBlockDataBytes = 17850;

// What the build embeds: the record, and right after it the bytes it describes, so that a
// reader of the executable finds the part blocks through their record.
struct EmbeddedPartBlocks {
  PartBlockOrigin origin;
  uint8_t data[kPartBlockDataBytes];
};
static_assert(offsetof(EmbeddedPartBlocks, data) == sizeof(PartBlockOrigin));
extern const EmbeddedPartBlocks kEmbeddedPartBlocks;
inline const PartBlockOrigin& kPartBlockOrigin = kEmbeddedPartBlocks.origin;
inline const uint8_t (&PartBlockData)[kPartBlockDataBytes] = kEmbeddedPartBlocks.data;

// The part blocks the program sends, and the record that says what they are: the build's own,
// unless a front end that reads them from a flasher file installs those, once, before any drive
// is touched. The program checks them against the record at start-up.
struct PartBlockSource {
  const uint8_t* data;  // kPartBlockDataBytes bytes
  const PartBlockOrigin* origin;
};
const PartBlockSource& ActivePartBlocks();
void UsePartBlocks(const PartBlockSource& source);

// The simulated test drive's INQUIRY bytes 36-51 (vendor specific), an answer no real drive
// gives.
inline constexpr char kSimulatedDriveMarker[17] = "QUOREL SIM DRIVE";

// Whether the program may write to a drive whose INQUIRY bytes 36-51 are vendorSpecific (16
// bytes): with the maker's part blocks (ActivePartBlocks) any drive, with any others only the
// simulated test drive.
bool PartBlocksAllowedFor(const char* vendorSpecific);

}  // namespace quorel
