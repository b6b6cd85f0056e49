// The Update workflow: jobs, the disc and tray check, progress, completion and its decisions.
#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app_fixture.h"

namespace quorel::test {
namespace {

const std::string kQuestion = std::string(text::kAlreadyUpdated) + text::kContinueQuestion;

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

int CountOf(const std::vector<std::string>& list, const std::string& item) {
  return static_cast<int>(std::count(list.begin(), list.end(), item));
}

bool ProgrammedWith(const sim::SimDrive& drive, const std::string& revision) {
  const std::string expected = std::string(sim::kDemoImageMagic) + revision;
  return drive.programCount > 0 && drive.programmed.size() >= expected.size() &&
         std::equal(expected.begin(), expected.end(), drive.programmed.begin());
}

// ---- The question for a drive that is already up to date ----

struct QuestionCase {
  const char* name;
  int automode, n2oMessage;
  const char* revision;
  MessageResult answer;
  bool asked, ended, written;
};

void PrintTo(const QuestionCase& c, std::ostream* os) {
  *os << c.name;
}

class UpToDateQuestion : public AppTest, public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(UpToDateQuestion, AskedInManualModeOnly) {
  const QuestionCase& c = GetParam();
  auto drive = AddDrive('E', 1, c.revision);
  package.Set(layout::kAUTOMODE, c.automode);
  package.Set(layout::kN2OMESSAGE, c.n2oMessage);
  view.answers = {c.answer};
  Start();
  if (c.automode == 0) window->cmdUpdateClick();
  ASSERT_TRUE(FinishWorkers());

