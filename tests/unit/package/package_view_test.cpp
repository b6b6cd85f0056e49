#include "package/package_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "package/layout.h"
#include "sim/sim_machine.h"
#include "unit/package/shipped_header.h"

namespace quorel {
namespace {

using namespace layout;

// A writable copy of the template block.
class PackageViewTest : public ::testing::Test {
 protected:
  PackageViewTest() {
    const uint8_t* embedded = PackageView::Embedded().Bytes();
    block.assign(embedded, embedded + kBlockBytes);
  }

  PackageView View() const { return PackageView(block.data()); }

  // Writes exactly these bytes over the field and zero-fills the rest of it.
  void Write(uint32_t offset, uint32_t width, const std::string& bytes) {
    ASSERT_LE(bytes.size(), width);
    std::fill_n(block.begin() + offset, width, 0);
    std::copy(bytes.begin(), bytes.end(), block.begin() + offset);
  }
  void Write(const Field& field, const std::string& bytes) {
    Write(field.offset, field.width, bytes);
  }
  void SetBank(int bank, const std::string& start, const std::string& size) {
    Write(kStartSlots[bank], std::string(kStartSlots[bank].key) + start);
    Write(kSizeSlots[bank], std::string(kSizeSlots[bank].key) + size);
  }

  sim::SimMachine machine;  // collation for the caption rule
  std::vector<uint8_t> block;
};

TEST_F(PackageViewTest, TemplateMatchesTheShippedLayout) {
  const uint8_t* embedded = PackageView::Embedded().Bytes();
  test::ExpectShippedHeader(embedded, "APP_TITLE_HERE");
  const uint8_t* image = embedded + 2123;
  EXPECT_EQ(std::memcmp(image, "BANK_START_FROM_HERE", 21), 0);
  // The last byte of the block is the last byte of the image area.
  EXPECT_TRUE(std::all_of(image + 21, image + 1'048'576, [](uint8_t b) { return b == 0; }));
}

TEST_F(PackageViewTest, ShippedValues) {
  const PackageSettings s = View().ReadSettings();
  EXPECT_EQ(s.N2OMESSAGE, 0);
  EXPECT_EQ(s.CHKDISC, 0);
  EXPECT_EQ(s.BOOTCODE, 1);
  EXPECT_EQ(s.REBOOT, 1);
  EXPECT_EQ(s.AUTOMODE, 0);
  EXPECT_EQ(s.CLOSEAP, 0);
  EXPECT_EQ(s.WARNING, 1);
  EXPECT_EQ(s.NBWARNING, 0);
  EXPECT_EQ(s.HOW_MANY_BIN, 1);

  const BankImage bank1 = View().Bank(0);
  EXPECT_EQ(bank1.image, block.data() + 2123);
  EXPECT_EQ(bank1.startBytes, 0);
  EXPECT_EQ(bank1.sizeBytes, 1'048'576);
  EXPECT_STREQ(View().NewRevisionText(0), "KM0P");
  // A drive admitted with bank index 1 gets "N/A " and a 0-byte image at offset 0.
  const BankImage bank2 = View().Bank(1);
  EXPECT_EQ(bank2.image, block.data() + 2123);
  EXPECT_EQ(bank2.sizeBytes, 0);
  EXPECT_STREQ(View().NewRevisionText(1), "N/A ");
  EXPECT_STREQ(View().VersionText(), "v2.0.0");
  EXPECT_STREQ(View().DriveName(), "TARN-EX DVDRW QVX-270T");
}

TEST_F(PackageViewTest, SettingReadsOnlyItsLastCharacter) {
  struct Case {
    SettingId id;
    std::string field;  // the whole field, key included
    int expected;
  } cases[] = {
      {kHOW_MANY_BIN, "HOW_MANY_BIN=12", 2},
      {kWARNING, "WARNING=A", 0},
      {kCHKDISC, "CHKDISC=", 0},   // ends right after the equals sign
      {kREBOOT, "REBOOT=2", 2},    // REBOOT tests "not 0": 2 counts as set
      {kWARNING, "WARNING=2", 2},  // WARNING tests "equal to 1": 2 fails it
      {kAUTOMODE, "AUTOMODE=9", 9},
      {kNBWARNING, "NBWARNING=-", 0},
      {kN2OMESSAGE, "N2OMESSAGE= ", 0},
      {kBOOTCODE, "", 0},  // empty field
      {kCLOSEAP, "X", 0},
      {kN2OMESSAGE, "7", 7},  // no key at all: still the last character
      // A field without its zero: the text ends with the field, not in the next one.
      {kREBOOT, "REBOOT=77", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    Write(kSettings[c.id], c.field);
    const PackageSettings s = View().ReadSettings();
    const int values[] = {s.N2OMESSAGE, s.CHKDISC, s.BOOTCODE,  s.REBOOT,      s.AUTOMODE,
                          s.CLOSEAP,    s.WARNING, s.NBWARNING, s.HOW_MANY_BIN};
    EXPECT_EQ(values[c.id], c.expected);
  }
}

TEST_F(PackageViewTest, SlotsConvertAllTenDigits) {
  struct Case {
    std::string start, size;
    int32_t startBytes, sizeBytes;
  } cases[] = {
      {"0000065536", "0000262144", 65536, 262144},
      {"0001048576", "0000000000", 1'048'576, 0},
      {"-000000001", "-000016384", -1, -16384},
      {"", "12ab", 0, 12},
      {"2147483647", "9999999999", 2'147'483'647, 2'147'483'647},  // saturates as a long does
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start + " / " + c.size);
    SetBank(1, c.start, c.size);
    const BankImage bank = View().Bank(1);
    EXPECT_EQ(bank.startBytes, c.startBytes);
    EXPECT_EQ(bank.sizeBytes, c.sizeBytes);
    if (c.startBytes >= 0 && c.startBytes <= 1'048'576) {
      EXPECT_EQ(bank.image, block.data() + 2123 + c.startBytes);  // in place, never a copy
    } else {
      EXPECT_EQ(bank.image, nullptr);
    }
  }
}

TEST_F(PackageViewTest, NewRevisionAndConstraintTextsPointIntoTheBlock) {
  Write(kNewRevisionSlots[2], "NEW_FW3=ABCDEFG");
  EXPECT_STREQ(View().NewRevisionText(2), "ABCDEFG");
  EXPECT_EQ(View().NewRevisionText(2), reinterpret_cast<const char*>(block.data()) + 2091 + 8);

  const ConstraintEntry e = View().Constraint(2, 5);
  const char* at = reinterpret_cast<const char*>(block.data()) + 238 + 2 * 384 + 5 * 48;
  EXPECT_EQ(e.minRevision, at);
  EXPECT_EQ(e.maxRevision, at + 8);
  EXPECT_EQ(e.vendor, at + 16);
  EXPECT_EQ(e.product, at + 28);
  EXPECT_STREQ(e.minRevision, "#FLSH36");
}

TEST_F(PackageViewTest, CaptionRule) {
  struct Case {
    const char* title;
    const char* caption;
  } cases[] = {
      {"APP_TITLE_HERE", "Quorel v2.0.0"},
      {"APP_TITLE_HERE and more", "Quorel v2.0.0"},
      {"app_title_here", "app_title_here"},  // case-sensitive
      {"App_Title_Here", "App_Title_Here"},
      {"APP_TITLE_HER", "APP_TITLE_HER"},
      {"APP TITLE HERE", "APP TITLE HERE"},
      {"Flash Program for TARN-EX DVDRW QVX-270T", "Flash Program for TARN-EX DVDRW QVX-270T"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CaptionFor(c.title, "v2.0.0"), c.caption) << c.title;
  }
  EXPECT_EQ(CaptionFor(View().TitleText(), View().VersionText()), "Quorel v2.0.0");
}

TEST_F(PackageViewTest, ImagePlaceholderTestsNineteenBytes) {
  struct Case {
    std::string head;
    bool placeholder;
  } cases[] = {
      {"BANK_START_FROM_HERE", true},
      {"BANK_START_FROM_HERX", true},  // the 20th byte does not count
      {std::string("BANK_START_FROM_HER\0", 20), true},
      {"BANK_START_FROM_HEX", false},
      {"bANK_START_FROM_HERE", false},
      {"BANK_START_FROM_here", false},
      {"QUOREL DEMO KM0P", false},
      {std::string(20, '\0'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    Write(2123, 64, c.head);
    EXPECT_EQ(View().ImageIsPlaceholder(), c.placeholder);
  }
}

TEST_F(PackageViewTest, ValidateNamesTheFault) {
  struct Case {
    const char* name;
    std::string howManyBin;
    std::string start2, size2;  // bank 2's slots
    const char* fault;          // nullptr: sound
  } cases[] = {
      {"shipped with bank 2 in use", "2", "0000000000", "0000000000", nullptr},
      {"bank 2 ends at the area's end", "2", "0001032192", "0000016384", nullptr},
      {"start at the area's end, size 0", "2", "0001048576", "0000000000", nullptr},
      {"size not a multiple of 16 KiB", "2", "0000000000", "0000001000", nullptr},
      {"HOW_MANY_BIN 0 is start-up's business", "0", "-000000001", "0000000000", nullptr},
      {"unused bank is not read", "1", "-000000001", "0002000000", nullptr},
      {"HOW_MANY_BIN 5", "5", "0000000000", "0000000000", "room for 4"},
      {"HOW_MANY_BIN 9", "9", "0000000000", "0000000000", "room for 4"},
      {"negative start", "2", "-000000001", "0000016384", "bank 2 starts before"},
      {"negative size", "2", "0000000000", "-000016384", "bank 2 has a negative size"},
      {"one byte past", "2", "0001032193", "0000016384", "bank 2 reaches past"},
      // 32-bit arithmetic would wrap this sum to a negative number and let it pass.
      {"sum beyond 32 bits", "2", "2147483647", "2147483647", "bank 2 reaches past"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(kSettings[kHOW_MANY_BIN], "HOW_MANY_BIN=" + c.howManyBin);
    SetBank(1, c.start2, c.size2);
    const std::string message = View().Validate();
    if (c.fault == nullptr) {
      EXPECT_EQ(message, "");
    } else {
      EXPECT_NE(message.find("The package is damaged: "), std::string::npos) << message;
      EXPECT_NE(message.find(c.fault), std::string::npos) << message;
    }
  }
}

TEST_F(PackageViewTest, ValidateRefusesTextsWithoutTheirEnd) {
  EXPECT_EQ(View().Validate(), "");
  Write(kTexts[kTitle], std::string(64, 'T'));
  EXPECT_NE(View().Validate().find("window title"), std::string::npos);

  Write(kTexts[kTitle], "Title");
  Write(kNewRevisionSlots[0], "NEW_FW1=ABCDEFGH");
  EXPECT_NE(View().Validate().find("new revision text of bank 1"), std::string::npos);
}

// A text whose zero lies outside its value part (or nowhere) is refused, and its accessor
// still never reads past the field.
TEST_F(PackageViewTest, TextsEndInsideTheirValuePart) {
  Write(kSettings[kHOW_MANY_BIN], "HOW_MANY_BIN=4");
  for (int bank = 0; bank < kBanks; ++bank) SetBank(bank, "0000000000", "0000016384");
  ASSERT_EQ(View().Validate(), "");
  const std::string unterminatedSlot("NEW_FW4\0KM1AKM1A", 16);  // the zero where '=' belongs
  const struct {
    const char* name;
    const Field& field;
    std::string bytes;
    const char* (PackageView::*text)() const;
  } cases[] = {
      {"new revision", kNewRevisionSlots[3], unterminatedSlot, nullptr},
      {"title", kTexts[kTitle], std::string(64, 'T'), &PackageView::TitleText},
      {"version", kTexts[kVersion], std::string(13, 'V'), &PackageView::VersionText},
      {"drive", kTexts[kDrive], std::string(65, 'D'), &PackageView::DriveName},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> sound = block;
    Write(c.field, c.bytes);
    EXPECT_NE(View().Validate(), "");
    const PackageView view = View();
    const char* text = c.text != nullptr ? (view.*c.text)() : view.NewRevisionText(3);
    const size_t valueWidth = c.field.width - c.field.key.size();
    EXPECT_LT(strnlen(text, valueWidth), valueWidth);
    block = sound;
  }
  // A slot beyond HOW_MANY_BIN is not validated, but read just as safely.
  Write(kSettings[kHOW_MANY_BIN], "HOW_MANY_BIN=1");
  Write(kNewRevisionSlots[3], unterminatedSlot);
  EXPECT_EQ(View().Validate(), "");
  EXPECT_LT(strnlen(View().NewRevisionText(3), 8), 8u);
}

}  // namespace
}  // namespace quorel
