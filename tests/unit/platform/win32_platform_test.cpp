// The Windows binding against the real API (run under Wine): only calls without side effects
// on the machine.
#ifdef _WIN32

#include "platform/win32/win32_platform.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

namespace quorel {
namespace {

TEST(Win32Platform, PerformanceCounterAdvances) {
  Win32Platform api;
  int64_t frequency = 0;
  ASSERT_TRUE(api.QueryPerformanceFrequency(&frequency));
  EXPECT_GT(frequency, 0);
  int64_t first = 0, second = 0;
  ASSERT_TRUE(api.QueryPerformanceCounter(&first));
  api.Sleep(20);
  ASSERT_TRUE(api.QueryPerformanceCounter(&second));
  // At least 10 ms must show after a 20 ms sleep.
  EXPECT_GE(second - first, frequency / 100);
}

TEST(Win32Platform, CollationOrdersRevisionsAndIsCaseSensitive) {
  Win32Platform api;
  struct Case {
    const char *a, *b;
    int expected;  // CompareStringA: 1 less, 2 equal, 3 greater
  };
  const Case cases[] = {
      {"0K03", "KM01", 1}, {"KM01", "KM0P", 1}, {"0K03", "KM0P", 1},
      {"KM0P", "KM01", 3}, {"KM01", "KM01", 2}, {"TARN-EX ", "TARN-EX ", 2},
  };
  for (const Case& tc : cases) {
    EXPECT_EQ(api.CompareStringA(tc.a, -1, tc.b, -1), tc.expected) << tc.a << " vs " << tc.b;
  }
  EXPECT_NE(api.CompareStringA("TARN-EX ", -1, "tarn-ex ", -1), 2);
  EXPECT_NE(api.CompareStringA("km01", -1, "KM01", -1), 2);
  // Explicit lengths compare only the given characters.
  EXPECT_EQ(api.CompareStringA("KM01xyz", 4, "KM01", 4), 2);
}

TEST(Win32Platform, VersionReportsAWindowsFamily) {
  Win32Platform api;
  OsVersion version;
  ASSERT_TRUE(api.GetVersionExA(&version));
  EXPECT_TRUE(version.platformId == win::kPlatformWin32Windows ||
              version.platformId == win::kPlatformWin32Nt)
      << version.platformId;
  EXPECT_GE(version.majorVersion, 4u);
}

TEST(Win32Platform, EventsAndWaits) {
  Win32Platform api;
  struct Case {
    bool manual, initial;
    uint32_t firstWait, secondWait;
  };
  const Case cases[] = {
      {true, false, win::kWaitTimeout, win::kWaitTimeout},
      {true, true, win::kWaitObject0, win::kWaitObject0},   // manual: stays signalled
      {false, true, win::kWaitObject0, win::kWaitTimeout},  // auto: the first wait resets it
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(testing::Message() << "manual " << tc.manual << " initial " << tc.initial);
    Handle event = api.CreateEventA(tc.manual, tc.initial);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(api.WaitForSingleObject(event, 0), tc.firstWait);
    EXPECT_EQ(api.WaitForSingleObject(event, 10), tc.secondWait);
    ASSERT_TRUE(::SetEvent(event));
    EXPECT_EQ(api.WaitForSingleObject(event, 0), win::kWaitObject0);
    EXPECT_TRUE(api.CloseHandle(event));
  }
}

TEST(Win32Platform, SystemDirectory) {
  Win32Platform api;
  char path[MAX_PATH] = {};
  ASSERT_TRUE(api.GetSystemDirectoryA(path, sizeof path));
  const size_t length = std::strlen(path);
  ASSERT_GT(length, 2u);
  EXPECT_EQ(path[1], ':');
  EXPECT_NE(path[length - 1], '\\');
  // A buffer too small for the path fails and leaves no partial path behind.
  char tiny[4] = "xyz";
  EXPECT_FALSE(api.GetSystemDirectoryA(tiny, sizeof tiny));
  EXPECT_EQ(tiny[0], '\0');
}

TEST(Win32Platform, LibraryEntryPointsAndHeap) {
  Win32Platform api;
  Module kernel = api.LoadLibraryA("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_NE(api.GetProcAddress(kernel, "GetTickCount"), nullptr);
  EXPECT_EQ(api.GetProcAddress(kernel, "NoSuchEntryPoint"), nullptr);
  EXPECT_TRUE(api.FreeLibrary(kernel));
  EXPECT_EQ(api.LoadLibraryA("no-such-library-here.dll"), nullptr);

  Handle heap = api.GetProcessHeap();
  auto* memory = static_cast<unsigned char*>(api.HeapAlloc(heap, win::kHeapZeroMemory, 65536));
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(memory[0] | memory[32767] | memory[65535], 0);
  EXPECT_TRUE(api.HeapFree(heap, memory));
}

TEST(Win32Platform, FilesOpenWithTheGivenAccessAndFailAsInvalidHandle) {
  Win32Platform api;
  const uint32_t readWrite = win::kGenericRead | win::kGenericWrite;
  const uint32_t shared = win::kFileShareRead | win::kFileShareWrite;
  EXPECT_EQ(
      api.CreateFileA("C:\\no-such-folder\\no-such-file", readWrite, shared, win::kOpenExisting, 0),
      kInvalidHandle);

  char path[MAX_PATH] = {};
  char folder[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathA(sizeof folder, folder), 0u);
  ASSERT_NE(::GetTempFileNameA(folder, "qrl", 0, path), 0u);  // creates the file
  Handle file = api.CreateFileA(path, readWrite, shared, win::kOpenExisting, 0);
  ASSERT_NE(file, kInvalidHandle);
  DWORD written = 0;
  EXPECT_TRUE(::WriteFile(file, "x", 1, &written, nullptr)) << "not opened for writing";
  // Shared for reading and writing: a second open of the same kind works.
  Handle second = api.CreateFileA(path, readWrite, shared, win::kOpenExisting, 0);
  EXPECT_NE(second, kInvalidHandle);
  if (second != kInvalidHandle) api.CloseHandle(second);

  // A file is no SCSI device: the request fails and reports no bytes.
  uint8_t address[8] = {};
  uint32_t returned = 99;
  EXPECT_FALSE(api.DeviceIoControl(file, win::kIoctlScsiGetAddress, address, sizeof address,
                                   address, sizeof address, &returned));
  EXPECT_EQ(returned, 0u);
  EXPECT_TRUE(api.CloseHandle(file));
  ::DeleteFileA(path);
}

TEST(Win32Platform, DriveRootsAndTheirTypes) {
  Win32Platform api;
  const uint32_t needed = api.GetLogicalDriveStringsA(0, nullptr);
  ASSERT_GT(needed, 0u);
  std::string list(needed, '\0');
  ASSERT_EQ(api.GetLogicalDriveStringsA(needed, list.data()), needed - 1);
  EXPECT_EQ(list.substr(1, 2), ":\\");
  EXPECT_EQ(api.GetDriveTypeA("C:\\"), static_cast<uint32_t>(DRIVE_FIXED));
}

// Whether the token of this process holds the privilege enabled.
bool PrivilegeEnabled(HANDLE token, const LUID& luid) {
  DWORD size = 0;
  ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (!::GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) return false;
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
    if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart) {
      return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  return false;
}

TEST(Win32Platform, ShutdownPrivilegeIsEnabledOnThisProcessOnly) {
  // Changes this test process's own token, nothing else; the privilege is disabled again.
  Win32Platform api;
  Handle token = nullptr;
  ASSERT_TRUE(api.OpenProcessToken(api.GetCurrentProcess(),
                                   win::kTokenAdjustPrivileges | win::kTokenQuery, &token));
  uint64_t luid = 0;
  ASSERT_TRUE(api.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid));
  LUID expected{};
  ASSERT_TRUE(::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &expected));
  EXPECT_EQ(luid, (uint64_t{static_cast<uint32_t>(expected.HighPart)} << 32) | expected.LowPart);
  uint64_t unknown = 0;
  EXPECT_FALSE(api.LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &unknown));

