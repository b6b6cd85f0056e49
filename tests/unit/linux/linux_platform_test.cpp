// The Linux binding without a drive: drive letters over an explicit device list (an ordinary
// file standing at D:) and over a sysfs-like directory, and the restart through the core.
#include "platform/linux/linux_platform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/device_control.h"
#include "platform/os_info.h"

namespace quorel {
namespace {

using Paths = std::vector<std::string>;

std::filesystem::path TempPath(const char* name) {
  return std::filesystem::temp_directory_path() / (name + std::to_string(::getpid()));
}

TEST(LinuxPlatform, DriveLettersFollowTheDeviceList) {
  auto const file = TempPath("quorel-not-a-drive-");
  std::ofstream(file) << "x";
  LinuxPlatform api({file.string(), "/nonexistent/sr1", "/dev/sr7"});
  char const expected[] = "D:\\\0E:\\\0F:\\\0";  // and the final zero
  char list[sizeof expected + 4];
  EXPECT_EQ(api.GetLogicalDriveStringsA(0, nullptr), sizeof expected);
  EXPECT_EQ(api.GetLogicalDriveStringsA(sizeof expected - 1, list), sizeof expected);
  EXPECT_EQ(api.GetLogicalDriveStringsA(sizeof list, list), sizeof expected - 1);
  EXPECT_EQ(std::string(list, sizeof expected), std::string(expected, sizeof expected));
  for (const char* root : {"D:\\", "f:\\", "F:"}) EXPECT_EQ(api.GetDriveTypeA(root), 5u) << root;
  for (const char* root : {"G:\\", "C:\\", "D:\\x", ""}) EXPECT_EQ(api.GetDriveTypeA(root), 1u);
  EXPECT_EQ(api.DevicePathOf('f'), "/dev/sr7");
  EXPECT_EQ(api.LetterOf("/nonexistent/sr1"), 'E');
  EXPECT_EQ(api.LetterOf("/dev/sr2"), '\0');

  for (const char* path : {"\\\\.\\E:", "\\\\.\\G:", "\\\\.\\D", "D:", "\\\\.\\D:\\"}) {
    EXPECT_EQ(api.CreateFileA(path, win::kGenericRead, 3, 3, 0), kInvalidHandle) << path;
    EXPECT_EQ(api.GetLastError(), sgio::kErrorFileNotFound);
  }
  Handle const drive = api.CreateFileA("\\\\.\\d:", win::kGenericRead, 3, 3, 0);
  EXPECT_TRUE(api.CloseHandle(drive));
  EXPECT_FALSE(api.CloseHandle(drive));
  std::filesystem::remove(file);
}

TEST(LinuxPlatform, SysfsOpticalDrivesInNumericOrder) {
  auto const dir = TempPath("quorel-class-block-");
  for (const char* name : {"sr10", "sda", "sr2", "sr", "sr1a", "loop0", "sr0"})
    std::filesystem::create_directories(dir / name);
  EXPECT_EQ(sgio::OpticalDevicePaths(dir.string()), (Paths{"/dev/sr0", "/dev/sr2", "/dev/sr10"}));
  std::filesystem::remove_all(dir);
}

TEST(LinuxPlatform, RestartOnlyThroughTheHook) {
  LinuxPlatform api(Paths{});
  SetPlatform(&api);
  OSInfo const os;
  EXPECT_EQ(os.isNtFamily, 1);  // so the core takes the pass-through
  EXPECT_FALSE(Restart(os, win::kEwxReboot));
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
