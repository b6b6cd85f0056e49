// quorel-flash reads what the program finds in its own image: the block, the seal record, and
// the part blocks right after their record; anything missing, repeated or cut off is refused.
#include "flasher_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "description.h"
#include "unit/pack/pack_fixture.h"

namespace quorel::test {
namespace {

std::vector<uint8_t> EmbeddedPartBlockBytes() {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&kEmbeddedPartBlocks);
  return std::vector<uint8_t>(bytes, bytes + sizeof(PartBlockOrigin) + kPartBlockDataBytes);
}

TEST(FlasherFile, ReadsWhatTheProgramWouldFindInItself) {
  const std::vector<uint8_t> file = TemplateFile(4099, EmbeddedPartBlockBytes());
  const flash_tool::FlasherFile flasher = flash_tool::ReadFlasher(file, "f");
  const uint8_t* block = PackageView::Embedded().Bytes();
  EXPECT_EQ(flasher.block, std::vector<uint8_t>(block, block + layout::kBlockBytes));
  const uint8_t* seal = EmbeddedSealRecord();
  EXPECT_EQ(flasher.sealRecord, std::vector<uint8_t>(seal, seal + seal::kRecordBytes));
  EXPECT_EQ(0, std::memcmp(&flasher.partBlockOrigin, &kPartBlockOrigin, sizeof kPartBlockOrigin));
  EXPECT_EQ(flasher.partBlocks,
            std::vector<uint8_t>(PartBlockData, PartBlockData + kPartBlockDataBytes));
}

TEST(FlasherFile, RefusesWhatIsMissingRepeatedOrCut) {
  std::vector<uint8_t> cut = TemplateFile(4099, EmbeddedPartBlockBytes());
  cut.resize(cut.size() - 1);

  std::vector<uint8_t> twoBlocks = TemplateFile(0, EmbeddedPartBlockBytes());
  const std::vector<uint8_t> again = TemplateFile(0, EmbeddedPartBlockBytes());
  twoBlocks.insert(twoBlocks.end(), again.begin(), again.end());
  for (const auto& file : {cut, TemplateFile(4099), twoBlocks, std::vector<uint8_t>(100, 0)}) {
    EXPECT_THROW(flash_tool::ReadFlasher(file, "f"), pack::PackError);
  }
}

}  // namespace
}  // namespace quorel::test
