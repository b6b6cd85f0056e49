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
  using enum Outcome;
  using Revisions = std::vector<const char*>;  // one drive each, E: on
  using Settings = std::vector<std::pair<layout::SettingId, int>>;
  constexpr auto kNotAsked = RestartState::NotAsked;
  enum Twist {
    kNone,
    kAnswersNo,      // to every question; otherwise yes
    kReadBackFails,  // on the first drive, every time
    kLastUnread,     // the last drive answers no INQUIRY
  };
  const struct {
    const char* name;
    Revisions revisions;
    Settings settings;
    RunOptions options;
    bool click;  // press Update on the last line once start-up ended ready
    Outcome outcome;
    RestartState restart = kNotAsked;
    Twist twist = kNone;
  } rows[] = {
      {"no firmware", Revisions{}, Settings{{layout::kHOW_MANY_BIN, 0}}, RunOptions{}, false,
       PackageUnusable},
      {"no drive", Revisions{}, Settings{}, RunOptions{}, false, NoDrive},
      {"notice declined", Revisions{"KM01"}, Settings{{layout::kWARNING, 1}}, RunOptions{}, false,
       Declined, kNotAsked, kAnswersNo},
      {"chosen drive not allowed", Revisions{"KM01", "KM1A"}, Settings{}, RunOptions{}, true,
       DriveNotAllowed},
      {"updated", Revisions{"KM01"}, Settings{}, RunOptions{}, true, Updated},
      {"read-back fails", Revisions{"KM01"}, Settings{}, RunOptions{}, true, Failed, kNotAsked,
       kReadBackFails},
      {"unattended, up to date", Revisions{"KM0P"}, Settings{{layout::kN2OMESSAGE, 1}},
       RunOptions{.unattended = true}, false, NothingToDo},
      {"unattended, up to date, forced", Revisions{"KM0P"}, Settings{{layout::kN2OMESSAGE, 1}},
       RunOptions{.unattended = true, .force = true}, false, Updated},
      {"unattended, restart held", Revisions{"KM01"}, Settings{{layout::kREBOOT, 1}},
       RunOptions{.unattended = true}, false, Updated, RestartState::NotDone},
      {"unattended, restart passed on", Revisions{"KM01"}, Settings{{layout::kREBOOT, 1}},
       RunOptions{.unattended = true, .reboot = true}, false, Updated, RestartState::Started},
      // The check: discovery and the rules only.
      {"check, a drive to update", Revisions{"KM01"}, Settings{}, RunOptions{.check = true}, false,
       UpdateApplies},
      {"check, the new firmware already", Revisions{"KM0P"}, Settings{}, RunOptions{.check = true},
       false, NothingToDo},
      {"check, forced", Revisions{"KM0P"}, Settings{}, RunOptions{.force = true, .check = true},
       false, UpdateApplies},
      {"check, no drive for the package", Revisions{"KM1A"}, Settings{}, RunOptions{.check = true},
       false, NothingToDo},
      {"check, a drive that does not answer", Revisions{"KM01", "KM01"}, Settings{},
       RunOptions{.check = true}, false, Failed, kNotAsked, kLastUnread},
      {"up to date, kept", Revisions{"KM0P"}, Settings{{layout::kN2OMESSAGE, 1}},
       RunOptions{.keepUpToDate = true}, true, NothingToDo},
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
    if (row.twist == kReadBackFails) drives.front()->readBackFaults.push_back({0, 3, 0});
    if (row.twist == kLastUnread) drives.back()->senseFaults.push_back({{0x12, 0, -1}, 2, 4, 0});
    FakeView local;
    local.answers.assign(4, row.twist == kAnswersNo ? MessageResult::No : MessageResult::Yes);
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
