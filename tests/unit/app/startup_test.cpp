// Start-up, the drive list and the selection handler.
#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app_fixture.h"

namespace quorel::test {
namespace {

const std::string kDriveName = "TARN-EX DVDRW QVX-270T";
const std::string kIdent = "TARN-EX DVDRW QVX-270T  ";  // vendor 8 + product 16

std::string Line(const std::string& address, const std::string& letter, const std::string& rev) {
  return address + " " + letter + kIdent + " " + rev;
}

std::string NoMatch(const std::string& detected) {
  return std::string(text::kNoMatch) + text::kNoMatchLead + kDriveName + text::kNoMatchDriveEnd +
         text::kDetectedDrives + detected;
}

// ---- Refusals: each ends start-up with one error (or the declined notice) and terminates ----

struct RefusalCase {
  const char* name;
  std::function<void(TestPackage&, FakeView&)> arrange;
  std::string expectedText;  // empty: checked by prefix below
  std::string expectedPrefix;
  bool drivesScanned;
  MessageKind kind = MessageKind::Error;
  std::vector<const char*> driveRevisions = {"KM01"};  // pass-through drives at E:, F:, ...
};

// Named in test output by the case name, not by a dump of its bytes.
void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

class Refusal : public AppTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, EndsStartupWithOneMessage) {
  const RefusalCase& c = GetParam();
  std::vector<std::shared_ptr<sim::SimDrive>> drives;
  for (size_t i = 0; i < c.driveRevisions.size(); ++i) {
    drives.push_back(
        AddDrive(static_cast<char>('E' + i), static_cast<uint8_t>(1 + i), c.driveRevisions[i]));
  }
  c.arrange(package, view);
  Start();

