#include "alloc_rig.h"

#include <cstddef>
#include <cstdlib>
#include <new>

#include "device/atapi_device.h"

namespace {
bool g_failEngineBuffers = false;
thread_local long t_allocationsLeft = 0;
}  // namespace

namespace quorel::test {
void FailEngineBuffers(bool on) {
  g_failEngineBuffers = on;
}
void FailAllocation(long n) {
  t_allocationsLeft = n;
}
bool AllocationFailed() {
  return t_allocationsLeft == 0;
}
SpareAllocations::SpareAllocations() : saved_(t_allocationsLeft) {
  t_allocationsLeft = 0;
}
SpareAllocations::~SpareAllocations() {
  t_allocationsLeft = saved_;
}
}  // namespace quorel::test

void* operator new(std::size_t bytes) {
  if (t_allocationsLeft > 0 && --t_allocationsLeft == 0) throw std::bad_alloc();
  if (void* memory = std::malloc(bytes == 0 ? 1 : bytes)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void* operator new[](std::size_t bytes) {
  if (g_failEngineBuffers && bytes == quorel::AtapiDevice::kBufferBytes) throw std::bad_alloc();
  return ::operator new(bytes);
}
void operator delete[](void* memory) noexcept {
  ::operator delete(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  ::operator delete(memory);
}
