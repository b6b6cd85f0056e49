// What the engine's transport and discovery files share: the in- and out-buffer a command uses,
// its status, and opening a drive by its letter.
#pragma once

#include <cstring>

#include "device/atapi_device.h"

namespace quorel::detail {

constexpr uint8_t kSenseInfoLength = 24;

inline uint8_t* DataBufferFor(DataDirection direction, uint32_t lengthBytes, uint8_t* in,
                              uint8_t* out) {
  if (lengthBytes == 0 || direction == DataDirection::None) return nullptr;
  return direction == DataDirection::Out ? out : in;
}

// A data-in command whose length is an allocation length may bring less than it asked for.
inline bool ShortAnswerAllowed(DataDirection direction, Transfer transfer) {
  return direction == DataDirection::In && transfer == Transfer::UpTo;
}

// The status byte with its reserved bit 0 masked, as SCSI hosts read it.
inline uint8_t MaskedStatus(uint8_t status) {
  return status & 0xFE;
}

inline bool IsOpen(Handle handle) {
  return handle != kInvalidHandle && handle != nullptr;
}

// Opens \\.\X: for the root path X:\ with read and write access, shared.
inline Handle OpenDrive(const char* rootPath) {
  constexpr char kDevicePrefix[] = "\\\\.\\";
  char path[sizeof kDevicePrefix + 2] = {};
  std::memcpy(path, kDevicePrefix, sizeof kDevicePrefix - 1);
  if (rootPath[0] != '\0') {
    path[4] = rootPath[0];
    path[5] = rootPath[1];
  }
  return platform().CreateFileA(path, win::kGenericRead | win::kGenericWrite,
                                win::kFileShareRead | win::kFileShareWrite, win::kOpenExisting, 0);
}

}  // namespace quorel::detail
