#include "app/win32/single_instance.h"

#include <cstring>

namespace quorel {

SingleInstance::SingleInstance(const char* name) {
  SetLastError(ERROR_SUCCESS);
  mutex_ = CreateMutexA(nullptr, FALSE, name);
  DWORD error = GetLastError();
  if (mutex_ == nullptr && error != ERROR_ACCESS_DENIED) {
    // Systems without session namespaces refuse the prefix: use the bare name there.
    const char* slash = std::strchr(name, '\\');
    if (slash != nullptr) {
      SetLastError(ERROR_SUCCESS);
      mutex_ = CreateMutexA(nullptr, FALSE, slash + 1);
      error = GetLastError();
    }
  }
  // Access denied: another user's copy created it.
  alreadyRunning_ = error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}

SingleInstance::~SingleInstance() {
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

}  // namespace quorel
