// The window's logic on a simulated machine: a fake view, a test package and helpers to start
// the window and to run worker completions (the test thread stands for the window thread).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "app/quorel_main.h"
#include "app/texts.h"
#include "fake_view.h"
#include "sim/sim_machine.h"
#include "test_package.h"

namespace quorel::test {

constexpr uint8_t kOpWriteBuffer = 0x3B;
constexpr uint8_t kOpStartStopUnit = 0x1B;
constexpr uint8_t kOpEventStatus = 0x4A;

class AppTest : public ::testing::Test {
 protected:
  // Timed waits in the download read the virtual counter in a loop: 1 ms a read keeps them short.
  AppTest() { machine.ticksPerCounterRead = 10'000; }
  ~AppTest() override {
    // A failed test may leave workers waiting for their completion: let them end first.
    if (window) machine.dispatcher().PumpUntil([&] { return window->RunningWorkers() <= 0; }, 10);
    window.reset();
    WaitForWorkerThreads();
  }

  // A worker leaves the dispatcher after its completion has run; the dispatcher must outlive it.
  static void WaitForWorkerThreads() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Parser::Running() > 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // A pass-through drive at letter E:, F:, ... with the given revision.
  std::shared_ptr<sim::SimDrive> AddDrive(char letter, uint8_t port, const std::string& revision) {
    auto drive = machine.AddLetterDrive(letter, port);
    drive->identity.revision = revision;
    return drive;
  }

  void Start() { window = std::make_unique<TQuorelMain>(view, package.View()); }

  // Runs queued completions until the update has ended.
  bool FinishWorkers() {
    return machine.dispatcher().PumpUntil([&] { return !window->UpdateRunning(); });
  }

  static int CountOp(const sim::SimDrive& drive, uint8_t opcode) {
    return static_cast<int>(std::count_if(drive.log.begin(), drive.log.end(),
                                          [&](const auto& c) { return c.cdb[0] == opcode; }));
  }
  static bool Written(const sim::SimDrive& drive) { return CountOp(drive, kOpWriteBuffer) > 0; }

  sim::SimMachine machine;
  FakeView view;
  TestPackage package;
  std::unique_ptr<TQuorelMain> window;
};

}  // namespace quorel::test
