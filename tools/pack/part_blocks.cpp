#include "part_blocks.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include "block.h"
#include "description.h"
#include "flash/part_table.h"
#include "package/bytes.h"
#include "package/sha256.h"

namespace quorel::pack {
namespace {

// How --dump and the refusals name a kind of part blocks.
const char* KindName(PartBlockKind kind) {
  switch (kind) {
    case PartBlockKind::Maker:
      return "the drive maker's file";
    case PartBlockKind::StandIn:
      return "stand-in";
    case PartBlockKind::Placeholder:
      break;
  }
  return "placeholder";
}

}  // namespace

std::optional<PartBlocks> FindPartBlocks(const std::vector<uint8_t>& file,
                                         const std::string& fileName) {
  std::optional<PartBlocks> found;
  int count = 0;
  for (const std::size_t at : FindAll(file, reinterpret_cast<const uint8_t*>(kPartBlockOriginTag),
                                      sizeof kPartBlockOriginTag)) {
    if (file.size() - at < sizeof(PartBlockOrigin)) continue;
    // The tag alone may also be a text of some program; the whole record must hold.
    PartBlockOrigin record;
    std::memcpy(&record, file.data() + at, sizeof record);
    const uint32_t bytes =
        ReadLittleEndian(file.data() + at + offsetof(PartBlockOrigin, dataBytes), 4);
    if (record.kind > static_cast<uint8_t>(PartBlockKind::StandIn) || record.reserved[0] != 0 ||
        record.reserved[1] != 0 || record.reserved[2] != 0 || bytes != kPartBlockDataBytes) {
      continue;
    }
    ++count;
    PartBlocks blocks;
    blocks.kind = static_cast<PartBlockKind>(record.kind);
    blocks.sha256 = DigestHex(std::to_array(record.sha256));
    blocks.offset = at;
    found = blocks;
  }
  if (count > 1) {
    throw PackError(fileName + ": its part-block record occurs " + std::to_string(count) +
                    " times; it must occur exactly once");
  }
  return found;
}

void CheckPartBlocks(const std::vector<uint8_t>& templateFile, const std::string& templateName,
                     bool demo) {
  const std::optional<PartBlocks> blocks = FindPartBlocks(templateFile, templateName);
  if (demo) return;
  if (!blocks) {
    throw PackError(templateName +
                    ": no part-block record found, so its part blocks cannot be told apart from "
                    "the placeholder; pack it with --demo only if the result is a demo");
  }
  if (blocks->kind != PartBlockKind::Maker) {
    throw PackError(templateName + ": it carries the " + KindName(blocks->kind) +
                    " part blocks, not the drive maker's data, and updates only the simulated "
                    "test drive. Build quorel.exe with -DQUOREL_PART_BLOCKS=FILE (the maker's "
                    "file, QUOREL_PART_BLOCKS_STANDIN off), or pack with --demo to make a demo");
  }
}

std::string DescribePartBlocks(const std::vector<uint8_t>& file, const std::string& fileName) {
  const std::optional<PartBlocks> blocks = FindPartBlocks(file, fileName);
  if (!blocks) return "; part blocks: unknown (no part-block record)\n";
  return std::string("; part blocks: ") + KindName(blocks->kind) +
         (blocks->kind == PartBlockKind::Maker
              ? ", SHA-256 " + blocks->sha256
              : ", not the drive maker's data (updates only the simulated test drive)") +
         "\n";
}

}  // namespace quorel::pack
