// The package block of the template executable. The packaging tool finds these bytes in the
// file (by their layout and the two placeholders) and overwrites them; the program reads them in
// place. Kept in a translation unit of its own so that no other code sees the initialiser.
#include <array>
#include <cstdint>
#include <string_view>

#include "package/layout.h"

namespace quorel {
namespace {

using namespace layout;
using Block = std::array<std::uint8_t, kBlockBytes>;

// Writes key and value at the field's offset; the rest of the field stays zero. A text that
// does not fit with its terminating zero throws, which stops the compilation of the template.
constexpr void Put(Block& block, std::uint32_t offset, std::uint32_t width, std::string_view key,
                   std::string_view value) {
  if (key.size() + value.size() >= width) throw "text does not fit its field";
  std::uint32_t at = offset;
  for (char c : key) block[at++] = static_cast<std::uint8_t>(c);
  for (char c : value) block[at++] = static_cast<std::uint8_t>(c);
}

constexpr void Put(Block& block, const Field& field, std::string_view value) {
  Put(block, field.offset, field.width, field.key, value);
}

struct Rule {
  std::string_view minRevision, maxRevision, vendor, product;
};

constexpr void PutEntry(Block& block, int bank, int entry, const Rule& rule) {
  const std::uint32_t at = EntryOffset(bank, entry);
  const std::string_view texts[kEntryFieldCount] = {rule.minRevision, rule.maxRevision, rule.vendor,
                                                    rule.product};
  for (int f = 0; f < kEntryFieldCount; ++f) {
    Put(block, at + kEntryFields[f].offset, kEntryFields[f].width, "", texts[f]);
  }
}

constexpr Block BuildTemplate() {
  Block block{};

  Put(block, kTexts[kCredit], "[Quorel developers]");
  Put(block, kTexts[kVersion], "v2.0.0");
  Put(block, kTexts[kContact], "see README");
  Put(block, kTexts[kTitle], kTitlePlaceholder);  // filled by packaging
  Put(block, kTexts[kDate], "2004/01/14");
  Put(block, kTexts[kSpare], "N/A");
  Put(block, kTexts[kDrive], "TARN-EX DVDRW QVX-270T");

  Put(block, kTableKey, "");
  // Bank 1 admits the drive from KM01 to KM0P and at 0K03; every other place holds a
  // placeholder entry.
  PutEntry(block, 0, 0, {"KM01", "KM0P", "TARN-EX ", "DVDRW QVX-270T  "});
  PutEntry(block, 0, 1, {"0K03", "0K03", "TARN-EX ", "DVDRW QVX-270T  "});
  for (int bank = 0; bank < kBanks; ++bank) {
    for (int entry = (bank == 0 ? 2 : 0); entry < kEntriesPerBank; ++entry) {
      const std::array<char, 8> min = PlaceholderMinRevision(bank, entry);
      PutEntry(
          block, bank, entry,
          {std::string_view(min.data()), kPlaceholderMark, kPlaceholderMark, kPlaceholderMark});
    }
  }

  Put(block, kSettings[kN2OMESSAGE], "0");
  Put(block, kSettings[kCHKDISC], "0");
  Put(block, kSettings[kBOOTCODE], "1");
  Put(block, kSettings[kREBOOT], "1");
  Put(block, kSettings[kAUTOMODE], "0");
  Put(block, kSettings[kCLOSEAP], "0");
  Put(block, kSettings[kWARNING], "1");
  Put(block, kSettings[kNBWARNING], "0");
  Put(block, kSettings[kHOW_MANY_BIN], "1");

  for (int bank = 0; bank < kBanks; ++bank) {
    Put(block, kStartSlots[bank], "0000000000");
    Put(block, kSizeSlots[bank], bank == 0 ? "0001048576" : "0000000000");
    Put(block, kNewRevisionSlots[bank], bank == 0 ? "KM0P" : "N/A ");
  }

  Put(block, kImageOffset, kImageBytes, "", kImagePlaceholder);  // filled by packaging
  return block;
}

// constinit: built by the compiler and emitted as initialised data, byte for byte as laid out,
// so that the file can be patched in place. Never written at run time, yet deliberately not
// const: for a const object the compiler may also record the whole value in the debug
// information, a second copy of the block in the file that would stop the packaging tool from
// finding the block exactly once.
constinit Block kPackageBlock = BuildTemplate();

}  // namespace

const std::uint8_t* EmbeddedPackageBlock() {
  const std::uint8_t* bytes = kPackageBlock.data();
  // The empty asm claims to change the pointer, so the optimiser cannot see that it points at
  // kPackageBlock and cannot fold reads of the block into the constants of the initialiser:
  // after packaging, the program must see the bytes in the file, not the template's.
  asm("" : "+r"(bytes));
  return bytes;
}

}  // namespace quorel
