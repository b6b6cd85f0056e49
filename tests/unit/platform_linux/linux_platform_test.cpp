// The Linux binding without a drive: drive letters over an explicit device list and over a
// sysfs-like directory, handles on ordinary files, events, and the restart through the core.
#include "platform/linux/linux_platform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "device/scsi_structs.h"
#include "platform/linux/device_control.h"
#include "platform/os_info.h"

namespace quorel {
namespace {

TEST(LinuxPlatform, DriveLettersFollowTheDeviceList) {
  LinuxPlatform api({"/dev/sr0", "/dev/sr1", "/dev/sr7"});
  char const expected[] = "D:\\\0E:\\\0F:\\\0";  // and the final zero
  EXPECT_EQ(api.GetLogicalDriveStringsA(0, nullptr), sizeof expected);
  char list[sizeof expected + 4];
  std::memset(list, 'x', sizeof list);
  EXPECT_EQ(api.GetLogicalDriveStringsA(sizeof expected - 1, list), sizeof expected);
  EXPECT_EQ(list[0], 'x');  // too small: nothing written
  EXPECT_EQ(api.GetLogicalDriveStringsA(sizeof list, list), sizeof expected - 1);
  EXPECT_EQ(std::string(list, sizeof expected), std::string(expected, sizeof expected));

  struct Case {
    const char* root;
    uint32_t type;
  } const types[] = {{"D:\\", 5}, {"f:\\", 5},  {"F:", 5}, {"G:\\", 1},
                     {"C:\\", 1}, {"D:\\x", 1}, {"", 1},   {nullptr, 1}};
  for (const Case& c : types) EXPECT_EQ(api.GetDriveTypeA(c.root), c.type) << c.root;

  EXPECT_EQ(api.DevicePathOf('D'), "/dev/sr0");
  EXPECT_EQ(api.DevicePathOf('f'), "/dev/sr7");
  EXPECT_EQ(api.DevicePathOf('G'), "");
  EXPECT_EQ(api.DevicePathOf('A'), "");
  EXPECT_EQ(api.LetterOf("/dev/sr1"), 'E');
  EXPECT_EQ(api.LetterOf("/dev/sr2"), '\0');

  EXPECT_THROW(LinuxPlatform(std::vector<std::string>(24, "/dev/sr0")), std::invalid_argument);
  EXPECT_THROW(LinuxPlatform({"/dev/sr0", ""}), std::invalid_argument);
  LinuxPlatform none(std::vector<std::string>{});
  char empty[1] = {'x'};
  EXPECT_EQ(none.GetLogicalDriveStringsA(sizeof empty, empty), 0u);
  EXPECT_EQ(empty[0], '\0');
}

TEST(LinuxPlatform, SysfsOpticalDrivesInNumericOrder) {
  auto const dir =
      std::filesystem::temp_directory_path() / ("quorel-class-block-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  for (const char* name : {"sr10", "sda", "sr2", "sr", "sr1a", "loop0", "sr0"})
    std::filesystem::create_directory(dir / name);
  EXPECT_EQ(sgio::OpticalDevicePaths(dir.string()),
            (std::vector<std::string>{"/dev/sr0", "/dev/sr2", "/dev/sr10"}));
  std::filesystem::remove_all(dir);
  EXPECT_TRUE(sgio::OpticalDevicePaths(dir.string()).empty());
}

TEST(LinuxPlatform, HandlesOpenCloseAndReportErrors) {
  auto const file =
      std::filesystem::temp_directory_path() / ("quorel-not-a-drive-" + std::to_string(::getpid()));
  std::ofstream(file) << "x";
  LinuxPlatform api({file.string(), "/nonexistent/sr9"});
  constexpr uint32_t kReadWrite = win::kGenericRead | win::kGenericWrite;

  EXPECT_EQ(api.CreateFileA("\\\\.\\E:", kReadWrite, 3, 3, 0), kInvalidHandle);
  EXPECT_EQ(api.GetLastError(), sgio::kErrorFileNotFound);
  for (const char* path : {"\\\\.\\F:", "\\\\.\\D", "D:", "\\\\.\\D:\\"}) {
    EXPECT_EQ(api.CreateFileA(path, kReadWrite, 3, 3, 0), kInvalidHandle) << path;
  }

  Handle const drive = api.CreateFileA("\\\\.\\d:", kReadWrite, 3, 3, 0);
  ASSERT_NE(drive, kInvalidHandle);
  // An ordinary file knows no SG_IO: the kernel's refusal comes back as the last error.
  PassThroughRequest request{};
  request.sptd.Length = sizeof request.sptd;
  request.sptd.CdbLength = 12;
  uint32_t returned = 1;
  EXPECT_FALSE(api.DeviceIoControl(drive, win::kIoctlScsiPassThroughDirect, &request,
                                   sizeof request, &request, sizeof request, &returned));
  EXPECT_EQ(api.GetLastError(), sgio::kErrorInvalidFunction);
  EXPECT_EQ(returned, 0u);
  EXPECT_TRUE(api.CloseHandle(drive));
  EXPECT_FALSE(api.CloseHandle(drive));
  EXPECT_FALSE(
      api.DeviceIoControl(drive, win::kIoctlScsiGetAddress, nullptr, 0, &request, 8, &returned));
  EXPECT_EQ(api.GetLastError(), sgio::kErrorInvalidHandle);
  std::filesystem::remove(file);
}

TEST(LinuxPlatform, EventsWaitAndReset) {
  LinuxPlatform api(std::vector<std::string>{});
  struct Case {
    bool manualReset, initialState;
    uint32_t first, second;
  } const cases[] = {
      {false, true, win::kWaitObject0, win::kWaitTimeout},
      {true, true, win::kWaitObject0, win::kWaitObject0},
      {true, false, win::kWaitTimeout, win::kWaitTimeout},
  };
  for (const Case& c : cases) {
    Handle const event = api.CreateEventA(c.manualReset, c.initialState);
    EXPECT_EQ(api.WaitForSingleObject(event, 5), c.first);
    EXPECT_EQ(api.WaitForSingleObject(event, 5), c.second);
    EXPECT_TRUE(api.CloseHandle(event));
    EXPECT_EQ(api.WaitForSingleObject(event, 5), 0xFFFFFFFFu);
  }
}

TEST(LinuxPlatform, RestartOnlyThroughTheHook) {
  LinuxPlatform api(std::vector<std::string>{});
  SetPlatform(&api);
  OSInfo const os;
  EXPECT_EQ(os.isNtFamily, 1);
  EXPECT_EQ(api.LoadLibraryA("C:\\WINDOWS\\SYSTEM32\\WNASPI32.DLL"), nullptr);
  EXPECT_FALSE(Restart(os, win::kEwxReboot));  // no hook: refused
  int restarts = 0;
  api.SetRestartHook([&] { return ++restarts == 1; });
  // A failure left in the last error before must not read as a privilege not granted.
  api.CreateFileA("\\\\.\\Q:", 0, 0, 0, 0);
  EXPECT_TRUE(Restart(os, win::kEwxReboot));
  EXPECT_EQ(restarts, 1);
  SetPlatform(nullptr);
}

}  // namespace
}  // namespace quorel
