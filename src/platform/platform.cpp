#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>

namespace quorel {
namespace {
Platform* g_platform = nullptr;
UiDispatcher* g_dispatcher = nullptr;
}  // namespace

Platform& platform() {
  if (g_platform == nullptr) {
    std::fputs("quorel: no platform binding installed\n", stderr);
    std::abort();
  }
  return *g_platform;
}

void SetPlatform(Platform* binding) {
  g_platform = binding;
}

UiDispatcher& uiDispatcher() {
  if (g_dispatcher == nullptr) {
    std::fputs("quorel: no window-thread dispatcher installed\n", stderr);
    std::abort();
  }
  return *g_dispatcher;
}

void SetUiDispatcher(UiDispatcher* dispatcher) {
  g_dispatcher = dispatcher;
}

}  // namespace quorel
