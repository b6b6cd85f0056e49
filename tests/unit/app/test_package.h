// A package block for the window's tests: a copy of the embedded template with the fields a
// test needs written in. Defaults: a titled package for the simulated drive, bank 1 admitting
// revisions KM01 to KM0P and installing a 64 KiB demo image that reports "KM0P", no notice,
// no restart, manual mode.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "package/layout.h"
#include "package/package_view.h"
#include "package/seal.h"
#include "sim/sim_drive.h"

namespace quorel::test {

class TestPackage {
 public:
  TestPackage() {
    const uint8_t* embedded = PackageView::Embedded().Bytes();
    bytes_.assign(embedded, embedded + layout::kBlockBytes);
    SetText(layout::kTitle, "Flash Program for Test Drive");
    SetText(layout::kVersion, "v2.0.0");
    SetText(layout::kDrive, "TARN-EX DVDRW QVX-270T");
    for (int bank = 0; bank < layout::kBanks; ++bank) {
      for (int entry = 0; entry < layout::kEntriesPerBank; ++entry) {
        SetEntry(bank, entry, layout::PlaceholderMinRevision(bank, entry).data(), "#", "#", "#");
      }
    }
    SetEntry(0, 0, "KM01", "KM0P", "TARN-EX ", "DVDRW QVX-270T  ");
    SetEntry(0, 1, "0K03", "0K03", "TARN-EX ", "DVDRW QVX-270T  ");
    Set(layout::kN2OMESSAGE, 0);
    Set(layout::kCHKDISC, 0);
    Set(layout::kBOOTCODE, 1);
    Set(layout::kREBOOT, 0);
    Set(layout::kAUTOMODE, 0);
    Set(layout::kCLOSEAP, 0);
    Set(layout::kWARNING, 0);
    Set(layout::kNBWARNING, 0);
    Set(layout::kHOW_MANY_BIN, 1);
    for (int bank = 0; bank < layout::kBanks; ++bank) {
      SetBank(bank, 0, 0);
      SetNewRevision(bank, "N/A ");
    }
    SetBank(0, 0, kDefaultImageBytes);
    SetNewRevision(0, "KM0P");
    WriteDemoImage(0, "KM0P");
  }

  static constexpr int32_t kDefaultImageBytes = 65536;

  // Unsealed until Seal(); afterwards the view carries the seal record.
  PackageView View() const {
    return PackageView(bytes_.data(), seal_.empty() ? nullptr : seal_.data());
  }
  std::vector<uint8_t>& Bytes() { return bytes_; }
  // Seals the block as it is now.
  void Seal() {
    seal_.resize(seal::kRecordBytes);
    seal::Write(seal_.data(), bytes_.data());
  }
  std::vector<uint8_t>& SealRecord() { return seal_; }

  void SetText(layout::TextId id, const std::string& value) {
    WriteField(layout::kTexts[id].offset, layout::kTexts[id].width, value);
  }
  // One setting's value text, written whole behind its key ("12" reads as 2).
  void SetValue(layout::SettingId id, const std::string& value) {
    const layout::Field& field = layout::kSettings[id];
    WriteField(field.offset, field.width, std::string(field.key) + value);
  }
  void Set(layout::SettingId id, int digit) { SetValue(id, std::to_string(digit)); }

  void SetEntry(int bank, int entry, const char* minRevision, const char* maxRevision,
                const char* vendor, const char* product) {
    const uint32_t base = layout::EntryOffset(bank, entry);
    const char* values[] = {minRevision, maxRevision, vendor, product};
    for (int f = 0; f < layout::kEntryFieldCount; ++f) {
      WriteField(base + layout::kEntryFields[f].offset, layout::kEntryFields[f].width, values[f]);
    }
  }
  void SetBank(int bank, int32_t startBytes, int32_t sizeBytes) {
    WriteSlot(layout::kStartSlots[bank], startBytes);
    WriteSlot(layout::kSizeSlots[bank], sizeBytes);
  }
  void SetNewRevision(int bank, const std::string& revision) {
    const layout::Field& field = layout::kNewRevisionSlots[bank];
    WriteField(field.offset, field.width, std::string(field.key) + revision);
  }
  // A demo image at image-area offset startBytes: programming it makes the simulated drive
  // report `revision`.
  void WriteDemoImage(int32_t startBytes, const std::string& revision) {
    uint8_t* image = bytes_.data() + layout::kImageOffset + startBytes;
    std::memcpy(image, sim::kDemoImageMagic, std::strlen(sim::kDemoImageMagic));
    std::memcpy(image + sim::kDemoRevisionOffset, revision.data(), 4);
  }

 private:
  void WriteField(uint32_t offset, uint32_t width, const std::string& value) {
    std::fill_n(bytes_.data() + offset, width, uint8_t{0});
    std::memcpy(bytes_.data() + offset, value.data(), std::min<size_t>(value.size(), width - 1));
  }
  void WriteSlot(const layout::Field& field, int32_t value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%010d", static_cast<int>(value));
    WriteField(field.offset, field.width, std::string(field.key) + digits);
  }

  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> seal_;
};

}  // namespace quorel::test
