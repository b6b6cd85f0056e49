// The flash worker: result codes, the completion on the window thread, independence of workers.
#include "flash/parser.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "platform/threads.h"
#include "unit/flash/flash_rig.h"

namespace quorel::test {
namespace {

// Completions as the window thread saw them.
struct Completions {
  std::vector<ThreadId> threads;
  std::vector<Parser*> senders;

  Parser::TerminateCallback Callback() {
    return [this](Parser* sender) {
      threads.push_back(CurrentThreadId());
      senders.push_back(sender);
    };
  }
};

// Pumps the window-thread queue until every worker has ended, then once more, so that a late
// second completion would be seen.
void PumpUntilWorkersEnd(sim::SimMachine& machine) {
  ASSERT_TRUE(machine.dispatcher().PumpUntil([] { return Parser::Running() == 0; }, 60.0));
  machine.dispatcher().Pump();
}

void RunWorkers(sim::SimMachine& machine, const std::vector<FlashJob>& jobs, Completions& done) {
  for (const FlashJob& job : jobs) new Parser(job, done.Callback());
  PumpUntilWorkersEnd(machine);
}

FlashJob JobFor(AtapiDevice& engine, const std::vector<uint8_t>& image) {
  FlashJob job;
  job.engine = &engine;
  job.image = image.data();
  job.size = int32_t(image.size());
  job.bootCode = 1;
  return job;
}

TEST(Parser, ResultCodeFollowsTheDownloadAndCompletesOnceOnTheWindowThread) {
  const auto image = PatternImage(4 * kBlock, 11);
  const struct {
    const char* name;
    int readBackFailures;
    int32_t size;
    uint8_t result;
  } rows[] = {
      {"verified download", 0, int32_t(image.size()), 0},
      {"read back wrong three times", 3, int32_t(image.size()), kFlashFailed},
      {"size refused", 0, 100, kFlashFailed},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FlashRig rig;
    if (row.readBackFailures > 0) rig.drive->readBackFaults.push_back({1, row.readBackFailures, 0});
    rig.engine->FlashResult = 7;  // the worker starts from 0, whatever was there
    FlashJob job = JobFor(*rig.engine, image);
    job.size = row.size;
    Completions done;
    RunWorkers(rig.machine, {job}, done);

    EXPECT_EQ(rig.engine->FlashResult, row.result);
    ASSERT_EQ(done.senders.size(), 1u);
    EXPECT_NE(done.senders[0], nullptr);
    EXPECT_EQ(done.threads[0], CurrentThreadId());
    EXPECT_EQ(rig.drive->programCount, row.result == 0 ? 1 : 0);
  }
}

TEST(Parser, SecondRunOnTheSameEngineStartsAfresh) {
  FlashRig rig;
  const auto image = PatternImage(2 * kBlock, 12);
  rig.drive->readBackFaults.push_back({0, 3, 5});
  Completions first;
  RunWorkers(rig.machine, {JobFor(*rig.engine, image)}, first);
  EXPECT_EQ(rig.engine->FlashResult, kFlashFailed);

  Completions second;  // the fault is used up: this download succeeds
  RunWorkers(rig.machine, {JobFor(*rig.engine, image)}, second);
  EXPECT_EQ(rig.engine->FlashResult, 0);
  EXPECT_EQ(second.senders.size(), 1u);
  EXPECT_EQ(first.senders.size(), 1u);
  EXPECT_EQ(rig.drive->programmed, image);
}

TEST(Parser, WorksOnItsOwnCopyOfTheJob) {
  FlashRig rig;
  const auto image = PatternImage(2 * kBlock, 13);
  FlashJob job = JobFor(*rig.engine, image);
  Completions done;
  new Parser(job, done.Callback());
  job.image = nullptr;  // the caller's job may change or go away once the worker exists
  job.size = 0;
  PumpUntilWorkersEnd(rig.machine);
  EXPECT_EQ(done.senders.size(), 1u);
  EXPECT_EQ(rig.engine->FlashResult, 0);
  EXPECT_EQ(rig.drive->programmed, image);
}

TEST(Parser, TwoDrivesAtOnceHaveIndependentResults) {
  sim::SimMachine machine;
  machine.ticksPerCounterRead = machine.counterFrequency / 10;
  auto good = machine.AddLetterDrive('E', 1);
  auto bad = machine.AddLetterDrive('F', 2);
  bad->readBackFaults.push_back({2, 3, 77});
  AtapiDevice list;
  AtapiDevice engineE(false), engineF(false);
  list.CopyInto(&engineE);
  list.CopyInto(&engineF);
  ASSERT_TRUE(engineE.SelectDevice(0));
  ASSERT_TRUE(engineF.SelectDevice(1));
  engineE.FlashResult = engineF.FlashResult = 9;

  const auto image = PatternImage(4 * kBlock, 14);
  Completions done;
  RunWorkers(machine, {JobFor(engineE, image), JobFor(engineF, image)}, done);

  EXPECT_EQ(engineE.FlashResult, 0);
  EXPECT_EQ(engineF.FlashResult, kFlashFailed);
  ASSERT_EQ(done.senders.size(), 2u);
  EXPECT_NE(done.senders[0], done.senders[1]);
  for (const auto& id : done.threads) EXPECT_EQ(id, CurrentThreadId());
  EXPECT_EQ(good->programmed, image);
  EXPECT_EQ(bad->programCount, 0);
}

TEST(Parser, AnyOtherExceptionEndsAsFailureAndStillCompletes) {
  FlashRig rig;
  rig.tap->onDebugString = [](const char*) { throw std::runtime_error("debugger output failed"); };
  rig.drive->readBackFaults.push_back({0, 1, 0});  // one mismatch: the download would recover
  const auto image = PatternImage(2 * kBlock, 15);
  Completions done;
  RunWorkers(rig.machine, {JobFor(*rig.engine, image)}, done);

  EXPECT_EQ(rig.engine->FlashResult, kFlashFailed);
  EXPECT_EQ(done.senders.size(), 1u);
  EXPECT_EQ(rig.drive->programCount, 0);
  // The drive's exclusive access is given back on the way out.
  ASSERT_EQ(rig.exclusive.size(), 2u);
  EXPECT_EQ(rig.exclusive[1].requestType, 2u);
  EXPECT_EQ(rig.machine.ExclusiveCaller('E'), "");
}

}  // namespace
}  // namespace quorel::test
