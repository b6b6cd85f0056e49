// Allocation failures in the window's logic: the list engine that cannot be built, and a failed
// allocation at each step of start-up, of an update's preparation and of its completion.
#include <new>

#include "alloc_rig.h"
#include "app_fixture.h"

namespace quorel::test {
namespace {

TEST_F(AppTest, ListEngineThatCannotBeCreatedGivesThePlainErrorBox) {
  auto drive = AddDrive('E', 1, "KM01");
  FailEngineBuffers(true);
  Start();
  FailEngineBuffers(false);

  ASSERT_EQ(machine.messageBoxes.size(), 1u);
  EXPECT_EQ(machine.messageBoxes[0].text, text::kDeviceInitFailed);
  EXPECT_EQ(machine.messageBoxes[0].caption, text::kDeviceInitFailedCaption);
  EXPECT_EQ(machine.messageBoxes[0].type, 0x10u);  // OK, stop icon
  EXPECT_TRUE(view.dialogs.empty());
  EXPECT_EQ(view.terminateCount, 1);
  EXPECT_FALSE(view.closeRemoved);
  EXPECT_EQ(window->ListEngine(), nullptr);
  EXPECT_TRUE(drive->log.empty());
}

// Test access to the fixture's static helper.
struct AppTestAccess : AppTest {
  using AppTest::WaitForWorkerThreads;
};

// The platform as Windows gives it: its calls never throw. So the rig spares the allocations
// the simulated machine makes to record them.
class NoThrowPlatform : public Platform {
 public:
  explicit NoThrowPlatform(Platform& inner) : inner_(inner) { SetPlatform(this); }
  ~NoThrowPlatform() override { SetPlatform(&inner_); }
  NoThrowPlatform(const NoThrowPlatform&) = delete;
  NoThrowPlatform& operator=(const NoThrowPlatform&) = delete;

#define QUOREL_SPARED(Ret, Name, Params, Args) \
  Ret Name Params override {                   \
    const SpareAllocations spare;              \
    return inner_.Name Args;                   \
  }
  QUOREL_SPARED(Module, LoadLibraryA, (const char* n), (n))
  QUOREL_SPARED(void*, GetProcAddress, (Module m, const char* n), (m, n))
  QUOREL_SPARED(bool, FreeLibrary, (Module m), (m))
  QUOREL_SPARED(bool, GetSystemDirectoryA, (char* b, uint32_t n), (b, n))
  QUOREL_SPARED(Handle, CreateFileA,
                (const char* p, uint32_t a, uint32_t s, uint32_t d, uint32_t f), (p, a, s, d, f))
  QUOREL_SPARED(bool, DeviceIoControl,
                (Handle h, uint32_t c, void* i, uint32_t ni, void* o, uint32_t no, uint32_t* r),
                (h, c, i, ni, o, no, r))
  QUOREL_SPARED(bool, CloseHandle, (Handle h), (h))
  QUOREL_SPARED(uint32_t, GetLogicalDriveStringsA, (uint32_t n, char* b), (n, b))
  QUOREL_SPARED(uint32_t, GetDriveTypeA, (const char* r), (r))
  QUOREL_SPARED(Handle, GetProcessHeap, (), ())
  QUOREL_SPARED(void*, HeapAlloc, (Handle h, uint32_t f, uint32_t n), (h, f, n))
  QUOREL_SPARED(bool, HeapFree, (Handle h, void* m), (h, m))
  QUOREL_SPARED(Handle, CreateEventA, (bool m, bool s), (m, s))
  QUOREL_SPARED(uint32_t, WaitForSingleObject, (Handle h, uint32_t ms), (h, ms))
  QUOREL_SPARED(void, Sleep, (uint32_t ms), (ms))
  QUOREL_SPARED(bool, QueryPerformanceFrequency, (int64_t * f), (f))
  QUOREL_SPARED(bool, QueryPerformanceCounter, (int64_t * t), (t))
  QUOREL_SPARED(int, MessageBoxA, (const char* t, const char* c, uint32_t k), (t, c, k))
  QUOREL_SPARED(void, ProcessMessages, (), ())
  QUOREL_SPARED(void, OutputDebugStringA, (const char* t), (t))
  QUOREL_SPARED(int, CompareStringA, (const char* a, int na, const char* b, int nb), (a, na, b, nb))
  QUOREL_SPARED(bool, GetVersionExA, (OsVersion * v), (v))
  QUOREL_SPARED(Handle, GetCurrentProcess, (), ())
  QUOREL_SPARED(bool, OpenProcessToken, (Handle p, uint32_t a, Handle* t), (p, a, t))
  QUOREL_SPARED(bool, LookupPrivilegeValueA, (const char* s, const char* n, uint64_t* l), (s, n, l))
  QUOREL_SPARED(bool, AdjustTokenPrivileges, (Handle t, uint64_t l, uint32_t a), (t, l, a))
  QUOREL_SPARED(uint32_t, GetLastError, (), ())
  QUOREL_SPARED(bool, ExitWindowsEx, (uint32_t f, uint32_t r), (f, r))
#undef QUOREL_SPARED

