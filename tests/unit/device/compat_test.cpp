#include "device/compat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "package/layout.h"
#include "sim/sim_machine.h"

namespace quorel {
namespace {

using namespace layout;

// The shipped package with a (non-placeholder) image written in.
class CompatTest : public ::testing::Test {
 public:
  CompatTest() {
    const uint8_t* embedded = PackageView::Embedded().Bytes();
    block.assign(embedded, embedded + kBlockBytes);
    std::memcpy(block.data() + kImageOffset, "QUOREL DEMO KM0P", 16);
  }

  // One entry of the package's rule table, its four fields cleared and then written.
  struct Rule {
    int bank, entry;
    std::string fields[kEntryFieldCount];  // min, max, vendor, product
  };

  void SetEntry(const Rule& rule) {
    for (int f = 0; f < kEntryFieldCount; ++f) {
      uint8_t* at = block.data() + EntryOffset(rule.bank, rule.entry) + kEntryFields[f].offset;
      std::fill_n(at, kEntryFields[f].width, 0);
      std::copy(rule.fields[f].begin(), rule.fields[f].end(), at);
    }
  }

  // Zero-terminated, as the drive list holds it.
  template <std::size_t N>
  static void Copy(char (&field)[N], const std::string& text) {
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
  }

  static DeviceEntry Drive(const std::string& revision, const std::string& vendor = "TARN-EX ",
                           const std::string& product = "DVDRW QVX-270T  ") {
    DeviceEntry entry{};
    entry.present = 1;
    Copy(entry.revision, revision);
    Copy(entry.vendor, vendor);
    Copy(entry.product, product);
    entry.bankIndex = -7;  // marks that show whether the rules wrote them
    entry.upToDate = -7;
    return entry;
  }

  DeviceEntry Apply(DeviceEntry entry, int n2oMessage = 0, int howManyBin = 1) {
    PackageSettings settings;
    settings.N2OMESSAGE = static_cast<uint8_t>(n2oMessage);
    settings.HOW_MANY_BIN = static_cast<uint16_t>(howManyBin);
    ApplyCompatibilityRules(entry, PackageView(block.data()), settings);
    return entry;
  }

