// Fuzz target: the package view and the compatibility rules over damaged blocks. The input is a
// list of patches over a sound block: two bytes of offset into the header and the first bytes
// of the image area, one byte of length, then that many bytes. Whatever passes Validate must be
// readable through every accessor the program uses without reading outside the block (ASan
// holds the block in a heap buffer of exactly its size).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "block.h"
#include "demo_image.h"
#include "description.h"
#include "device/compat.h"
#include "device/device_entry.h"
#include "package/layout.h"
#include "package/package_view.h"
#include "platform/collation.h"
#include "sim/sim_machine.h"

using namespace quorel;

namespace {

std::vector<uint8_t> SoundBlock() {
  const pack::PackageDescription d = pack::ParseDescription(
      "[texts]\ncredit=c\nversion=v1\ncontact=x\ntitle=T\ndate=d\nspare=s\ndrive=D\n"
      "[settings]\nN2OMESSAGE=1\nCHKDISC=0\nBOOTCODE=1\nREBOOT=0\nAUTOMODE=0\nCLOSEAP=0\n"
      "WARNING=0\nNBWARNING=0\n"
      "[bank1]\nimage=a\nnew_fw=KM0P\nrule1=KM01|KM0P|\"TARN-EX \"|\"DVDRW QVX-270T  \"\n"
      "[bank2]\nimage=b\nnew_fw=KM1A\nrule1=KM10|KM1A||\n",
      "base.ini");
  std::vector<std::vector<uint8_t>> images = {pack::MakeDemoImage("KM0P", 32768),
                                              pack::MakeDemoImage("KM1A", 16384)};
  std::vector<uint8_t> block =
      pack::BuildBlock(d, pack::PlaceImages(d, std::move(images), "base.ini"));
  // No zero in the free image area, so that a text read past its end runs off the block.
  std::fill(block.begin() + layout::kImageOffset + 49152, block.end(), 0xA5);
  return block;
}

// A text the program reads ends inside its field, or is an empty text of the program's own.
void CheckEndsInside(const char* text, const uint8_t* block, const layout::Field& field) {
  const char* begin = reinterpret_cast<const char*>(block);
  if ((text < begin || text >= begin + layout::kBlockBytes) && *text == '\0') return;
  const char* end = begin + field.offset + field.width;
  if (text < begin + field.offset || text >= end ||
      std::memchr(text, 0, static_cast<std::size_t>(end - text)) == nullptr) {
    std::fprintf(stderr, "fuzz_package_view: %s does not end inside its field\n",
                 std::string(field.name).c_str());
    std::abort();
  }
}

DeviceEntry Drive(const char* vendor, const char* product, const char* revision) {
  DeviceEntry entry{};
  std::strncpy(entry.vendor, vendor, sizeof entry.vendor - 1);
  std::strncpy(entry.product, product, sizeof entry.product - 1);
  std::strncpy(entry.revision, revision, sizeof entry.revision - 1);
  entry.present = 1;
  return entry;
}

// The simulated machine without its call record, which would grow with every run.
class Machine : public sim::SimMachine {
 public:
  int CompareStringA(const char* a, int lengthA, const char* b, int lengthB) override {
    return HostCompareStringA(a, lengthA, b, lengthB);
  }
};

volatile uint8_t g_sink;

void Touch(const std::string& text) {
  for (char c : text) g_sink = g_sink + static_cast<uint8_t>(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static Machine machine;
  static const std::vector<uint8_t> sound = SoundBlock();
  // Patched in place and restored afterwards: copying 1 MiB a run would cost most of the time.
  static std::vector<uint8_t> block = sound;
  constexpr std::size_t kReach = layout::kHeaderBytes + 64;
  struct Restore {
    ~Restore() { std::memcpy(block.data(), sound.data(), kReach); }
  } restore;
  for (std::size_t at = 0; at + 3 <= size;) {
    const std::size_t offset = (data[at] | data[at + 1] << 8) % kReach;
    std::size_t length = data[at + 2];
    at += 3;
    length = std::min({length, size - at, block.size() - offset});
    std::memcpy(block.data() + offset, data + at, length);
    at += length;
  }

  const PackageView view(block.data());
  if (!view.Validate().empty()) return 0;
  const PackageSettings settings = view.ReadSettings();
  // What start-up and the drive list read: texts as C strings, the caption, the revisions.
  CheckEndsInside(view.TitleText(), block.data(), layout::kTexts[layout::kTitle]);
  CheckEndsInside(view.VersionText(), block.data(), layout::kTexts[layout::kVersion]);
  CheckEndsInside(view.DriveName(), block.data(), layout::kTexts[layout::kDrive]);
  Touch(view.TitleText());
  Touch(view.VersionText());
  Touch(view.DriveName());
  Touch(CaptionFor(view.TitleText(), view.VersionText()));
  for (int bank = 0; bank < std::min<int>(settings.HOW_MANY_BIN, layout::kBanks); ++bank) {
    CheckEndsInside(view.NewRevisionText(bank), block.data(), layout::kNewRevisionSlots[bank]);
    Touch(view.NewRevisionText(bank));
    const BankImage image = view.Bank(bank);
    if (image.image != nullptr && image.sizeBytes > 0) {
      g_sink = image.image[0];
      g_sink = image.image[image.sizeBytes - 1];
    }
  }
  for (const DeviceEntry& drive :
       {Drive("TARN-EX ", "DVDRW QVX-270T  ", "KM05"),
        Drive("OTHER CO", "DVD-ROM X       ", "1.00"), Drive("#", "#", "#FLS")}) {
    DeviceEntry entry = drive;
    ApplyCompatibilityRules(entry, view, settings);
    if (entry.updatable) g_sink = static_cast<uint8_t>(entry.bankIndex);
  }
  return 0;
}
