// One discovered drive in an engine's device list.
#pragma once

#include <cstdint>

namespace quorel {

// All text fields are zero-terminated and zero-filled; a slot that holds no drive is all zero.
struct DeviceEntry {
  uint8_t storageDescriptor[40];  // STORAGE_DEVICE_DESCRIPTOR as far as it fits (letters only)
  char identText[32];             // vendor (8) followed by product (16), blanks kept
  char vendor[9];                 // INQUIRY bytes 8-15
  char product[17];               // INQUIRY bytes 16-31
  char revision[5];               // INQUIRY bytes 32-35: the firmware revision
  char vendorSpecific[17];        // INQUIRY bytes 36-51
  char rootPath[4];               // e.g. "E:\"; empty for drives found through ASPI
  uint8_t flashId[4];             // first four bytes of the flash identity; zero when unread
  int16_t adapter;                // SCSI port (pass-through) or ASPI host adapter
  int16_t target;
  int16_t lun;
  int16_t path;  // bus; 0 on ASPI
  uint8_t present;
  uint8_t updatable;  // set by the compatibility rules
  uint8_t viaAspi;
  int16_t bankIndex;  // set by the compatibility rules when updatable
  int16_t upToDate;   // set by the compatibility rules when updatable
};

constexpr int kMaxDevices = 16;

}  // namespace quorel
