#include "platform/os_info.h"

#include "platform/platform.h"

namespace quorel {

OSInfo::OSInfo() {
  isNtFamily = 0;
  OsVersion version;
  platform().GetVersionExA(&version);  // its own result is not needed: the fields stay 0
  isNtFamily = version.platformId == win::kPlatformWin32Nt ? 1 : 0;
}

bool Restart(const OSInfo& osInfo, uint32_t exitFlags) {
  Platform& os = platform();
  uint32_t const flags = exitFlags | win::kEwxForce;
  if (osInfo.isNtFamily == 0) return os.ExitWindowsEx(flags, 0);

  Handle token = nullptr;
  if (!os.OpenProcessToken(os.GetCurrentProcess(), win::kTokenAdjustPrivileges | win::kTokenQuery,
                           &token))
    return false;
  uint64_t luid = 0;
  os.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid);
  os.AdjustTokenPrivileges(token, luid, win::kSePrivilegeEnabled);
  // The adjustment reports success even when the privilege was not granted; its last-error
  // value tells.
  uint32_t const error = os.GetLastError();
  os.CloseHandle(token);
  if (error != 0) return false;
  return os.ExitWindowsEx(flags, 0);
}

}  // namespace quorel
