// Operating-system information and the restart request: the drive layer picks its transport by
// the family, the window asks for the restart.
#pragma once

#include <cstdint>

namespace quorel {

// Records once, at creation, whether the system is of the NT family.
class OSInfo {
 public:
  OSInfo();
  uint8_t isNtFamily = 0;
};

// Asks the system to restart (exitFlags | EWX_FORCE), enabling the shutdown privilege first on
// the NT family. True when the system accepted the request.
bool Restart(const OSInfo& osInfo, uint32_t exitFlags);

}  // namespace quorel
