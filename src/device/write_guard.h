// Which drives this build may write. The part blocks a build carries come from one of three
// origins; only the drive maker's file may reach a real drive, since a drive that programs a
// made-up part block may not start again.
#pragma once

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
extern const PartBlockOrigin kPartBlockOrigin;

// The simulated test drive's INQUIRY bytes 36-51 (vendor specific), an answer no real drive
// gives.
inline constexpr char kSimulatedDriveMarker[17] = "QUOREL SIM DRIVE";

// Whether this build may write to a drive whose INQUIRY bytes 36-51 are vendorSpecific (16
// bytes): a build with the maker's part blocks any drive, every other build only the simulated
// test drive.
bool PartBlocksAllowedFor(const char* vendorSpecific);

}  // namespace quorel
