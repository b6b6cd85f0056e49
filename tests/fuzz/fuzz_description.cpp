// Fuzz target: a package description through everything the packer does with it. A description
// it accepts must build a block that validates, reads back and dumps to a text that packs again
// into the very same block.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "block.h"
#include "demo_image.h"
#include "description.h"
#include "package/package_view.h"
#include "sim/sim_machine.h"

using namespace quorel;
using namespace quorel::pack;

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_description: %s\n", what);
    std::abort();
  }
}

// Images of 1 to 4 blocks, their sizes taken from the description's bytes.
std::vector<std::vector<uint8_t>> ImagesFor(const PackageDescription& description,
                                            std::string_view text) {
  std::vector<std::vector<uint8_t>> images;
  for (std::size_t b = 0; b < description.banks.size(); ++b) {
    const std::size_t blocks = 1 + (b < text.size() ? static_cast<uint8_t>(text[b]) % 4 : 0);
    images.push_back(MakeDemoImage("F" + std::to_string(b), blocks * 16384));
  }
  return images;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static sim::SimMachine machine;  // the collation the view's checks use
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  PackageDescription description;
  std::vector<PlacedImage> placed;
  try {
    description = ParseDescription(text, "fuzz.ini");
    placed = PlaceImages(description, ImagesFor(description, text), "fuzz.ini");
  } catch (const PackError&) {
    return 0;
  }
  // The program must read what was written: no control characters, rule fields no longer than
  // it compares, and no written rule1 that it takes for a placeholder.
  for (const std::string& t : description.texts) {
    for (char c : t) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "control character");
  }
  for (const BankDescription& bank : description.banks) {
    for (int r = 0; r < layout::kEntriesPerBank; ++r) {
      if (!bank.rules[r]) continue;
      const std::string fields[] = {bank.rules[r]->minRevision, bank.rules[r]->maxRevision,
                                    bank.rules[r]->vendor, bank.rules[r]->product};
      for (int f = 0; f < layout::kEntryFieldCount; ++f) {
        Check(fields[f].size() <= layout::kEntryFields[f].counted,
              "rule field longer than compared");
      }
      Check(r != 0 || !(fields[0] == "#FLS" && fields[1].starts_with("#") &&
                        fields[2].starts_with("#") && fields[3].starts_with("#")),
            "a written rule1 reads as a placeholder");
    }
  }
  const std::vector<uint8_t> block = BuildBlock(description, placed);
  Check(block.size() == layout::kBlockBytes, "block size");
  const PackageView view(block.data());
  Check(view.Validate().empty(), "a packed block does not validate");

  const ReadBack back = ReadBlock(block.data());
  Check(back.damage.empty(), "a packed block reads back damaged");
  const std::string dumped = FormatDescription(back.description, back.notes);
  PackageDescription again;
  try {
    again = ParseDescription(dumped, "dump.ini");
  } catch (const PackError&) {
    Check(false, "the dump of a packed block does not parse");
  }
  std::vector<PlacedImage> placedAgain;
  try {
    placedAgain = PlaceImages(again, back.images, "dump.ini");
  } catch (const PackError&) {
    Check(false, "the dump's images do not place");
  }
  Check(BuildBlock(again, placedAgain) == block, "the dump packs into another block");
  return 0;
}