 private:
  Platform& inner_;
};

// Automatic mode, two drives, the disc check on: the second drive holds a disc, so its check
// shows a message while the first drive's worker may already be writing.
struct TwoDriveUpdate {
  TwoDriveUpdate() {
    machine.ticksPerCounterRead = 10'000;
    first = machine.AddLetterDrive('E', 1);
    second = machine.AddLetterDrive('F', 2);
    second->discPresent = true;
    package.Set(layout::kAUTOMODE, 1);
    package.Set(layout::kCHKDISC, 1);
    view.onDialog = [this](const ShownDialog& d) {
      if (d.text == text::kRemoveDisc) second->discPresent = false;
    };
  }

  // Pumps completions, as the window thread would, until the update has ended; an exception
  // from a completion is the window's to report and does not stop the pumping.
  bool Finish() {
    for (int i = 0; i < 100; ++i) {
      try {
        return machine.dispatcher().PumpUntil([&] { return !window->UpdateRunning(); }, 10);
      } catch (const std::bad_alloc&) {
        ++completionErrors;
      }
    }
    return false;
  }

  // What must hold however the update ended.
  void Check(bool started) {
    if (window) {
      EXPECT_FALSE(window->UpdateRunning());
      // The window is told that no update runs any more (Windows may sleep and shut down).
      const auto& calls = view.updateRunningCalls;
      if (!calls.empty()) {
        EXPECT_FALSE(calls.back());
      }
      for (const ShownDialog& d : view.dialogs) {
        if (d.text != text::kFlashSucceeded) continue;
        // Success only when every drive of the update was programmed.
        EXPECT_EQ(first->programCount + second->programCount, window->JobCount());
      }
      // Every engine was deleted. (A list engine whose scan failed is not the update's.)
      const bool scanned = window->ListEngine() != nullptr;
      window.reset();
      if (scanned) {
        EXPECT_EQ(machine.openHandles(), 0);
      }
    } else {
      // Start-up ended by the exception, which ends the program: that is sound only while no
      // worker is writing.
      EXPECT_FALSE(started) << "start-up ended while a worker was writing";
    }
    AppTestAccess::WaitForWorkerThreads();
    EXPECT_EQ(Parser::Running(), 0);
  }

  sim::SimMachine machine;
  NoThrowPlatform platform{machine};
  FakeView view;
  TestPackage package;
  std::shared_ptr<sim::SimDrive> first, second;
  std::unique_ptr<TQuorelMain> window;
  int completionErrors = 0;
};

TEST(AllocationFailure, AtEachStepOfStartUpAndPreparation) {
  for (long n = 1;; ++n) {
    SCOPED_TRACE(n);
    TwoDriveUpdate update;
    FailAllocation(n);
    try {
      update.window = std::make_unique<TQuorelMain>(update.view, update.package.View());
    } catch (const std::bad_alloc&) {
    }
    const bool failed = AllocationFailed();
    FailAllocation(0);
    // A worker still running, or one that has written (read only once none runs).
    const bool started =
        Parser::Running() > 0 || update.first->programCount + update.second->programCount > 0;
    if (update.window) {
      ASSERT_TRUE(update.Finish());
      // An error that left the update is kept for the program entry, which ends the program.
      if (std::exception_ptr error = update.window->TakeStartupError()) {
        EXPECT_GE(update.view.terminateCount, 1);
        EXPECT_FALSE(update.window->TakeStartupError());
      }
    }
    update.Check(started);
    if (!failed || HasFailure()) break;  // got through without the failure: all covered
  }
}

TEST(AllocationFailure, AtEachStepOfCompletion) {
  for (long n = 1;; ++n) {
    SCOPED_TRACE(n);
    TwoDriveUpdate update;
    update.window = std::make_unique<TQuorelMain>(update.view, update.package.View());
    ASSERT_TRUE(update.window->UpdateRunning());
    FailAllocation(n);
    ASSERT_TRUE(update.Finish());
    const bool failed = AllocationFailed();
    FailAllocation(0);
    update.Check(true);
    if (!failed || HasFailure()) break;  // got through without the failure: all covered
  }
}

}  // namespace
}  // namespace quorel::test
