// Read-only view of a package block: every field is read in place at its fixed offset
// (package/layout.h). The program's own block is PackageView::Embedded(); tests and the
// packaging tool view other copies.
#pragma once

#include <cstdint>
#include <string>

#include "package/seal.h"

namespace quorel {

struct PackageSettings {
  uint8_t N2OMESSAGE = 0;
  uint8_t CHKDISC = 0;
  uint8_t BOOTCODE = 0;
  uint8_t REBOOT = 0;
  uint8_t AUTOMODE = 0;
  uint8_t CLOSEAP = 0;
  uint8_t WARNING = 0;
  uint8_t NBWARNING = 0;
  uint16_t HOW_MANY_BIN = 0;
};

// The four field texts of one ConstraintEntry, each pointing into the block.
struct ConstraintEntry {
  const char* minRevision;
  const char* maxRevision;
  const char* vendor;
  const char* product;
};

// A bank's image: a pointer into the block's image area (never a copy) and its slot values.
struct BankImage {
  const uint8_t* image;
  int32_t startBytes;
  int32_t sizeBytes;
};

class PackageView {
 public:
  // block points at the first byte of a whole block (kBlockBytes long); sealRecord, when given,
  // at the block's seal record (seal::kRecordBytes long).
  explicit PackageView(const uint8_t* block, const uint8_t* sealRecord = nullptr)
      : block_(block), seal_(sealRecord) {}
  // The block and the seal record carried in this executable, read as the bytes in the file.
  static PackageView Embedded();

  PackageSettings ReadSettings() const;
  // The texts point into the block; a text that does not end inside its field reads as "".
  const char* TitleText() const;
  const char* VersionText() const;
  const char* DriveName() const;
  // bank 0-3, entry 0-7.
  ConstraintEntry Constraint(int bank, int entry) const;
  // The text behind "NEW_FWn=" of slot bank + 1.
  const char* NewRevisionText(int bank) const;
  // Start and size of slot bank + 1, and image area + start.
  BankImage Bank(int bank) const;
  // True while the image area still begins with the template's placeholder.
  bool ImageIsPlaceholder() const;
  const uint8_t* ImageArea() const;
  const uint8_t* Bytes() const { return block_; }

  // Checks the limits that reading relies on: HOW_MANY_BIN at most 4, and for each bank in use
  // a start and size that are not negative and stay inside the image area. Returns an empty
  // text when the block is sound, else a message naming the fault. Sizes that are zero or not
  // a whole number of blocks are left to the download, which refuses them.
  std::string Validate() const;

  // Whether the block is still the one that was sealed; hashes the whole block when it is
  // sealed. A view without a seal record reads as unsealed.
  seal::State Seal() const { return seal::Check(seal_, block_); }

 private:
  const uint8_t* block_;
  const uint8_t* seal_;
};

// The caption rule: the title, unless its first 14 characters equal "APP_TITLE_HERE" (locale
// collation, case-sensitive), then "Quorel %s" with the version text.
std::string CaptionFor(const char* title, const char* version);

// Locale collation through the platform: negative, 0 or positive as a sorts before, equal to or
// after b.
int CompareText(const char* a, const char* b);

}  // namespace quorel
