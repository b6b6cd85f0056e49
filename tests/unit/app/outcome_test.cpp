// The run's outcome as the logic decides it over the simulated machine, with the front ends'
// options, and the exit code each front end makes of it.
#include <memory>
#include <utility>
#include <vector>

#include "app/exit_codes.h"
#include "app_fixture.h"

namespace quorel::test {
namespace {

TEST(ExitCodes, EveryOutcomeAndRestartStateOnBothFrontEnds) {
  const struct {
    Outcome outcome;
    RestartState restart;
    int windows, flash;
  } rows[] = {
      {Outcome::Running, RestartState::NotAsked, 1602, 3},
      {Outcome::PackageUnusable, RestartState::NotAsked, 1620, 2},
      {Outcome::NoDrive, RestartState::NotAsked, 1642, 3},
      {Outcome::DriveNotAllowed, RestartState::NotAsked, 1642, 3},
      {Outcome::Declined, RestartState::NotAsked, 1602, 5},
      {Outcome::NothingToDo, RestartState::NotAsked, 0, 0},
      {Outcome::Updated, RestartState::NotAsked, 0, 0},
      {Outcome::Updated, RestartState::Started, 1641, 0},
      {Outcome::Updated, RestartState::NotDone, 3010, 7},
      {Outcome::UpdateApplies, RestartState::NotAsked, 100, 100},
      {Outcome::Failed, RestartState::NotAsked, 1603, 4},  // the drive list not made included
      {Outcome::Failed, RestartState::NotDone, 1603, 4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << int(row.outcome) << "/" << int(row.restart));
    EXPECT_EQ(ExitCodeOf(FrontEnd::WindowsSwitches, row.outcome, row.restart), row.windows);
    EXPECT_EQ(ExitCodeOf(FrontEnd::Flash, row.outcome, row.restart), row.flash);
  }
}

// Each outcome the logic can reach, through RunOptions as the front ends pass them.
TEST_F(AppTest, RunOptionsLeadToTheirOutcome) {
  constexpr auto kNotAsked = RestartState::NotAsked;
  const struct {
    const char* name;
    std::vector<const char*> revisions;  // one drive each, E: on
    std::vector<std::pair<layout::SettingId, int>> settings;
    RunOptions options;
    bool click;  // press Update on the last line once start-up ended ready
    Outcome outcome;
    RestartState restart = RestartState::NotAsked;
    MessageResult answer = MessageResult::Yes;  // to every question
    bool readBackFails = false;                 // on the first drive, every time
    bool lastUnread = false;                    // the last drive answers no INQUIRY
  } rows[] = {
      {"no firmware", {}, {{layout::kHOW_MANY_BIN, 0}}, {}, false, Outcome::PackageUnusable},
      {"no drive", {}, {}, {}, false, Outcome::NoDrive},
      {"notice declined",
       {"KM01"},
       {{layout::kWARNING, 1}},
       {},
       false,
       Outcome::Declined,
       kNotAsked,
       MessageResult::No},
      {"chosen drive not allowed", {"KM01", "KM1A"}, {}, {}, true, Outcome::DriveNotAllowed},
      {"updated", {"KM01"}, {}, {}, true, Outcome::Updated},
      {"read-back fails",
       {"KM01"},
       {},
       {},
       true,
       Outcome::Failed,
       kNotAsked,
       MessageResult::Yes,
       true},
      {"unattended, up to date",
       {"KM0P"},
       {{layout::kN2OMESSAGE, 1}},
       {.unattended = true},
       false,
       Outcome::NothingToDo},
      {"unattended, up to date, forced",
       {"KM0P"},
       {{layout::kN2OMESSAGE, 1}},
       {.unattended = true, .force = true},
       false,
       Outcome::Updated},
      {"unattended, restart held",
       {"KM01"},
       {{layout::kREBOOT, 1}},
       {.unattended = true},
       false,
       Outcome::Updated,
       RestartState::NotDone},
      {"unattended, restart passed on",
       {"KM01"},
       {{layout::kREBOOT, 1}},
       {.unattended = true, .reboot = true},
       false,
       Outcome::Updated,
       RestartState::Started},
      // The check: discovery and the rules only.
      {"check, a drive to update", {"KM01"}, {}, {.check = true}, false, Outcome::UpdateApplies},
      {"check, the new firmware already",
       {"KM0P"},
       {},
       {.check = true},
       false,
       Outcome::NothingToDo},
      {"check, forced",
       {"KM0P"},
       {},
       {.force = true, .check = true},
       false,
       Outcome::UpdateApplies},
      {"check, no drive for the package",
       {"KM1A"},
       {},
       {.check = true},
       false,
       Outcome::NothingToDo},
      {"check, a drive that does not answer",
       {"KM01", "KM01"},
       {},
       {.check = true},
       false,
       Outcome::Failed,
       kNotAsked,
       MessageResult::Yes,
       false,
       true},
      {"up to date, kept",
       {"KM0P"},
       {{layout::kN2OMESSAGE, 1}},
       {.keepUpToDate = true},
       true,
       Outcome::NothingToDo},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    AppTest::WaitForWorkerThreads();
    machine.letters.clear();
    package = TestPackage();
    for (const auto& [id, digit] : row.settings) package.Set(id, digit);
    std::vector<std::shared_ptr<sim::SimDrive>> drives;
    for (const char* revision : row.revisions) {
      drives.push_back(AddDrive(char('E' + drives.size()), uint8_t(1 + drives.size()), revision));
    }
    if (row.readBackFails) drives.front()->readBackFaults.push_back({0, 3, 0});
    if (row.lastUnread) drives.back()->senseFaults.push_back({{0x12, 0, -1}, 2, 4, 0});
    FakeView local;
    local.answers.assign(4, row.answer);
    TQuorelMain main(local, package.View(), row.options);
    if (row.click) {
      local.SelectDrive(static_cast<int>(local.drives.size()) - 1);
      main.cboDrivesChange();
      main.cmdUpdateClick();
    }
    ASSERT_TRUE(machine.dispatcher().PumpUntil([&] { return !main.UpdateRunning(); }));
    EXPECT_EQ(main.RunOutcome(), row.outcome);
    EXPECT_EQ(main.Restarted(), row.restart);
    if (row.options.check || row.options.keepUpToDate) {
      EXPECT_TRUE(local.dialogs.empty());
      for (const auto& drive : drives) {
        EXPECT_EQ(CountOp(*drive, kOpWriteBuffer) + CountOp(*drive, 0x3C) +
                      CountOp(*drive, kOpStartStopUnit),
                  0);
      }
    }
  }
}

}  // namespace
}  // namespace quorel::test