  EXPECT_TRUE(api.AdjustTokenPrivileges(token, luid, win::kSePrivilegeEnabled));
  const uint32_t error = api.GetLastError();
  if (error == win::kErrorNotAllAssigned) {
    api.CloseHandle(token);
    GTEST_SKIP() << "this account does not hold the shutdown privilege";
  }
  EXPECT_EQ(error, 0u);
  EXPECT_TRUE(PrivilegeEnabled(token, expected));
  EXPECT_TRUE(api.AdjustTokenPrivileges(token, luid, 0));
  EXPECT_FALSE(PrivilegeEnabled(token, expected));
  EXPECT_TRUE(api.CloseHandle(token));
}

TEST(Win32Platform, ProcessMessagesDrainsTheQueueAndKeepsTheQuitRequest) {
  Win32Platform api;
  MSG message;
  ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // gives the thread its queue
  const DWORD thread = ::GetCurrentThreadId();
  ASSERT_TRUE(::PostThreadMessageA(thread, WM_APP, 0, 0));
  api.ProcessMessages();
  EXPECT_FALSE(::PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_NOREMOVE));

  // A quit request met while processing is posted again, with its exit code.
  ::PostQuitMessage(7);
  api.ProcessMessages();
  ASSERT_TRUE(::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 7u);
}

}  // namespace
}  // namespace quorel

#endif  // _WIN32
