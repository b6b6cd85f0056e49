// Exceptions on several threads at once with the runtime's locks as Windows 9x leaves them. The
// runtime asks for its lock semaphores with CreateSemaphoreW, a stub that fails on 9x; this
// program makes the call fail the same way (its import slot is replaced before the runtime's
// constructors run), then throws and catches on many seam threads at once. The seam throws once
// on the starting thread before the first worker exists, which does the runtime's one-time
// set-up (unwind tables, exception globals) while nothing can race on it.
//
// A plain program, not a GoogleTest one: the fake must be in place before anything throws.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/threads.h"

namespace {

std::atomic<int> g_semaphoreRequests{0};

HANDLE WINAPI FailLikeWindows9x(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR) {
  ++g_semaphoreRequests;
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}

// Points this program's import of KERNEL32!name at replacement; false when it is not imported.
bool ReplaceImport(const char* name, void* replacement) {
  auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  const auto* const dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  const auto* const nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       library->Name != 0; ++library) {
    if (lstrcmpiA(reinterpret_cast<char*>(base + library->Name), "kernel32.dll") != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
      DWORD old = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old)) return false;
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
      return true;
    }
  }
  return false;
}

[[gnu::noinline]] void Fail(int round) {
  throw std::runtime_error(round % 2 == 0 ? "even" : "odd");
}

// Before the runtime's own constructors, which create some of its locks.
bool g_replaced = false;
[[gnu::constructor(101)]] void ReplaceBeforeTheRuntime() {
  g_replaced = ReplaceImport("CreateSemaphoreW", reinterpret_cast<void*>(&FailLikeWindows9x));
}

}  // namespace

int main() {
  if (!g_replaced) {
    std::puts("FAIL: CreateSemaphoreW is not imported; the check has nothing to check");
    return 1;
  }
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  std::atomic<int> caught{0};
  std::atomic<int> ready{0};
  {
    std::vector<quorel::Thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
      // All throw their first exception together: the most contention on the runtime's locks.
      threads.emplace_back([&caught, &ready] {
        ++ready;
        while (ready.load() < kThreads) Sleep(0);
        for (int round = 0; round < kRounds; ++round) {
          try {
            Fail(round);
          } catch (const std::runtime_error&) {
            ++caught;
          }
        }
      });
    }
  }
  std::printf("%d of %d exceptions caught; the runtime asked for %d semaphores, all refused\n",
              caught.load(), kThreads * kRounds, g_semaphoreRequests.load());
  if (caught.load() != kThreads * kRounds || g_semaphoreRequests.load() == 0) {
    std::puts("FAIL");
    return 1;
  }
  std::puts("OK");
  return 0;
}
