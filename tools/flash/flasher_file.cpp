#include "flasher_file.h"

#include <cstring>
#include <optional>

#include "block.h"
#include "description.h"
#include "package/layout.h"
#include "package/seal.h"
#include "part_blocks.h"

namespace quorel::flash_tool {

using pack::PackError;

FlasherFile ReadFlasher(const std::vector<uint8_t>& file, const std::string& fileName) {
  FlasherFile flasher;
  const std::size_t blockAt = pack::FindOneBlock(file, fileName);
  const auto block = file.begin() + static_cast<std::ptrdiff_t>(blockAt);
  flasher.block.assign(block, block + layout::kBlockBytes);

  const std::vector<std::size_t> seals = pack::FindSealRecords(file, blockAt);
  if (seals.size() != 1) {
    throw PackError(fileName + ": its seal record occurs " + std::to_string(seals.size()) +
                    " times; it must occur exactly once");
  }
  const auto seal = file.begin() + static_cast<std::ptrdiff_t>(seals[0]);
  flasher.sealRecord.assign(seal, seal + seal::kRecordBytes);

  const std::optional<pack::PartBlocks> parts = pack::FindPartBlocks(file, fileName);
  const std::size_t dataAt = parts ? parts->offset + sizeof(PartBlockOrigin) : 0;
  if (!parts || file.size() - dataAt < kPartBlockDataBytes) {
    throw PackError(fileName + ": no part blocks found: it is not a flasher of this program");
  }
  std::memcpy(&flasher.partBlockOrigin, file.data() + parts->offset, sizeof(PartBlockOrigin));
  const auto data = file.begin() + static_cast<std::ptrdiff_t>(dataAt);
  flasher.partBlocks.assign(data, data + kPartBlockDataBytes);
  return flasher;
}

}  // namespace quorel::flash_tool
