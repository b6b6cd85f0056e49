// The allocation-failure rig of the app tests: it replaces the global allocation functions of
// the test program (alloc_rig.cpp, kept apart so that no caller sees them inlined).
#pragma once

namespace quorel::test {

// While set, array allocations of an engine buffer's size fail.
void FailEngineBuffers(bool on);
// Arms the calling thread: its n-th allocation from now on (n >= 1) fails with std::bad_alloc;
// 0 disarms. Other threads are not affected.
void FailAllocation(long n);
// Whether the armed failure has happened (or nothing was armed).
bool AllocationFailed();

// While it lives, the calling thread's allocations are not counted.
class SpareAllocations {
 public:
  SpareAllocations();
  ~SpareAllocations();
  SpareAllocations(const SpareAllocations&) = delete;
  SpareAllocations& operator=(const SpareAllocations&) = delete;

 private:
  long saved_;
};

}  // namespace quorel::test
