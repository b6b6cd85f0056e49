// Byte layout of the package block: every offset, width and key text. The one source of truth
// for the program's read-only view (package_view.cpp), the template (package_block.cpp) and the
// packaging tool (tools/pack). Offsets count from the first byte of the block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorel::layout {

inline constexpr std::size_t kBlockBytes = 1'050'699;
inline constexpr std::size_t kHeaderBytes = 2'123;  // texts, table, settings and slots
inline constexpr std::size_t kImageOffset = kHeaderBytes;
inline constexpr std::size_t kImageBytes = 1'048'576;
static_assert(kHeaderBytes + kImageBytes == kBlockBytes);

// One field of the header. `width` is the space reserved, terminating zero included; `key` is
// the text stored in front of the value ("CHKDISC="), empty for plain texts.
struct Field {
  std::string_view name;
  std::uint32_t offset;
  std::uint32_t width;
  std::string_view key;

  constexpr std::uint32_t ValueOffset() const {
    return offset + static_cast<std::uint32_t>(key.size());
  }
  // Characters a value may have so that key, value and terminating zero fit.
  constexpr std::size_t MaxValueChars() const { return width - key.size() - 1; }
};

// ---- Texts ----
enum TextId { kCredit, kVersion, kContact, kTitle, kDate, kSpare, kDrive, kTextCount };
inline constexpr std::array<Field, kTextCount> kTexts = {{
    {"credit", 0, 21, ""},
    {"version", 21, 13, ""},
    {"contact", 34, 15, ""},
    {"title", 49, 64, ""},
    {"date", 113, 12, ""},
    {"spare", 125, 32, ""},
    {"drive", 157, 65, ""},
}};

// ---- Constraint table: 4 banks of 8 entries of 48 bytes, behind its key ----
inline constexpr Field kTableKey = {"table key", 222, 16, "FW_CONSTRAINTS="};
inline constexpr std::uint32_t kTableOffset = 238;
inline constexpr int kBanks = 4;
inline constexpr int kEntriesPerBank = 8;
inline constexpr std::uint32_t kEntryBytes = 48;
inline constexpr std::uint32_t kBankBytes = kEntryBytes * kEntriesPerBank;  // 384
inline constexpr std::uint32_t kTableBytes = kBankBytes * kBanks;           // 1,536

constexpr std::uint32_t EntryOffset(int bank, int entry) {
  return kTableOffset + kBankBytes * static_cast<std::uint32_t>(bank) +
         kEntryBytes * static_cast<std::uint32_t>(entry);
}

// Fields of one ConstraintEntry, relative to the entry. `counted` characters take part in the
// compatibility rules.
struct EntryField {
  std::string_view name;
  std::uint32_t offset;
  std::uint32_t width;
  std::uint32_t counted;
};
enum EntryFieldId { kMinRevision, kMaxRevision, kVendor, kProduct, kEntryFieldCount };
inline constexpr std::array<EntryField, kEntryFieldCount> kEntryFields = {{
    {"minimum revision", 0, 8, 4},
    {"maximum revision", 8, 8, 4},
    {"vendor", 16, 12, 8},
    {"product", 28, 20, 16},
}};

// A placeholder entry: minimum revision "#FLSH" + bank number + entry number (both counted from
// 1), the other three fields "#".
inline constexpr std::string_view kPlaceholderPrefix = "#FLSH";
inline constexpr std::string_view kPlaceholderMark = "#";
// Zero-terminated minimum revision of the placeholder at bank 0-3, entry 0-7 ("#FLSH13").
constexpr std::array<char, 8> PlaceholderMinRevision(int bank, int entry) {
  std::array<char, 8> text{};
  for (std::size_t i = 0; i < kPlaceholderPrefix.size(); ++i) text[i] = kPlaceholderPrefix[i];
  text[5] = static_cast<char>('1' + bank);
  text[6] = static_cast<char>('1' + entry);
  return text;
}

// ---- Settings: key, equals sign, one digit ----
enum SettingId {
  kN2OMESSAGE,
  kCHKDISC,
  kBOOTCODE,
  kREBOOT,
  kAUTOMODE,
  kCLOSEAP,
  kWARNING,
  kNBWARNING,
  kHOW_MANY_BIN,
  kSettingCount
};
inline constexpr std::array<Field, kSettingCount> kSettings = {{
    {"N2OMESSAGE", 1774, 13, "N2OMESSAGE="},
    {"CHKDISC", 1787, 10, "CHKDISC="},
    {"BOOTCODE", 1797, 18, "BOOTCODE="},
    {"REBOOT", 1815, 9, "REBOOT="},
    {"AUTOMODE", 1824, 11, "AUTOMODE="},
    {"CLOSEAP", 1835, 10, "CLOSEAP="},
    {"WARNING", 1845, 10, "WARNING="},
    {"NBWARNING", 1855, 12, "NBWARNING="},
    {"HOW_MANY_BIN", 1867, 20, "HOW_MANY_BIN="},
}};