  ASSERT_EQ(view.dialogs.size(), 1u);
  const ShownDialog& shown = view.dialogs[0];
  if (!c.expectedText.empty()) {
    EXPECT_EQ(shown.text, c.expectedText);
  }
  EXPECT_EQ(shown.text.rfind(c.expectedPrefix, 0), 0u) << shown.text;
  EXPECT_EQ(shown.kind, c.kind);
  EXPECT_EQ(view.terminateCount, 1);
  EXPECT_FALSE(view.closeRemoved);
  EXPECT_EQ(window->ListEngine() != nullptr, c.drivesScanned);
  for (const auto& drive : drives) {
    if (!c.drivesScanned) {
      EXPECT_TRUE(drive->log.empty());
    }
    EXPECT_FALSE(Written(*drive));
  }
  if (!c.drivesScanned) {
    EXPECT_EQ(machine.CountCalls("GetLogicalDriveStringsA"), 0);
  }
}

using Revisions = std::vector<const char*>;
INSTANTIATE_TEST_SUITE_P(
    Startup, Refusal,
    ::testing::Values(
        RefusalCase{"NoFirmware", [](auto& p, auto&) { p.Set(layout::kHOW_MANY_BIN, 0); },
                    text::kNoFirmware, "", false},
        // With no bank in use no slot is checked: an empty package keeps its own message.
        RefusalCase{"NoFirmwareBeatsBrokenSlots",
                    [](auto& p, auto&) {
                      p.Set(layout::kHOW_MANY_BIN, 0);
                      p.SetBank(0, 0, 2 * layout::kImageBytes);
                    },
                    text::kNoFirmware, "", false},
        RefusalCase{"TooManyBanks", [](auto& p, auto&) { p.Set(layout::kHOW_MANY_BIN, 5); }, "",
                    text::kInvalidPackage, false},
        RefusalCase{"BankPastImageArea",
                    [](auto& p, auto&) { p.SetBank(0, layout::kImageBytes - 16384, 32768); }, "",
                    text::kInvalidPackage, false},
        // A title that runs on past its field.
        RefusalCase{"TitleWithoutEnd",
                    [](auto& p, auto&) {
                      const layout::Field& title = layout::kTexts[layout::kTitle];
                      std::fill_n(p.Bytes().begin() + title.offset, title.width, uint8_t{'A'});
                    },
                    "", text::kInvalidPackage, false},
        // Seal refusals come right after the package check, before any drive is touched.
        RefusalCase{"SealedPackageDamagedAfterwards",
                    [](auto& p, auto&) {
                      p.Seal();
                      p.Bytes()[layout::kImageOffset + 700'000] ^= 0x01;
                    },
                    text::kPackageDigestMismatch, "", false},
        RefusalCase{"SealRecordDamaged",
                    [](auto& p, auto&) {
                      p.Seal();
                      p.SealRecord()[seal::kVersionOffset] = 0;  // a digest, but "unsealed"
                    },
                    text::kPackageSealUnreadable, "", false},
        RefusalCase{"NoDriveAtAll", [](auto&, auto&) {}, NoMatch(""), "", true, MessageKind::Error,
                    Revisions{}},
        // Listed but not admitted: 0K04 sorts between the two ranges. The notice (WARNING 1)
        // only follows a successful drive check.
        RefusalCase{
            "OnlyUnsupportedDrives", [](auto& p, auto&) { p.Set(layout::kWARNING, 1); },
            NoMatch(Line(" 1-0-0-0", "E:", "0K04") + "\n" + Line(" 2-0-0-0", "F:", "KM0Q") + "\n"),
            "", true, MessageKind::Error, Revisions{"0K04", "KM0Q"}},
        RefusalCase{"NoticeDeclined",
                    [](auto& p, auto& v) {
                      p.Set(layout::kWARNING, 1);
                      v.answers = {MessageResult::No};
                    },
                    "", text::kNoticeLead, true, MessageKind::Warning}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The seal ----

// One byte changed anywhere in a sealed block or in its seal record stops start-up before any
// drive is touched; an intact seal and an unsealed package start as usual.
TEST_F(AppTest, SealedPackageStartsOnlyWhileIntact) {
  AddDrive('E', 1, "KM01");
  package.Seal();
  const std::size_t image = layout::kImageOffset;
  const struct {
    const char* name;
    bool inSeal;
    std::size_t offset;
    const char* refusal;  // nullptr: starts
  } cases[] = {
      {"intact", false, 0, nullptr},
      {"credit text", false, 3, text::kPackageDigestMismatch},
      {"title", false, layout::kTexts[layout::kTitle].offset + 2, text::kPackageDigestMismatch},
      {"rule vendor", false, layout::EntryOffset(0, 0) + 17, text::kPackageDigestMismatch},
      {"setting value", false, layout::kSettings[layout::kCHKDISC].offset + 8,
       text::kPackageDigestMismatch},
      {"size slot digit", false, layout::kSizeSlots[0].offset + 19, text::kPackageDigestMismatch},
      {"new revision", false, layout::kNewRevisionSlots[0].offset + 9,
       text::kPackageDigestMismatch},
      {"image, first byte", false, image, text::kPackageDigestMismatch},
      {"image, middle", false, image + layout::kImageBytes / 2, text::kPackageDigestMismatch},
      {"image, last byte", false, layout::kBlockBytes - 1, text::kPackageDigestMismatch},
      {"seal marker", true, 5, text::kPackageSealUnreadable},
      {"seal version", true, seal::kVersionOffset, text::kPackageSealUnreadable},
      {"seal version, high byte", true, seal::kVersionOffset + 3, text::kPackageSealUnreadable},
      {"digest, first byte", true, seal::kDigestOffset, text::kPackageDigestMismatch},
      {"digest, last byte", true, seal::kRecordBytes - 1, text::kPackageDigestMismatch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestPackage changed = package;
    if (c.refusal != nullptr) {
      (c.inSeal ? changed.SealRecord() : changed.Bytes())[c.offset] ^= 0x01;
    }
    const int scansBefore = machine.CountCalls("GetLogicalDriveStringsA");
    FakeView local;
    TQuorelMain main(local, changed.View());
    if (c.refusal == nullptr) {
      EXPECT_TRUE(local.dialogs.empty());
      EXPECT_EQ(local.terminateCount, 0);
      continue;
    }
    ASSERT_EQ(local.dialogs.size(), 1u);
    EXPECT_EQ(local.dialogs[0].text, c.refusal);
    EXPECT_EQ(local.dialogs[0].kind, MessageKind::Error);
    EXPECT_EQ(local.terminateCount, 1);
    EXPECT_EQ(machine.CountCalls("GetLogicalDriveStringsA"), scansBefore);
  }

  // Cleared to unsealed, the same changed block runs as any unsealed package does.
  seal::Clear(package.SealRecord().data());
  package.Bytes()[3] ^= 0x01;
  FakeView local;
  TQuorelMain main(local, package.View());
  EXPECT_TRUE(local.dialogs.empty());
  EXPECT_EQ(local.terminateCount, 0);
  EXPECT_EQ(local.drives.size(), 1u);
}

// ---- The window caption ----

TEST_F(AppTest, CaptionIsTheTitleUnlessItIsTheTemplatePlaceholder) {
  AddDrive('E', 1, "KM01");
  const struct {
    const char* title;
    const char* caption;
  } cases[] = {
      {"Flash Program for Test Drive", "Flash Program for Test Drive"},
      {"APP_TITLE_HERE", "Quorel v2.0.0"},
      {"APP_TITLE_HERE, still the template", "Quorel v2.0.0"},
      {"APP_TITLE_HER", "APP_TITLE_HER"},
      {"App_Title_Here", "App_Title_Here"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    package.SetText(layout::kTitle, c.title);
    FakeView local;
    TQuorelMain main(local, package.View());
    EXPECT_EQ(local.caption, c.caption);
  }
}

// ---- The notice ----

TEST_F(AppTest, NoticeFollowsWarningAndNbWarning) {
  AddDrive('E', 1, "KM01");
  const std::string head = std::string(text::kNoticeLead) + kDriveName + text::kNoticeDriveEnd +
                           text::kNoticeHeading + text::kNoticeItem1 + text::kNoticeItem2;
  const struct {
    int warning, nbWarning;
    std::string notice;  // empty: none shown
  } cases[] = {
      {1, 0, head + text::kNoticeQuestion},
      {1, 1, head + text::kNoticeItem3 + text::kNoticeQuestion},
      {1, 2, head + text::kNoticeQuestion},
      {0, 1, ""},
      {2, 0, ""},  // exactly 1 asks for the notice
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "WARNING " << c.warning << " NBWARNING " << c.nbWarning);
    package.Set(layout::kWARNING, c.warning);
    package.Set(layout::kNBWARNING, c.nbWarning);
    FakeView local;
    local.answers = {MessageResult::Yes};
    TQuorelMain main(local, package.View());
    if (c.notice.empty()) {
      EXPECT_TRUE(local.dialogs.empty());
    } else {
      ASSERT_EQ(local.dialogs.size(), 1u);
      EXPECT_EQ(local.dialogs[0].text, c.notice);
      EXPECT_EQ(local.dialogs[0].kind, MessageKind::Warning);
      EXPECT_EQ(local.dialogs[0].buttons, MessageButtons::YesNo);
    }
    EXPECT_EQ(local.terminateCount, 0);
    EXPECT_TRUE(local.closeRemoved);
  }
}

TEST_F(AppTest, ReadyWindowAfterStartup) {
  AddDrive('E', 1, "KM05");
  Start();

  EXPECT_EQ(view.terminateCount, 0);
  EXPECT_EQ(view.Text(Control::lblMsg), "");
  EXPECT_EQ(view.Text(Control::lblPercent), "0 %");
  EXPECT_EQ(view.progressPosition, 0);
  EXPECT_FALSE(view.timerEnabled);
  EXPECT_TRUE(view.updateRunningCalls.empty());
  EXPECT_EQ(view.selected, 0);
  EXPECT_TRUE(view.Enabled(Control::cmdUpdate));
  EXPECT_EQ(view.Text(Control::lblOldFW), "KM05");
  EXPECT_EQ(view.Text(Control::lblNewFW), "KM0P");
  // Showing the preselected drive makes the list engine address it.
  EXPECT_EQ(window->ListEngine()->CurrentIndex(), 0);
}

// ---- The list lines ----

TEST_F(AppTest, ListLinesOfPassThroughDrives) {
  AddDrive('E', 1, "KM01");
  auto other = machine.AddLetterDrive('F', 12, 3, 1, 2);
  other->identity.vendor = "OTHER   ";
  other->identity.product = "CDROM XYZ       ";
  other->identity.revision = "1.00";
  Start();

  const std::vector<std::string> expected = {
      Line(" 1-0-0-0", "E:", "KM01"),
      "12-2-3-1 F:OTHER   CDROM XYZ        1.00",
  };
  EXPECT_EQ(view.drives, expected);
  EXPECT_EQ(window->DetectedDrivesText(), expected[0] + "\n" + expected[1] + "\n");
}

TEST_F(AppTest, DriveFoundThroughAspiHasNoLetter) {
  machine.AddAspiDrive(2, 1);
  Start();

  ASSERT_EQ(view.drives.size(), 1u);
  EXPECT_EQ(view.drives[0], Line(" 2-0-1-0", "", "KM01"));
}

// ---- Selection ----

TEST_F(AppTest, FirstUpdatableDriveIsPreselectedAndSelectionDrivesTheLabels) {
  AddDrive('E', 1, "0K04");  // not admitted
  AddDrive('F', 2, "0K03");  // admitted by the second entry
  AddDrive('G', 3, "KM03");
  Start();

  EXPECT_EQ(view.selected, 1);
  EXPECT_EQ(window->ListEngine()->CurrentIndex(), 1);

  const struct {
    int line;
    bool updatable;
    const char* oldRevision;
  } steps[] = {{0, false, ""}, {2, true, "KM03"}, {0, false, ""}, {1, true, "0K03"}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.line);
    view.SelectDrive(s.line);
    window->cboDrivesChange();
    EXPECT_EQ(view.Enabled(Control::cmdUpdate), s.updatable);
    EXPECT_EQ(view.Visible(Control::lblOldFW), s.updatable);
    EXPECT_EQ(view.Visible(Control::lblNewFW), s.updatable);
    if (s.updatable) {
      EXPECT_EQ(view.Text(Control::lblUpdateMsg), text::kWillBeUpdated);
      EXPECT_EQ(view.Color(Control::lblUpdateMsg), kColorBlack);
      EXPECT_EQ(view.Text(Control::lblOldFW), s.oldRevision);
      EXPECT_EQ(view.Text(Control::lblNewFW), "KM0P");
      EXPECT_EQ(window->ListEngine()->CurrentIndex(), s.line);
    } else {
      EXPECT_EQ(view.Text(Control::lblUpdateMsg), text::kNotAllowed);
      EXPECT_EQ(view.Color(Control::lblUpdateMsg), kColorMaroon);
    }
  }
}

TEST_F(AppTest, SecondBankShowsItsOwnNewRevision) {
  package.Set(layout::kHOW_MANY_BIN, 2);
  package.SetEntry(1, 0, "0K04", "0K04", "TARN-EX ", "DVDRW QVX-270T  ");
  package.SetNewRevision(1, "0K05");
  package.SetBank(1, 65536, 32768);
  AddDrive('E', 1, "0K04");
  Start();

  EXPECT_EQ(view.selected, 0);
  EXPECT_EQ(view.Text(Control::lblNewFW), "0K05");
}

TEST_F(AppTest, CloseTerminatesOnlyWhenIdle) {
  AddDrive('E', 1, "KM01");
  Start();
  window->cmdUpdateClick();
  ASSERT_TRUE(window->UpdateRunning());
  window->cmdCloseClick();
  EXPECT_EQ(view.terminateCount, 0);

  ASSERT_TRUE(FinishWorkers());
  window->cmdCloseClick();
  EXPECT_EQ(view.terminateCount, 1);
}

}  // namespace
}  // namespace quorel::test