  EXPECT_EQ(Contains(view.DialogTexts(), kQuestion), c.asked);
  if (c.asked) {
    EXPECT_EQ(view.dialogs[0].kind, MessageKind::Warning);
    EXPECT_EQ(view.dialogs[0].buttons, MessageButtons::YesNo);
  }
  EXPECT_EQ(view.terminateCount, c.ended ? 1 : 0);
  EXPECT_EQ(Written(*drive), c.written);
  EXPECT_EQ(window->JobCount(), c.written ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Update, UpToDateQuestion,
    ::testing::Values(
        QuestionCase{"ManualAnsweredNo", 0, 1, "KM0P", MessageResult::No, true, true, false},
        QuestionCase{"ManualAnsweredYes", 0, 1, "KM0P", MessageResult::Yes, true, false, true},
        QuestionCase{"ManualOlderRevision", 0, 1, "KM05", MessageResult::No, false, false, true},
        QuestionCase{"ManualNoQuestionAsked", 0, 0, "KM0P", MessageResult::No, false, false, true},
        QuestionCase{"Automatic", 1, 1, "KM0P", MessageResult::No, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Which drives an update covers ----

TEST_F(AppTest, ManualModeUpdatesTheSelectedDriveOnly) {
  auto first = AddDrive('E', 1, "KM01");
  auto second = AddDrive('F', 2, "KM02");
  Start();
  view.SelectDrive(1);
  window->cboDrivesChange();
  window->cmdUpdateClick();
  ASSERT_TRUE(FinishWorkers());

  EXPECT_EQ(window->JobCount(), 1);
  EXPECT_FALSE(Written(*first));
  EXPECT_TRUE(ProgrammedWith(*second, "KM0P"));
  EXPECT_EQ(view.DialogTexts(), std::vector<std::string>{text::kFlashSucceeded});
}

// The button is disabled for a drive the rules refuse; the handler must refuse it too.
TEST_F(AppTest, ManualPressOnADriveTheRulesRefuseWritesNothing) {
  AddDrive('E', 1, "KM01");
  auto refused = AddDrive('F', 2, "KM1A");
  Start();
  view.SelectDrive(1);
  window->cboDrivesChange();
  ASSERT_FALSE(view.Enabled(Control::cmdUpdate));
  window->cmdUpdateClick();
  ASSERT_TRUE(FinishWorkers());

  EXPECT_EQ(window->JobCount(), 0);
  EXPECT_FALSE(Written(*refused));
  EXPECT_TRUE(view.dialogs.empty());
}

TEST_F(AppTest, AutomaticModeCoversEveryUpdatableDriveOnEachPress) {
  auto first = AddDrive('E', 1, "KM01");
  auto other = AddDrive('F', 2, "0K04");  // not admitted
  auto third = AddDrive('G', 3, "KM02");
  package.Set(layout::kAUTOMODE, 1);
  Start();  // the update starts during start-up
  ASSERT_TRUE(FinishWorkers());

  EXPECT_EQ(window->JobCount(), 2);
  EXPECT_TRUE(ProgrammedWith(*first, "KM0P"));
  EXPECT_TRUE(ProgrammedWith(*third, "KM0P"));
  EXPECT_FALSE(Written(*other));
  EXPECT_EQ(view.DialogTexts(), std::vector<std::string>{text::kFlashSucceeded});
  EXPECT_EQ(view.drives[0].substr(view.drives[0].size() - 4), "KM0P");
  EXPECT_EQ(view.drives[2].substr(view.drives[2].size() - 4), "KM0P");

  // A second press, with the unsupported line selected, covers both updatable drives again.
  view.SelectDrive(1);
  window->cmdUpdateClick();
  ASSERT_TRUE(FinishWorkers());
  EXPECT_EQ(window->JobCount(), 2);
  EXPECT_EQ(first->programCount, 2);
  EXPECT_EQ(third->programCount, 2);
  EXPECT_FALSE(Written(*other));
}

TEST_F(AppTest, AutomaticPressWithNothingUpdatableChangesNothing) {
  auto drive = AddDrive('E', 1, "KM01");
  package.Set(layout::kAUTOMODE, 1);
  package.WriteDemoImage(0, "ZZ01");  // sorts after KM0P: no longer admitted once installed
  Start();
  ASSERT_TRUE(FinishWorkers());
  ASSERT_EQ(drive->programCount, 1);
  ASSERT_EQ(view.selected, -1);  // no line is updatable any more

  const int changes = view.changes;
  const size_t dialogs = view.dialogs.size();
  window->cmdUpdateClick();
  EXPECT_EQ(window->JobCount(), 0);
  EXPECT_FALSE(window->UpdateRunning());
  EXPECT_EQ(view.changes, changes);
  EXPECT_EQ(view.dialogs.size(), dialogs);
  EXPECT_FALSE(view.timerEnabled);
  EXPECT_EQ(drive->programCount, 1);
}

// ---- Controls while an update runs ----

TEST_F(AppTest, UpdateButtonStaysDisabledWhileTheUpdateRuns) {
  auto first = AddDrive('E', 1, "KM01");
  auto second = AddDrive('F', 2, "KM02");
  Start();
  window->cmdUpdateClick();

  ASSERT_TRUE(window->UpdateRunning());
  EXPECT_EQ(view.updateRunningCalls, std::vector<bool>{true});
  EXPECT_FALSE(view.Enabled(Control::cmdUpdate));
  EXPECT_FALSE(view.Enabled(Control::cmdClose));
  EXPECT_TRUE(view.timerEnabled);
  EXPECT_EQ(view.Color(Control::lblMsg), kColorMaroon);

  // The user picks the other line: labels follow, the button does not.
  view.SelectDrive(1);
  window->cboDrivesChange();
  EXPECT_EQ(view.Text(Control::lblOldFW), "KM02");
  EXPECT_FALSE(view.Enabled(Control::cmdUpdate));
  window->cmdUpdateClick();  // ignored: one update at a time

  ASSERT_TRUE(FinishWorkers());
  EXPECT_EQ(view.updateRunningCalls, (std::vector<bool>{true, false}));
  EXPECT_EQ(first->programCount, 1);
  EXPECT_FALSE(Written(*second));
  // The updated drive was read again although another line was selected by then.
  EXPECT_EQ(view.drives[0].substr(view.drives[0].size() - 4), "KM0P");
  EXPECT_EQ(view.selected, 1);
  EXPECT_EQ(view.Text(Control::lblOldFW), "KM02");
  EXPECT_TRUE(view.Enabled(Control::cmdUpdate));
  EXPECT_TRUE(view.Enabled(Control::cmdClose));
}

// ---- Disc and tray check ----

using Texts = std::vector<std::string>;
struct TrayCase {
  const char* name;
  int chkDisc;
  bool disc, trayOpen, trayLocked, trayInFailsOnce;
  Texts status;   // lblMsg texts set by the Update handler
  Texts dialogs;  // warnings before the worker starts
  // What the user does when dialog n (from 0) is shown.
  std::function<void(sim::SimDrive&, int n)> user;
};

void PrintTo(const TrayCase& c, std::ostream* os) {
  *os << c.name;
}

class DiscAndTray : public AppTest, public ::testing::WithParamInterface<TrayCase> {};

TEST_P(DiscAndTray, MessagesInOrderUntilTheDriveIsEmptyAndClosed) {
  const TrayCase& c = GetParam();
  auto drive = AddDrive('E', 1, "KM01");
  drive->discPresent = c.disc;
  drive->trayOpen = c.trayOpen;
  drive->trayLocked = c.trayLocked;
  package.Set(layout::kCHKDISC, c.chkDisc);
  Start();
  drive->ResetRecord();
  if (c.trayInFailsOnce) drive->senseFaults.push_back({{kOpStartStopUnit}, 2, 0x04});
  int shown = 0;
  view.onDialog = [&](const ShownDialog&) { c.user(*drive, shown++); };
  const size_t before = view.statusHistory.size();
  window->cmdUpdateClick();

  const std::vector<std::string> status(view.statusHistory.begin() + before,
                                        view.statusHistory.end());
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(view.DialogTexts(), c.dialogs);
  for (const ShownDialog& d : view.dialogs) {
    EXPECT_EQ(d.kind, MessageKind::Warning);
    EXPECT_EQ(d.buttons, MessageButtons::Ok);
  }
  ASSERT_TRUE(FinishWorkers());
  EXPECT_EQ(CountOp(*drive, kOpEventStatus) > 0, c.chkDisc == 1);
  EXPECT_TRUE(ProgrammedWith(*drive, "KM0P"));
  EXPECT_EQ(view.dialogs.back().text, text::kFlashSucceeded);
}

const std::string kCheck = text::kCheckDiscTray, kOut = text::kTrayOut, kIn = text::kTrayIn,
                  kWait = text::kWaitingReady;
auto RemoveDiscAt(int n) {
  return [n](sim::SimDrive& d, int shown) {
    if (shown == n) d.discPresent = false;
  };
}

INSTANTIATE_TEST_SUITE_P(
    Update, DiscAndTray,
    ::testing::Values(
        TrayCase{"Unchecked", 0, true, false, false, false, Texts{}, Texts{}, RemoveDiscAt(-1)},
        TrayCase{"EmptyAndClosed", 1, false, false, false, false, Texts{kCheck}, Texts{},
                 RemoveDiscAt(-1)},
        TrayCase{"Disc", 1, true, false, false, false, Texts{kCheck, kOut, kIn, kWait},
                 Texts{text::kRemoveDisc}, RemoveDiscAt(0)},
        // The loop repeats, with the same message, until the disc is gone.
        TrayCase{"LockedTray", 1, true, false, true, false,
                 Texts{kCheck, kOut, kIn, kWait, kOut, kIn, kWait},
                 Texts{text::kDiscLocked, text::kDiscLocked}, RemoveDiscAt(1)},
        TrayCase{"OpenEmptyTray", 1, false, true, false, false, Texts{kCheck, kIn, kWait}, Texts{},
                 RemoveDiscAt(-1)},
        TrayCase{"TrayThatStaysOut", 1, false, true, false, true, Texts{kCheck, kIn, kWait},
                 Texts{text::kPushTrayIn}, [](sim::SimDrive& d, int) { d.trayOpen = false; }}),
    [](const auto& info) { return std::string(info.param.name); });

// A disc that never goes, or a drive that never reports one gone, ends the check after its
// rounds: that drive gets no worker and nothing is written; the usual failure report follows.
// (After 20 dialogs the user frees the drive, so that an unbounded check ends too.)
class DiscCheckBound : public AppTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Update, DiscCheckBound, ::testing::Values(false, true),
                         [](const auto& info) {
                           return info.param ? "HardwareErrorToTestUnitReady" : "LockedTray";
                         });

TEST_P(DiscCheckBound, GivesUpAfterItsRounds) {
  const bool hardwareError = GetParam();
  auto drive = AddDrive('E', 1, "KM01");
  package.Set(layout::kCHKDISC, 1);
  Start();
  drive->ResetRecord();
  drive->discPresent = true;
  drive->trayLocked = !hardwareError;
  if (hardwareError) drive->senseFaults.push_back({{0x00, 0, -1}, 4, 0x44, 0});
  int shown = 0;
  view.onDialog = [&](const ShownDialog&) {
    if (++shown < 20) return;
    drive->discPresent = false;
    drive->senseFaults.clear();
  };
  window->cmdUpdateClick();
  ASSERT_TRUE(FinishWorkers());

  std::vector<std::string> expected(5, text::kDiscLocked);
  expected.push_back(text::kFlashFailed);
  EXPECT_EQ(view.DialogTexts(), expected);
  EXPECT_FALSE(Written(*drive));
  EXPECT_EQ(view.terminateCount, 1);
}

// ---- Progress ----

TEST_F(AppTest, TimerAnimatesPercentAndDots) {
  AddDrive('E', 1, "KM01");
  Start();
  window->cmdUpdateClick();
  ASSERT_EQ(view.progressMin, 0);
  ASSERT_EQ(view.progressMax, 330);
  EXPECT_EQ(view.Text(Control::lblMsg), "");  // unchanged until the first tick

  const struct {
    int ticks;  // total so far
    int position;
    const char* percent;
    const char* status;
  } steps[] = {
      {1, 1, "0 %", "Programming ."},
      {3, 3, "0 %", "Programming ..."},
      {4, 4, "1 %", "Programming ...."},
      {10, 10, "3 %", "Programming "},
      {33, 33, "10 %", "Programming ..."},
      {329, 329, "99 %", "Programming ........."},
      {330, 330, "100 %", "Programming "},
      {331, 330, "100 %", "Programming .........."},
      {600, 330, "100 %", "Programming .........."},
  };
  int ticks = 0;
  for (const auto& s : steps) {
    SCOPED_TRACE(s.ticks);
    for (; ticks < s.ticks; ++ticks) window->tmrTimer();
    EXPECT_EQ(view.progressPosition, s.position);
    EXPECT_EQ(view.Text(Control::lblPercent), s.percent);
    EXPECT_EQ(view.Text(Control::lblMsg), s.status);
  }
  ASSERT_TRUE(FinishWorkers());
  EXPECT_FALSE(view.timerEnabled);
}

// ---- Completion ----

TEST_F(AppTest, SuccessReportsOnceAndFollowsRebootAndCloseSettings) {
  auto drive = AddDrive('E', 1, "KM01");
  const struct {
    int reboot, closeAp;
    bool restart, ends;
  } cases[] = {
      {0, 0, false, false}, {0, 1, false, true}, {1, 0, true, true},
      {1, 1, true, true},   {2, 0, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "REBOOT " << c.reboot << " CLOSEAP " << c.closeAp);
    package.Set(layout::kREBOOT, c.reboot);
    package.Set(layout::kCLOSEAP, c.closeAp);
    WaitForWorkerThreads();
    drive->identity.revision = "KM01";
    machine.ClearCalls();
    FakeView local;
    bool guardOffBeforeReport = false;
    local.onDialog = [&](const ShownDialog&) {
      guardOffBeforeReport = local.updateRunningCalls == std::vector<bool>{true, false};
    };
    TQuorelMain main(local, package.View());
    main.cmdUpdateClick();
    ASSERT_TRUE(machine.dispatcher().PumpUntil([&] { return !main.UpdateRunning(); }));

    ASSERT_EQ(local.dialogs.size(), 1u);
    EXPECT_EQ(local.dialogs[0].text, text::kFlashSucceeded);
    EXPECT_EQ(local.dialogs[0].kind, MessageKind::Information);
    EXPECT_EQ(local.dialogs[0].statusText, text::kDone);
    EXPECT_EQ(local.dialogs[0].statusColor, kColorNavy);
    EXPECT_TRUE(guardOffBeforeReport);
    EXPECT_EQ(CountOf(local.statusHistory, text::kInquiry), 1);
    EXPECT_TRUE(main.AllSucceeded());
    // The job engine is gone with its drive handle; the list engine holds the selected drive.
    EXPECT_EQ(machine.openHandles(), 1);
    EXPECT_EQ(machine.CountCalls("ExitWindowsEx"), c.restart ? 1 : 0);
    EXPECT_EQ(local.terminateCount, c.ends ? 1 : 0);
    // Back to ready, showing the revision the drive now reports.
    EXPECT_EQ(local.Text(Control::lblMsg), "");
    EXPECT_EQ(local.Text(Control::lblPercent), "0 %");
    EXPECT_EQ(local.progressPosition, 0);
    EXPECT_FALSE(local.timerEnabled);
    EXPECT_TRUE(local.Enabled(Control::cmdUpdate));
    EXPECT_TRUE(local.Enabled(Control::cmdClose));
    EXPECT_EQ(local.Text(Control::lblOldFW), "KM0P");
  }
  EXPECT_EQ(machine.openHandles(), 0);
}

struct FailureCase {
  const char* name;
  int automode;
  int drives;
  bool emptyBank;       // the bank's size slot holds 0 (a placeholder bank): nothing may be written
  bool denied = false;  // the system refuses writes to drive 0 with access denied
  bool unconfirmed = false;  // drive 0 programs, but its answer to the final command is late
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class FailedUpdate : public AppTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedUpdate, OneErrorAndTheProgramEnds) {
  const FailureCase& c = GetParam();
  std::vector<std::shared_ptr<sim::SimDrive>> drives;
  for (int i = 0; i < c.drives; ++i) {
    drives.push_back(AddDrive(static_cast<char>('E' + i), static_cast<uint8_t>(1 + i), "KM01"));
  }
  if (c.emptyBank) {
    package.SetBank(0, 0, 0);
  } else if (c.denied) {
    machine.letters[0].restrictedCommands = true;
  } else if (c.unconfirmed) {
    drives[0]->onAnswer = [](const uint8_t* cdb, int, uint8_t*, uint32_t,
                             sim::CommandResult& result) {
      if (cdb[0] == kOpWriteBuffer && (cdb[9] & 0x80) != 0) result.delaySeconds = 200000.0;
    };
  } else {
    drives[0]->transportFaults.push_back({kOpWriteBuffer, 0, -1});
  }
  package.Set(layout::kAUTOMODE, c.automode);
  package.Set(layout::kREBOOT, 1);
  Start();
  if (c.automode == 0) window->cmdUpdateClick();
  ASSERT_TRUE(FinishWorkers());

  EXPECT_EQ(window->JobCount(), c.drives);
  EXPECT_FALSE(window->AllSucceeded());
  ASSERT_EQ(view.dialogs.size(), 1u);
  EXPECT_EQ(view.dialogs[0].text, std::string(text::kFlashFailed) +
                                      (c.denied ? text::kAccessDenied : "") +
                                      (c.unconfirmed ? text::kProgramUnconfirmed : ""));
  EXPECT_EQ(view.dialogs[0].kind, MessageKind::Error);
  EXPECT_EQ(view.terminateCount, 1);
  EXPECT_EQ(machine.CountCalls("ExitWindowsEx"), 0);
  if (c.denied || c.emptyBank) {
    EXPECT_FALSE(Written(*drives[0]));
  }
  if (c.drives > 1) {
    EXPECT_TRUE(ProgrammedWith(*drives[1], "KM0P"));
  }
}

INSTANTIATE_TEST_SUITE_P(Update, FailedUpdate,
                         ::testing::Values(FailureCase{"Manual", 0, 1, false},
                                           FailureCase{"AutomaticOneOfTwo", 1, 2, false},
                                           FailureCase{"EmptyBank", 0, 1, true},
                                           FailureCase{"AccessDenied", 1, 2, false, true},
                                           FailureCase{"Unconfirmed", 0, 1, false, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Completions during preparation ----

TEST_F(AppTest, WorkerFinishingWhileLaterDrivesArePreparedDoesNotEndTheUpdate) {
  auto first = AddDrive('E', 1, "KM01");
  auto second = AddDrive('F', 2, "KM02");
  second->discPresent = true;
  package.Set(layout::kAUTOMODE, 1);
  package.Set(layout::kCHKDISC, 1);
  bool heldBack = false;
  view.onDialog = [&](const ShownDialog& d) {
    if (d.text != text::kRemoveDisc) return;
    // The window thread runs the first worker's completion while this dialog is open.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (machine.dispatcher().Pump() == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    heldBack = !Contains(view.statusHistory, text::kInquiry) && view.dialogs.size() == 1 &&
               first->programCount == 1;
    second->discPresent = false;
  };
  Start();  // automatic mode: the update runs inside start-up
  EXPECT_TRUE(heldBack);
  ASSERT_TRUE(window->UpdateRunning());
  ASSERT_TRUE(FinishWorkers());

  EXPECT_EQ(view.DialogTexts(),
            (std::vector<std::string>{text::kRemoveDisc, text::kFlashSucceeded}));
  EXPECT_EQ(CountOf(view.statusHistory, text::kInquiry), 1);
  EXPECT_EQ(view.updateRunningCalls, (std::vector<bool>{true, false}));
  EXPECT_TRUE(ProgrammedWith(*first, "KM0P"));
  EXPECT_TRUE(ProgrammedWith(*second, "KM0P"));
  EXPECT_TRUE(window->AllSucceeded());
}

// A build with placeholder part blocks: a drive that is not the simulated test drive gets no
// command at all from the update, the other drive is updated, and the failure says why.
TEST_F(AppTest, PlaceholderBuildLeavesARealDriveUntouched) {
  auto simulated = AddDrive('E', 1, "KM01");
  auto real = AddDrive('F', 2, "KM01");
  real->identity.vendorSpecific = "2004/01/14      ";
  package.Set(layout::kAUTOMODE, 1);
  package.Set(layout::kCHKDISC, 1);
  real->discPresent = true;  // no disc check for it either
  Start();
  ASSERT_TRUE(FinishWorkers());

  EXPECT_TRUE(ProgrammedWith(*simulated, "KM0P"));
  // Only the identity reads of start-up and of the completion's re-read reached it.
  for (const auto& c : real->log) {
    EXPECT_TRUE(c.cdb[0] == 0x00 || c.cdb[0] == 0x12 || c.cdb[0] == 0xDF) << int(c.cdb[0]);
  }
  EXPECT_EQ(view.DialogTexts(), std::vector<std::string>{std::string(text::kFlashFailed) +
                                                         text::kPlaceholderPartBlocks});
  EXPECT_EQ(view.terminateCount, 1);
}

TEST_F(AppTest, DriveThatCannotBeAddressedFailsWithoutBeingTouched) {
  auto drive = AddDrive('E', 1, "KM01");
  package.Set(layout::kCHKDISC, 1);
  Start();
  drive->ResetRecord();
  machine.letters[0].openable = false;  // another program holds the drive now
  window->cmdUpdateClick();

  EXPECT_FALSE(window->UpdateRunning());
  EXPECT_EQ(view.DialogTexts(), std::vector<std::string>{text::kFlashFailed});
  EXPECT_EQ(view.terminateCount, 1);
  EXPECT_EQ(CountOp(*drive, kOpStartStopUnit), 0);
  EXPECT_FALSE(Written(*drive));
}

}  // namespace
}  // namespace quorel::test