  sim::SimMachine machine;  // collation
  std::vector<uint8_t> block;
};

struct Expect {
  int updatable;
  int bankIndex;  // -7: left as it was
  int upToDate;
};

void ExpectMarks(const DeviceEntry& entry, const Expect& expect) {
  EXPECT_EQ(entry.updatable, expect.updatable);
  EXPECT_EQ(entry.bankIndex, expect.bankIndex);
  EXPECT_EQ(entry.upToDate, expect.upToDate);
}

TEST_F(CompatTest, ShippedTable) {
  struct Case {
    const char* name;
    std::string revision, vendor, product;
    int n2oMessage, howManyBin;
    Expect expect;
  } cases[] = {
      {"inside the first rule", "KM05", "TARN-EX ", "DVDRW QVX-270T  ", 0, 1, {1, 0, 0}},
      {"lower bound inclusive", "KM01", "TARN-EX ", "DVDRW QVX-270T  ", 0, 1, {1, 0, 0}},
      {"upper bound inclusive", "KM0P", "TARN-EX ", "DVDRW QVX-270T  ", 0, 1, {1, 0, 0}},
      {"past the upper bound", "KM0Q", "TARN-EX ", "DVDRW QVX-270T  ", 0, 1, {0, -7, -7}},
      {"the second rule's one revision", "0K03", "TARN-EX ", "DVDRW QVX-270T  ", 0, 1, {1, 0, 0}},
      {"between the rules", "0K04", "TARN-EX ", "DVDRW QVX-270T  ", 0, 1, {0, -7, -7}},
      {"below every rule", "0K02", "TARN-EX ", "DVDRW QVX-270T  ", 0, 1, {0, -7, -7}},
      {"empty revision", "", "TARN-EX ", "DVDRW QVX-270T  ", 0, 1, {0, -7, -7}},
      {"another make", "KM05", "OTHERCO ", "DVDRW QVX-270T  ", 0, 1, {0, -7, -7}},
      {"vendor in lower case", "KM05", "tarn-ex ", "DVDRW QVX-270T  ", 0, 1, {0, -7, -7}},
      {"vendor without its blank", "KM05", "TARN-EX", "DVDRW QVX-270T  ", 0, 1, {0, -7, -7}},
      {"another product", "KM05", "TARN-EX ", "DVDRW QVX-280T  ", 0, 1, {0, -7, -7}},
      {"new revision, N2OMESSAGE 1", "KM0P", "TARN-EX ", "DVDRW QVX-270T  ", 1, 1, {1, 0, 1}},
      {"older revision, N2OMESSAGE 1", "KM05", "TARN-EX ", "DVDRW QVX-270T  ", 1, 1, {1, 0, 0}},
      {"new revision, N2OMESSAGE 2", "KM0P", "TARN-EX ", "DVDRW QVX-270T  ", 2, 1, {1, 0, 0}},
      {"first bank decides", "KM05", "TARN-EX ", "DVDRW QVX-270T  ", 0, 2, {1, 0, 0}},
      {"bank 2's placeholder admits more", "0K04", "TARN-EX ", "DVDRW QVX-270T  ", 0, 2, {1, 1, 0}},
      {"... of any make", "A100", "OTHERCO ", "CD-ROM          ", 1, 2, {1, 1, 0}},
      {"no banks", "KM05", "TARN-EX ", "DVDRW QVX-270T  ", 0, 0, {0, -7, -7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectMarks(Apply(Drive(c.revision, c.vendor, c.product), c.n2oMessage, c.howManyBin),
                c.expect);
  }
}

TEST_F(CompatTest, TableVariants) {
  using Rules = std::vector<Rule>;
  struct Case {
    const char* name;
    Rules rules;  // written into the shipped table
    std::string revision, vendor;
    int howManyBin;
    Expect expect;
  } const cases[] = {
      {"placeholder first admits any drive", Rules{{0, 0, {"#FLSH11", "#", "#", "#"}}}, "A100",
       "OTHERCO ", 1, Expect{1, 0, 0}},
      {"placeholder rule checks the vendor mark before the four stages",
       Rules{{0, 0, {"#FLSH11", "#", "TARN-EX ", "#"}}}, "KM05", "TARN-EX ", 1, Expect{0, -7, -7}},
      {"placeholder rule needs all of #FLS", Rules{{0, 0, {"#FLX11", "#", "#", "#"}}}, "A100",
       "OTHERCO ", 1, Expect{0, -7, -7}},
      {"placeholder after the first entry is an ordinary entry",
       Rules{{0, 0, {"KM01", "KM0P", "TARN-EX ", "DVDRW QVX-270T  "}},
             {0, 1, {"#FLSH12", "#", "#", "#"}}},
       "A100", "OTHERCO ", 1, Expect{0, -7, -7}},
      {"an empty entry admits any drive", Rules{{0, 1, {"", "", "", ""}}}, "A100", "OTHERCO ", 1,
       Expect{1, 0, 0}},
      {"open upper bound admits later revisions",
       Rules{{0, 0, {"KM01", "", "TARN-EX ", "DVDRW QVX-270T  "}}}, "KZZZ", "TARN-EX ", 1,
       Expect{1, 0, 0}},
      {"open upper bound still has its lower one",
       Rules{{0, 0, {"KM01", "", "TARN-EX ", "DVDRW QVX-270T  "}}}, "KA01", "TARN-EX ", 1,
       Expect{0, -7, -7}},
      {"only the first four characters of a bound count",
       Rules{{0, 0, {"KM05XYZ", "KM05XYZ", "TARN-EX ", ""}}}, "KM05", "TARN-EX ", 1,
       Expect{1, 0, 0}},
      {"only the first eight characters of a vendor count",
       Rules{{0, 0, {"", "", "TARN-EX XYZ", ""}}}, "KM05", "TARN-EX ", 1, Expect{1, 0, 0}},
      {"the first admitting bank is recorded, not a later one", Rules{{1, 0, {"", "", "", ""}}},
       "KM05", "TARN-EX ", 2, Expect{1, 0, 0}},
      {"a later bank admits what the earlier ones refuse",
       Rules{{1, 0, {"", "", "NOBODY  ", ""}}, {2, 0, {"", "", "OTHERCO ", ""}}}, "A100",
       "OTHERCO ", 3, Expect{1, 2, 0}},
      {"HOW_MANY_BIN above 4 reads four banks only",
       Rules{{1, 0, {"", "", "NOBODY  ", ""}},
             {2, 0, {"", "", "NOBODY  ", ""}},
             {3, 0, {"", "", "NOBODY  ", ""}}},
       "A100", "OTHERCO ", 9, Expect{0, -7, -7}},
  };
  const std::vector<uint8_t> shipped = block;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    block = shipped;
    for (const Rule& rule : c.rules) SetEntry(rule);
    ExpectMarks(Apply(Drive(c.revision, c.vendor), 0, c.howManyBin), c.expect);
  }
}

TEST_F(CompatTest, NewRevisionComparesItsFirstFourCharacters) {
  std::memcpy(block.data() + kNewRevisionSlots[0].ValueOffset(), "KM05ABC", 7);
  ExpectMarks(Apply(Drive("KM05"), 1), {1, 0, 1});
  ExpectMarks(Apply(Drive("KM04"), 1), {1, 0, 0});
}

TEST_F(CompatTest, UnadmittedDrivesKeepTheirBankAndUpToDateMarks) {
  DeviceEntry absent = Drive("KM05");
  absent.present = 0;
  absent.updatable = 1;
  absent.bankIndex = 3;
  absent.upToDate = 1;
  ExpectMarks(Apply(absent), {0, 3, 1});

  DeviceEntry refused = Drive("0K04");
  refused.updatable = 1;
  refused.bankIndex = 2;
  refused.upToDate = 1;
  ExpectMarks(Apply(refused), {0, 2, 1});
}

TEST_F(CompatTest, TemplateImageAdmitsNoDrive) {
  std::memcpy(block.data() + kImageOffset, "BANK_START_FROM_HERE", 20);
  ExpectMarks(Apply(Drive("KM05")), {0, -7, -7});
  // With its placeholder bank too.
  ExpectMarks(Apply(Drive("A100", "OTHERCO "), 0, 2), {0, -7, -7});
}

}  // namespace
}  // namespace quorel