// ---- Slots: slot n (1-4) belongs to bank n - 1 ----
inline constexpr std::uint32_t kStartSlotsOffset = 1887;
inline constexpr std::uint32_t kStartSlotBytes = 22;
inline constexpr std::uint32_t kSizeSlotsOffset = 1975;
inline constexpr std::uint32_t kSizeSlotBytes = 21;
inline constexpr std::uint32_t kNewRevisionSlotsOffset = 2059;
inline constexpr std::uint32_t kNewRevisionSlotBytes = 16;
inline constexpr int kSlotDigits = 10;  // start and size values: ten digits, leading zeros

constexpr std::uint32_t SlotOffset(std::uint32_t first, std::uint32_t width, int bank) {
  return first + width * static_cast<std::uint32_t>(bank);
}

inline constexpr std::array<Field, kBanks> kStartSlots = {{
    {"BIN_START1", SlotOffset(kStartSlotsOffset, kStartSlotBytes, 0), kStartSlotBytes,
     "BIN_START1="},
    {"BIN_START2", SlotOffset(kStartSlotsOffset, kStartSlotBytes, 1), kStartSlotBytes,
     "BIN_START2="},
    {"BIN_START3", SlotOffset(kStartSlotsOffset, kStartSlotBytes, 2), kStartSlotBytes,
     "BIN_START3="},
    {"BIN_START4", SlotOffset(kStartSlotsOffset, kStartSlotBytes, 3), kStartSlotBytes,
     "BIN_START4="},
}};
inline constexpr std::array<Field, kBanks> kSizeSlots = {{
    {"BIN_SIZE1", SlotOffset(kSizeSlotsOffset, kSizeSlotBytes, 0), kSizeSlotBytes, "BIN_SIZE1="},
    {"BIN_SIZE2", SlotOffset(kSizeSlotsOffset, kSizeSlotBytes, 1), kSizeSlotBytes, "BIN_SIZE2="},
    {"BIN_SIZE3", SlotOffset(kSizeSlotsOffset, kSizeSlotBytes, 2), kSizeSlotBytes, "BIN_SIZE3="},
    {"BIN_SIZE4", SlotOffset(kSizeSlotsOffset, kSizeSlotBytes, 3), kSizeSlotBytes, "BIN_SIZE4="},
}};
inline constexpr std::array<Field, kBanks> kNewRevisionSlots = {{
    {"NEW_FW1", SlotOffset(kNewRevisionSlotsOffset, kNewRevisionSlotBytes, 0),
     kNewRevisionSlotBytes, "NEW_FW1="},
    {"NEW_FW2", SlotOffset(kNewRevisionSlotsOffset, kNewRevisionSlotBytes, 1),
     kNewRevisionSlotBytes, "NEW_FW2="},
    {"NEW_FW3", SlotOffset(kNewRevisionSlotsOffset, kNewRevisionSlotBytes, 2),
     kNewRevisionSlotBytes, "NEW_FW3="},
    {"NEW_FW4", SlotOffset(kNewRevisionSlotsOffset, kNewRevisionSlotBytes, 3),
     kNewRevisionSlotBytes, "NEW_FW4="},
}};

// Every field that carries a key, in block order: the table key, the settings and the slots.
// Their key texts at these offsets are what identifies a block inside a file.
inline constexpr std::size_t kKeyedFieldCount = 1 + kSettingCount + 3 * kBanks;
constexpr std::array<Field, kKeyedFieldCount> KeyedFields() {
  std::array<Field, kKeyedFieldCount> fields{};
  std::size_t n = 0;
  fields[n++] = kTableKey;
  for (const Field& f : kSettings) fields[n++] = f;
  for (const Field& f : kStartSlots) fields[n++] = f;
  for (const Field& f : kSizeSlots) fields[n++] = f;
  for (const Field& f : kNewRevisionSlots) fields[n++] = f;
  return fields;
}

// ---- Constants of the program outside the block (packaging never changes them) ----
inline constexpr char kTitlePlaceholder[] = "APP_TITLE_HERE";
inline constexpr std::size_t kTitleCompareChars = 14;
inline constexpr char kImagePlaceholder[] = "BANK_START_FROM_HERE";
inline constexpr std::size_t kImagePlaceholderTestBytes = 19;  // "BANK_START_FROM_HER"
inline constexpr char kCaptionFormat[] = "Quorel %s";

// The header fields tile bytes 0 to kHeaderBytes without gaps or overlaps.
namespace detail {
constexpr bool HeaderIsContiguous() {
  std::uint32_t next = 0;
  for (const Field& f : kTexts) {
    if (f.offset != next) return false;
    next += f.width;
  }
  if (kTableKey.offset != next || kTableKey.offset + kTableKey.width != kTableOffset) return false;
  next = kTableOffset + kTableBytes;
  for (const Field& f : KeyedFields()) {
    if (f.key == kTableKey.key) continue;
    if (f.offset != next) return false;
    next += f.width;
  }
  return next == kHeaderBytes;
}
}  // namespace detail
static_assert(detail::HeaderIsContiguous());
static_assert(EntryOffset(3, 0) == 1390 && EntryOffset(3, 7) + kEntryBytes == 1774);

}  // namespace quorel::layout

namespace quorel {
// The block carried in this executable (package_block.cpp). The pointer is opaque to the
// optimiser, so reads through it fetch the bytes that are in the file.
const std::uint8_t* EmbeddedPackageBlock();
}  // namespace quorel
