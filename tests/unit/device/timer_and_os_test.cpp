// HiTimer arithmetic and waits, OSInfo and the restart request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/os_info.h"
#include "device/hitimer.h"
#include "sim/sim_machine.h"

namespace quorel {
namespace {

// ---------------------------------------------------------------------------------------------
// HiTimer

TEST(HiTimer, RunsAddUpWithTheMeasuredOverheadTakenOff) {
  struct Run {
    bool reset;
    double seconds;  // virtual time that passes during the run
  };
  struct Case {
    const char* name;
    int64_t ticksPerRead;
    std::vector<Run> runs;
    double total;
  } const cases[] = {
      {"one run", 10, {{true, 2.0}}, 2.0},
      {"empty run costs nothing", 1000, {{true, 0.0}}, 0.0},
      {"two runs add up", 1000, {{true, 1.0}, {false, 0.5}}, 1.5},
      {"Start(true) begins a new total", 1000, {{true, 1.0}, {false, 0.5}, {true, 0.25}}, 0.25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine machine;
    machine.ticksPerCounterRead = c.ticksPerRead;
    HiTimer timer;
    EXPECT_EQ(timer.Elapsed(), 0.0);  // stopped
    for (const Run& run : c.runs) {
      timer.Start(run.reset);
      machine.AdvanceSeconds(run.seconds);
      timer.Stop();
      EXPECT_FALSE(timer.Running());
    }
    EXPECT_DOUBLE_EQ(timer.Total(), c.total);
    EXPECT_EQ(timer.Elapsed(), 0.0);
  }
}

TEST(HiTimer, TotalWhileRunningUsesTheLastReading) {
  sim::SimMachine machine;
  HiTimer timer;
  timer.Start(true);
  machine.AdvanceSeconds(1.0);
  EXPECT_DOUBLE_EQ(timer.Elapsed(), 1.0);
  machine.AdvanceSeconds(5.0);
  EXPECT_DOUBLE_EQ(timer.Total(), 1.0);  // no new reading
  timer.Reset();
  EXPECT_FALSE(timer.Running());
  EXPECT_EQ(timer.Total(), 0.0);
}

TEST(HiTimer, WithoutCounterReadsZeroAndWaitStillEnds) {
  sim::SimMachine machine;
  machine.counterAvailable = false;
  HiTimer timer;
  EXPECT_FALSE(timer.Available());
  timer.Start(true);
  machine.AdvanceSeconds(3.0);
  EXPECT_EQ(timer.Elapsed(), 0.0);
  timer.Stop();
  EXPECT_EQ(timer.Total(), 0.0);

  double const start = machine.NowSeconds();
  timer.Wait(1.0);
  EXPECT_NEAR(machine.NowSeconds() - start, 1.0, 1e-9);
  EXPECT_GT(machine.CountCalls("ProcessMessages"), 0);
}

TEST(HiTimer, WaitServesMessagesUntilTheTimeHasPassed) {
  sim::SimMachine machine;
  machine.ticksPerCounterRead = machine.counterFrequency / 10;
  HiTimer timer;
  double const start = machine.NowSeconds();
  timer.Wait(1.0);
  EXPECT_GE(machine.NowSeconds() - start, 1.0 - 1e-6);
  EXPECT_EQ(machine.CountCalls("Sleep"), 0);
  EXPECT_GE(machine.CountCalls("ProcessMessages"), 9);
  EXPECT_FALSE(timer.Running());
  EXPECT_GE(timer.Total(), 1.0);
}

// ---------------------------------------------------------------------------------------------
// OSInfo and Restart

std::vector<std::string> CallsFrom(const sim::SimMachine& machine) {
  std::vector<std::string> calls;
  for (const sim::Call& call : machine.Calls()) calls.push_back(call.name + " " + call.args);
  return calls;
}

TEST(OSInfo, RecordsTheNtFamily) {
  for (uint32_t const id : {0u, 1u, 2u, 3u}) {
    sim::SimMachine machine;
    machine.platformId = id;
    EXPECT_EQ(OSInfo().isNtFamily, id == 2 ? 1 : 0) << id;
  }
}

TEST(Restart, NineXFamilyMakesOneCall) {
  for (bool const accepted : {true, false}) {
    sim::SimMachine machine;
    machine.platformId = 1;
    machine.exitWindowsResult = accepted;
    OSInfo const os;
    machine.ClearCalls();
    EXPECT_EQ(Restart(os, win::kEwxReboot), accepted);
    EXPECT_EQ(CallsFrom(machine), std::vector<std::string>{"ExitWindowsEx 6 0"});
  }
}

TEST(Restart, NtFamilyEnablesTheShutdownPrivilegeFirst) {
  sim::SimMachine machine;
  OSInfo const os;
  machine.ClearCalls();
  EXPECT_TRUE(Restart(os, win::kEwxReboot));
  std::vector<std::string> const calls = CallsFrom(machine);
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls[0], "GetCurrentProcess ");
  EXPECT_EQ(calls[1].rfind("OpenProcessToken FFFFFFFF", 0), 0u);  // the pseudo-handle
  EXPECT_EQ(calls[1].substr(calls[1].size() - 3), " 28");         // adjust privileges | query
  EXPECT_EQ(calls[2], "LookupPrivilegeValueA (null) SeShutdownPrivilege");
  EXPECT_EQ(calls[3], "AdjustTokenPrivileges 13 2");  // its identifier, enabled
  EXPECT_EQ(calls[4], "GetLastError 0");
  EXPECT_EQ(calls[5].rfind("CloseHandle", 0), 0u);
  EXPECT_EQ(calls[6], "ExitWindowsEx 6 0");
  EXPECT_EQ(machine.openHandles(), 0);
}

TEST(Restart, NtFamilyRefusalsAskForNoRestart) {
  struct Case {
    const char* name;
    bool tokenFails;
    uint32_t adjustError;
    bool accepted;
    bool result;
    int exitCalls;
  } const cases[] = {
      {"token cannot be opened", true, 0, true, false, 0},
      {"privilege not held", false, win::kErrorNotAllAssigned, true, false, 0},
      {"shutdown refused", false, 0, false, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine machine;
    machine.openTokenFails = c.tokenFails;
    machine.adjustPrivilegeError = c.adjustError;
    machine.exitWindowsResult = c.accepted;
    OSInfo const os;
    EXPECT_EQ(Restart(os, win::kEwxReboot), c.result);
    EXPECT_EQ(machine.CountCalls("ExitWindowsEx"), c.exitCalls);
    EXPECT_EQ(machine.openHandles(), 0);
  }
}

}  // namespace
}  // namespace quorel
