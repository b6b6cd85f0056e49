#include "package/package_view.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "package/bytes.h"
#include "package/layout.h"
#include "platform/platform.h"

namespace quorel {
namespace {

using namespace layout;

// The standard decimal conversion of a long, as 32-bit Windows performs it: values beyond the
// 32-bit range saturate.
int32_t ConvertDecimal(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  return static_cast<int32_t>(std::clamp<long long>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// A setting converts from its last character: only that one counts, a digit as its value and
// anything else as 0. An empty field reads as 0. Neither reads past its field, so that a field
// without its zero cannot carry a conversion into the next field.
long SettingValue(const uint8_t* block, const Field& field) {
  const std::string text = FixedFieldText(block + field.offset, field.width);
  if (text.empty()) return 0;
  return ConvertDecimal(text.substr(text.size() - 1));
}

int32_t SlotValue(const uint8_t* block, const Field& slot) {
  return ConvertDecimal(FixedFieldText(block + slot.ValueOffset(), slot.width - slot.key.size()));
}

bool ValidBank(int bank) {
  return bank >= 0 && bank < kBanks;
}

// True when the value part (the field after its key) holds a zero: a zero inside the key does
// not end the value, which would then run on into the fields behind it.
bool EndsInsideField(const uint8_t* block, const Field& field) {
  const uint8_t* begin = block + field.ValueOffset();
  const uint8_t* end = block + field.offset + field.width;
  return std::find(begin, end, 0) != end;
}

// The value of a text field, or an empty text when it does not end inside its field, so that
// no reader runs past it, whether or not the block was validated.
const char* BoundedText(const uint8_t* block, const Field& field) {
  if (!EndsInsideField(block, field)) return "";
  return reinterpret_cast<const char*>(block + field.ValueOffset());
}

}  // namespace

PackageView PackageView::Embedded() {
  return PackageView(EmbeddedPackageBlock(), EmbeddedSealRecord());
}

PackageSettings PackageView::ReadSettings() const {
  PackageSettings s;
  s.N2OMESSAGE = static_cast<uint8_t>(SettingValue(block_, kSettings[kN2OMESSAGE]));
  s.CHKDISC = static_cast<uint8_t>(SettingValue(block_, kSettings[kCHKDISC]));
  s.BOOTCODE = static_cast<uint8_t>(SettingValue(block_, kSettings[kBOOTCODE]));
  s.REBOOT = static_cast<uint8_t>(SettingValue(block_, kSettings[kREBOOT]));
  s.AUTOMODE = static_cast<uint8_t>(SettingValue(block_, kSettings[kAUTOMODE]));
  s.CLOSEAP = static_cast<uint8_t>(SettingValue(block_, kSettings[kCLOSEAP]));
  s.WARNING = static_cast<uint8_t>(SettingValue(block_, kSettings[kWARNING]));
  s.NBWARNING = static_cast<uint8_t>(SettingValue(block_, kSettings[kNBWARNING]));
  s.HOW_MANY_BIN = static_cast<uint16_t>(SettingValue(block_, kSettings[kHOW_MANY_BIN]));
  return s;
}

const char* PackageView::TitleText() const {
  return BoundedText(block_, kTexts[kTitle]);
}

const char* PackageView::VersionText() const {
  return BoundedText(block_, kTexts[kVersion]);
}

const char* PackageView::DriveName() const {
  return BoundedText(block_, kTexts[kDrive]);
}

ConstraintEntry PackageView::Constraint(int bank, int entry) const {
  if (!ValidBank(bank) || entry < 0 || entry >= kEntriesPerBank) return {"", "", "", ""};
  const char* at = reinterpret_cast<const char*>(block_ + EntryOffset(bank, entry));
  return {at + kEntryFields[kMinRevision].offset, at + kEntryFields[kMaxRevision].offset,
          at + kEntryFields[kVendor].offset, at + kEntryFields[kProduct].offset};
}

const char* PackageView::NewRevisionText(int bank) const {
  if (!ValidBank(bank)) return "";
  return BoundedText(block_, kNewRevisionSlots[bank]);
}

BankImage PackageView::Bank(int bank) const {
  if (!ValidBank(bank)) return {nullptr, 0, 0};
  const int32_t start = SlotValue(block_, kStartSlots[bank]);
  const int32_t size = SlotValue(block_, kSizeSlots[bank]);
  // Start-up refuses a block whose banks leave the image area (Validate); a pointer is formed
  // only for a start inside the area all the same.
  const bool inside = start >= 0 && static_cast<std::size_t>(start) <= kImageBytes;
  return {inside ? ImageArea() + start : nullptr, start, size};
}

bool PackageView::ImageIsPlaceholder() const {
  return std::memcmp(ImageArea(), kImagePlaceholder, kImagePlaceholderTestBytes) == 0;
}

const uint8_t* PackageView::ImageArea() const {
  return block_ + kImageOffset;
}

std::string PackageView::Validate() const {
  const std::string damaged = "The package is damaged: ";
  const PackageSettings settings = ReadSettings();
  if (settings.HOW_MANY_BIN > kBanks) {
    return damaged + "it names " + std::to_string(settings.HOW_MANY_BIN) +
           " firmware banks, but it has room for 4 only.";
  }
  const struct {
    const Field& field;
    const char* label;
  } texts[] = {{kTexts[kTitle], "window title"},
               {kTexts[kVersion], "version text"},
               {kTexts[kDrive], "drive name"}};
  for (const auto& text : texts) {
    if (!EndsInsideField(block_, text.field)) {
      return damaged + "its " + text.label + " does not end inside its field.";
    }
  }
  for (int bank = 0; bank < settings.HOW_MANY_BIN; ++bank) {
    const std::string name = "bank " + std::to_string(bank + 1);
    const int32_t start = SlotValue(block_, kStartSlots[bank]);
    const int32_t size = SlotValue(block_, kSizeSlots[bank]);
    if (start < 0) return damaged + name + " starts before the image area.";
    if (size < 0) return damaged + name + " has a negative size.";
    if (static_cast<int64_t>(start) + static_cast<int64_t>(size) >
        static_cast<int64_t>(kImageBytes)) {
      return damaged + name + " reaches past the image area.";
    }
    if (!EndsInsideField(block_, kNewRevisionSlots[bank])) {
      return damaged + "the new revision text of " + name + " does not end inside its field.";
    }
  }
  return {};
}

int CompareText(const char* a, const char* b) {
  return platform().CompareStringA(a, -1, b, -1) - 2;
}

std::string CaptionFor(const char* title, const char* version) {
  const std::string caption = title;
  const std::string head = caption.substr(0, kTitleCompareChars);
  if (CompareText(head.c_str(), kTitlePlaceholder) != 0) return caption;
  const int length = std::snprintf(nullptr, 0, kCaptionFormat, version);
  std::string untitled(static_cast<std::size_t>(std::max(length, 0)), '\0');
  std::snprintf(untitled.data(), untitled.size() + 1, kCaptionFormat, version);
  return untitled;
}

}  // namespace quorel
