// The simulated machine itself: what it refuses, and its use from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/threads.h"
#include "unit/device/device_rig.h"

namespace quorel::test {
namespace {

TEST(SimMachine, ManagerLoadsOnlyByItsFullSystemPath) {
  sim::SimMachine machine;
  machine.aspi.present = true;
  struct Case {
    const char* name;
    bool loads;
  } const cases[] = {
      {"WNASPI32", false},
      {"WNASPI32.DLL", false},
      {".\\WNASPI32.DLL", false},
      {"C:\\WINDOWS\\SYSTEM32\\WNASPI32.DLL", true},
      {"c:\\windows\\system32\\wnaspi32.dll", true},
  };
  for (const Case& c : cases) {
    Module const module = machine.LoadLibraryA(c.name);
    EXPECT_EQ(module != nullptr, c.loads) << c.name;
    if (module != nullptr) machine.FreeLibrary(module);
  }
  EXPECT_EQ(machine.loadedModules(), 0);
}

// IOCTL_CDROM_EXCLUSIVE_ACCESS is answered only in its documented layout, with the documented
// errors; other CD-ROM control codes are unknown, as to a driver that lacks them.
TEST(SimMachine, ExclusiveAccessAnswersAsTheClassDriver) {
  sim::SimMachine machine;
  machine.AddLetterDrive('E', 1);
  machine.letters[0].fileSystemMounted = true;
  const auto open = [&] {
    return machine.CreateFileA("\\\\.\\E:", win::kGenericRead | win::kGenericWrite, 3,
                               win::kOpenExisting, 0);
  };
  const Handle a = open(), b = open();
  struct Request {
    const char* name;
    Handle by;
    uint32_t code, type, flags;
    const char* caller;  // null: the 8-byte request
    bool ok;
    uint32_t error;
  } const requests[] = {
      {"old code", a, 0x0002403C, 1, 1, "Quorel", false, 1},
      {"unlock, not locked", a, win::kIoctlCdromExclusiveAccess, 2, 0, nullptr, false, 1},
      {"lock, short request", a, win::kIoctlCdromExclusiveAccess, 1, 1, nullptr, false, 24},
      {"lock, bad name", a, win::kIoctlCdromExclusiveAccess, 1, 1, "Quorel/1", false, 87},
      {"unknown type", a, win::kIoctlCdromExclusiveAccess, 3, 0, "Quorel", false, 87},
      {"lock, volume mounted", a, win::kIoctlCdromExclusiveAccess, 1, 0, "Quorel", false, 22},
      {"lock", a, win::kIoctlCdromExclusiveAccess, 1, 1, "Quorel", true, 0},
      {"lock again", b, win::kIoctlCdromExclusiveAccess, 1, 1, "Other", false, 5},
      {"unlock by another handle", b, win::kIoctlCdromExclusiveAccess, 2, 0, nullptr, false, 6},
      {"unlock", a, win::kIoctlCdromExclusiveAccess, 2, 0, nullptr, true, 0},
  };
  for (const Request& r : requests) {
    uint8_t in[72] = {};
    std::memcpy(in, &r.type, 4);
    std::memcpy(in + 4, &r.flags, 4);
    if (r.caller != nullptr) std::memcpy(in + 8, r.caller, std::strlen(r.caller));
    uint32_t returned = 0;
    EXPECT_EQ(machine.DeviceIoControl(r.by, r.code, in, r.caller ? 72 : 8, nullptr, 0, &returned),
              r.ok)
        << r.name;
    if (!r.ok) {
      EXPECT_EQ(machine.GetLastError(), r.error) << r.name;
    }
  }
  // The query reports the holder; closing the holder's handle unlocks.
  uint8_t lock[72] = {1, 0, 0, 0, 1, 0, 0, 0, 'Q', 'u', 'o', 'r', 'e', 'l'};
  uint32_t returned = 0;
  ASSERT_TRUE(
      machine.DeviceIoControl(b, win::kIoctlCdromExclusiveAccess, lock, 72, nullptr, 0, &returned));
  uint8_t query[8] = {}, state[65] = {};
  ASSERT_TRUE(
      machine.DeviceIoControl(a, win::kIoctlCdromExclusiveAccess, query, 8, state, 65, &returned));
  EXPECT_EQ(returned, 65u);
  EXPECT_EQ(state[0], 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(state + 1), "Quorel");
  EXPECT_FALSE(
      machine.DeviceIoControl(a, win::kIoctlCdromExclusiveAccess, query, 8, state, 64, &returned));
  EXPECT_EQ(machine.GetLastError(), 122u);
  machine.CloseHandle(b);
  EXPECT_EQ(machine.ExclusiveCaller('E'), "");
  machine.CloseHandle(a);
}

// Engines on worker threads share the machine, as the update's workers do.
TEST(SimMachine, EnginesOnSeveralThreadsAtOnce) {
  for (bool const aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "ASPI" : "pass-through");
    sim::SimMachine machine;
    constexpr int kDrives = 4;
    std::vector<std::shared_ptr<sim::SimDrive>> drives;
    for (int i = 0; i < kDrives; ++i) {
      auto d = aspi ? machine.AddAspiDrive(0, uint8_t(i))
                    : machine.AddLetterDrive(char('D' + i), 1, uint8_t(i));
      d->discPresent = true;
      d->latencySeconds = 0.001;
      drives.push_back(d);
    }
    g_transportRequest = aspi ? kTransportRequestAspi : 0;
    AtapiDevice list;
    ASSERT_EQ(list.DeviceCount(), kDrives);
    std::vector<std::unique_ptr<AtapiDevice>> jobs;
    for (int i = 0; i < kDrives; ++i) {
      jobs.push_back(std::make_unique<AtapiDevice>(false));
      list.CopyInto(jobs.back().get());
      ASSERT_TRUE(jobs.back()->SelectDevice(int16_t(i)));
      drives[size_t(i)]->ResetRecord();
    }

    constexpr int kRounds = 50;
    std::atomic<int> good{0};
    std::vector<Thread> workers;
    workers.reserve(kDrives);
    for (int i = 0; i < kDrives; ++i) {
      workers.emplace_back([&, i] {
        AtapiDevice& engine = *jobs[size_t(i)];
        for (int round = 0; round < kRounds; ++round) {
          std::memset(engine.OutBuffer(), i * 16 + round, 512);
          bool ok = engine.WriteBuffer(uint32_t(round) * 512, 512, 0) &&
                    engine.ReadBuffer(uint32_t(round) * 512, 512) &&
                    std::memcmp(engine.InBuffer(), engine.OutBuffer(), 512) == 0;
          uiDispatcher().RunOnUiThread([&] { good += ok ? 1 : 0; });
        }
      });
    }
    EXPECT_TRUE(machine.dispatcher().PumpUntil([&] { return good + 0 == kDrives * kRounds; }));
    for (auto& worker : workers) worker.Join();
    EXPECT_EQ(good.load(), kDrives * kRounds);
    for (const auto& d : drives) EXPECT_EQ(d->log.size(), size_t(2 * kRounds));
    jobs.clear();
    g_transportRequest = 0;
  }
}

// A worker woken after its work ran may still be inside the dispatcher when a test destroys it
// at once; and work nobody pumps is dropped, its worker returning without it.
TEST(HostDispatcher, DestructionWaitsForTheWorkersInside) {
  for (int round = 0; round < 200; ++round) {
    auto dispatcher = std::make_unique<HostDispatcher>();
    HostDispatcher* const d = dispatcher.get();
    std::atomic<bool> ran{false};
    Thread worker([d, &ran] { d->RunOnUiThread([&ran] { ran = true; }); });
    ASSERT_TRUE(d->PumpUntil([&] { return ran.load(); }));
    dispatcher.reset();
    worker.Join();
  }

  auto dispatcher = std::make_unique<HostDispatcher>();
  HostDispatcher* const d = dispatcher.get();
  std::atomic<bool> ran{false}, returned{false};
  Thread worker([d, &ran, &returned] {
    d->RunOnUiThread([&ran] { ran = true; });
    returned = true;
  });
  while (d->Waiting() == 0) std::this_thread::yield();
  dispatcher.reset();
  worker.Join();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace quorel::test
