// A packed flasher read from its file: what the program finds in its own image at start-up (the
// package block, its seal record, the part blocks and their record), copied out of the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/part_block_origin.h"

namespace quorel::flash_tool {

struct FlasherFile {
  std::vector<uint8_t> block;       // the whole package block
  std::vector<uint8_t> sealRecord;  // the whole seal record
  PartBlockOrigin partBlockOrigin{};
  std::vector<uint8_t> partBlocks;  // kPartBlockDataBytes, as the file carries them
};

// Finds each part exactly once; pack::PackError naming fileName when one is missing, repeated
// or cut off. Nothing here is checked beyond that: the program's own start-up checks the block,
// the seal and the part blocks against their record.
FlasherFile ReadFlasher(const std::vector<uint8_t>& file, const std::string& fileName);

}  // namespace quorel::flash_tool
