// The run's outcome as the logic decides it over the simulated machine, with the front ends'
// options, and the exit code each front end makes of it.
#include <functional>

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
  const struct {
    const char* name;
    std::function<void()> setUp;
    RunOptions options;
    bool click;  // press Update once start-up ended ready
    Outcome outcome;
    RestartState restart;
    MessageResult answer = MessageResult::Yes;  // to every question
  } rows[] = {
      {"no firmware",
       [this] { package.Set(layout::kHOW_MANY_BIN, 0); },
       {},
       false,
       Outcome::PackageUnusable,
       RestartState::NotAsked},
      {"no drive", [] {}, {}, false, Outcome::NoDrive, RestartState::NotAsked},
      {"notice declined",
       [this] {
         AddDrive('E', 1, "KM01");
         package.Set(layout::kWARNING, 1);
       },
       {},
       false,
       Outcome::Declined,
       RestartState::NotAsked,
       MessageResult::No},
      {"chosen drive not allowed",
       [this] {
         AddDrive('E', 1, "KM01");
         AddDrive('F', 2, "KM1A");  // beyond the package's range
       },
       {},
       true,
       Outcome::DriveNotAllowed,
       RestartState::NotAsked},
      {"updated",
       [this] { AddDrive('E', 1, "KM01"); },
       {},
       true,
       Outcome::Updated,
       RestartState::NotAsked},
      {"read-back fails",
       [this] {
         AddDrive('E', 1, "KM01")->readBackFaults.push_back({0, 3, 0});
       },
       {},
       true,
       Outcome::Failed,
       RestartState::NotAsked},
      {"unattended, up to date",
       [this] {
         AddDrive('E', 1, "KM0P");
         package.Set(layout::kN2OMESSAGE, 1);  // the rules call it up to date
       },
       {.unattended = true},
       false,
       Outcome::NothingToDo,
       RestartState::NotAsked},
      {"unattended, up to date, forced",
       [this] {
         AddDrive('E', 1, "KM0P");
         package.Set(layout::kN2OMESSAGE, 1);  // the rules call it up to date
       },
       {.unattended = true, .force = true},
       false,
       Outcome::Updated,
       RestartState::NotAsked},
      {"unattended, restart held",
       [this] {
         AddDrive('E', 1, "KM01");
         package.Set(layout::kREBOOT, 1);
       },
       {.unattended = true},
       false,
       Outcome::Updated,
       RestartState::NotDone},
      {"unattended, restart passed on",
       [this] {
         AddDrive('E', 1, "KM01");
         package.Set(layout::kREBOOT, 1);
       },
       {.unattended = true, .reboot = true},
       false,
       Outcome::Updated,
       RestartState::Started},
      // The check: discovery and the rules only.
      {"check, a drive to update",
       [this] { AddDrive('E', 1, "KM01"); },
       {.check = true},
       false,
       Outcome::UpdateApplies,
       RestartState::NotAsked},
      {"check, the new firmware already",
       [this] { AddDrive('E', 1, "KM0P"); },
       {.check = true},
       false,
       Outcome::NothingToDo,
       RestartState::NotAsked},
      {"check, forced",
       [this] { AddDrive('E', 1, "KM0P"); },
       {.force = true, .check = true},
       false,
       Outcome::UpdateApplies,
       RestartState::NotAsked},
      {"check, no drive for the package",
       [this] { AddDrive('E', 1, "KM1A"); },
       {.check = true},
       false,
       Outcome::NothingToDo,
       RestartState::NotAsked},
      {"check, a drive that does not answer",
       [this] {
         AddDrive('E', 1, "KM01");
         AddDrive('F', 2, "KM01")->senseFaults.push_back({{0x12, 0, -1}, 2, 4, 0});
       },
       {.check = true},
       false,
       Outcome::Failed,
       RestartState::NotAsked},
      {"up to date, kept",
       [this] {
         AddDrive('E', 1, "KM0P");
         package.Set(layout::kN2OMESSAGE, 1);
       },
       {.keepUpToDate = true},
       true,
       Outcome::NothingToDo,
       RestartState::NotAsked},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    AppTest::WaitForWorkerThreads();
    machine.letters.clear();
    package = TestPackage();
    row.setUp();
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
      for (const auto& letter : machine.letters) {
        EXPECT_EQ(CountOp(*letter.drive, kOpWriteBuffer) + CountOp(*letter.drive, 0x3C) +
                      CountOp(*letter.drive, kOpStartStopUnit),
                  0);
      }
    }
  }
}

}  // namespace
}  // namespace quorel::test
