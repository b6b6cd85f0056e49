// AtapiDevice as a whole: construction and destruction, discovery of the optical drives through
// the ASPI manager (the drive letters' side is in drive_letters.cpp), the device list and
// addressing one drive.
#include <algorithm>
#include <cstring>
#include <memory>

#include "device/atapi_device.h"
#include "device/engine_internal.h"

namespace quorel {

using detail::IsOpen;
using detail::OpenDrive;

int g_transportRequest = 0;

namespace {

constexpr int kIdentityAttempts = 10;
constexpr uint8_t kInquiryBytes = 0x60;
constexpr uint32_t kInquiryIdentityBytes = 36;
constexpr int kAspiTargets = 16;
constexpr int kAspiLuns = 8;

int32_t AddressKey(const DeviceEntry& entry) {
  return entry.adapter * 4096 + entry.path * 256 + entry.target * 16 + entry.lun;
}

bool ValidIndex(int index) {
  return index >= 0 && index < kMaxDevices;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and destruction

AtapiDevice::AtapiDevice(bool scan) {
  // The timers and osInfo are constructed; the fields start as the class declares them: no
  // drive addressed (index 127, address -1, handle invalid), time-out 108,000 s, no retry.
  AllocateBuffers();
  last = LastCommandRecord{};
  FlashResult = 0;
  // No destructor runs for an object whose construction threw: release here what the scan held.
  try {
    ChooseTransport();
    if (scan) ScanDrives();
  } catch (...) {
    Release();
    throw;
  }
}

void AtapiDevice::AllocateBuffers() {
  std::unique_ptr<uint8_t[]> in(new uint8_t[kBufferBytes]());
  std::unique_ptr<uint8_t[]> out(new uint8_t[kBufferBytes]());
  inBuffer = in.release();
  outBuffer = out.release();
}

AtapiDevice::~AtapiDevice() {
  Release();
}

void AtapiDevice::Release() {
  delete[] inBuffer;
  delete[] outBuffer;
  inBuffer = nullptr;
  outBuffer = nullptr;
  UnloadAspi();
  CloseDevice();
}

// ---------------------------------------------------------------------------------------------
// Discovery

void AtapiDevice::ScanDrives() {
  // A drive addressed before the scan would keep its handle and address under an index that
  // may now hold another drive.
  CloseDevice();
  for (;;) {
    std::memset(deviceList, 0, sizeof deviceList);
    deviceCount = 0;
    if (useAspi) {
      ScanAspi();
    } else {
      ScanDriveLetters();
    }
    for (DeviceEntry& entry : deviceList) {
      if (entry.present == 0) continue;
      ++deviceCount;
      entry.viaAspi = useAspi ? 1 : 0;
    }
    // The manager misses drives the system knows: go through the drive letters instead. A full
    // list misses nothing that the letters could add.
    if (useAspi && osInfo.isNtFamily != 0 &&
        std::min<int>(CountOpticalLetters(), kMaxDevices) > deviceCount) {
      useAspi = false;
      UnloadAspi();
      continue;
    }
    break;
  }
  SortDevices();

  for (int16_t slot = 0; slot < kMaxDevices && deviceList[slot].present != 0; ++slot) {
    SelectDevice(slot);
    // A drive whose unit attention never clears is treated as not answering: it stays listed
    // with empty identity texts and a zero flash identity.
    if (ClearUnitAttention()) {
      for (int attempt = 0; attempt < kIdentityAttempts; ++attempt) {
        if (ReadInquiry()) {
          FillIdentity(deviceList[slot]);
          break;
        }
      }
      if (ReadFlashId())
        std::memcpy(deviceList[slot].flashId, inBuffer, sizeof(DeviceEntry::flashId));
    }
    CloseDevice();
  }
}

void AtapiDevice::ScanAspi() {
  // In ASPI mode without a manager there is nothing to ask.
  if (sendAspiCommand == nullptr) return;

  SRB_HAInquiry inquiry{};
  inquiry.SRB_Cmd = SC_HA_INQUIRY;
  inquiry.SRB_HaId = 0;
  sendAspiCommand(&inquiry);
  if (inquiry.SRB_Status != SS_COMP) return;
  int const adapters = inquiry.HA_Count;

  for (int adapter = 0; adapter < adapters; ++adapter) {
    SRB_RescanPort rescan{};
    rescan.SRB_Cmd = SC_RESCAN_SCSI_BUS;
    rescan.SRB_HaId = static_cast<uint8_t>(adapter);
    sendAspiCommand(&rescan);
  }

  int slot = 0;
  for (int adapter = 0; adapter < adapters; ++adapter) {
    SRB_HAInquiry adapterInquiry{};
    adapterInquiry.SRB_Cmd = SC_HA_INQUIRY;
    adapterInquiry.SRB_HaId = static_cast<uint8_t>(adapter);
    sendAspiCommand(&adapterInquiry);
    if (adapterInquiry.SRB_Status != SS_COMP) return;
    for (int target = 0; target < kAspiTargets; ++target) {
      for (int lun = 0; lun < kAspiLuns; ++lun) {
        SRB_GDEVBlock device{};
        device.SRB_Cmd = SC_GET_DEV_TYPE;
        device.SRB_HaId = static_cast<uint8_t>(adapter);
        device.SRB_Target = static_cast<uint8_t>(target);
        device.SRB_Lun = static_cast<uint8_t>(lun);
        sendAspiCommand(&device);
        if (device.SRB_Status != SS_COMP || device.SRB_DeviceType != DTYPE_CDROM) continue;
        DeviceEntry& entry = deviceList[slot++];
        entry.present = 1;
        entry.adapter = static_cast<int16_t>(adapter);
        entry.target = static_cast<int16_t>(target);
        entry.lun = static_cast<int16_t>(lun);
        entry.path = 0;
        // The list keeps the first drives found; a manager may report many more.
        if (slot == kMaxDevices) return;
      }
    }
  }
}

void AtapiDevice::SortDevices() {
  DeviceEntry sorted[kMaxDevices] = {};
  bool taken[kMaxDevices] = {};
  int placed = 0;
  for (int pass = 0; pass < kMaxDevices; ++pass) {
    int best = -1;
    for (int i = 0; i < kMaxDevices; ++i) {
      if (deviceList[i].present == 0 || taken[i]) continue;
      // Strictly smaller: among equal keys the lower slot stays first.
      if (best < 0 || AddressKey(deviceList[i]) < AddressKey(deviceList[best])) best = i;
    }
    if (best < 0) break;
    taken[best] = true;
    sorted[placed++] = deviceList[best];
  }
  std::memcpy(deviceList, sorted, sizeof deviceList);
}

// ---------------------------------------------------------------------------------------------
// Identity

bool AtapiDevice::ReadInquiry() {
  std::memset(currentVendor, 0, sizeof currentVendor);
  std::memset(currentProduct, 0, sizeof currentProduct);
  std::memset(currentRevision, 0, sizeof currentRevision);
  std::memset(currentVendorSpecific, 0, sizeof currentVendorSpecific);
  if (!Inquiry(0, 0, 0, kInquiryBytes, 0)) return false;
  // Vendor, product and revision end at byte 35: a shorter answer identifies nothing.
  if (last.lastTransferLength < kInquiryIdentityBytes) return false;
  std::memcpy(currentVendor, inBuffer + 8, 8);
  std::memcpy(currentProduct, inBuffer + 16, 16);
  std::memcpy(currentRevision, inBuffer + 32, 4);
  std::memcpy(currentVendorSpecific, inBuffer + 36, 16);
  for (int i = 8; i < 32; ++i) {
    if (inBuffer[i] != 0) return true;
  }
  return false;
}

void AtapiDevice::FillIdentity(DeviceEntry& entry) const {
  std::memset(entry.identText, 0, sizeof entry.identText);
  std::memcpy(entry.identText, currentVendor, 8);
  std::memcpy(entry.identText + 8, currentProduct, 16);
  std::memcpy(entry.vendor, currentVendor, sizeof entry.vendor);
  std::memcpy(entry.product, currentProduct, sizeof entry.product);
  std::memcpy(entry.revision, currentRevision, sizeof entry.revision);
  std::memcpy(entry.vendorSpecific, currentVendorSpecific, sizeof entry.vendorSpecific);
}

bool AtapiDevice::ReadIdentity() {
  // Only meaningful while a drive is addressed; otherwise there is no entry to fill.
  if (!ValidIndex(currentIndex)) return false;
  for (int attempt = 0; attempt < kIdentityAttempts; ++attempt) {
    if (ReadInquiry()) {
      FillIdentity(deviceList[currentIndex]);
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// The device list and addressing

DeviceEntry* AtapiDevice::GetEntry(unsigned index) {
  if (index >= deviceCount || index >= static_cast<unsigned>(kMaxDevices)) return nullptr;
  if (deviceList[index].present == 0) return nullptr;
  return &deviceList[index];
}

uint8_t AtapiDevice::IsPresent(int16_t index) const {
  return ValidIndex(index) ? deviceList[index].present : 0;
}

bool AtapiDevice::SelectDevice(int16_t index) {
  // Checked first: the markers 127 and -1 of currentIndex are no slots to "stay" on.
  if (!ValidIndex(index)) return false;
  if (index == currentIndex) return true;
  if (deviceList[index].present == 0) return false;
  if (IsOpen(driveHandle)) CloseDevice();

  DeviceEntry const& entry = deviceList[index];
  useAspi = entry.viaAspi != 0;
  currentIndex = index;
  currentAdapter = entry.adapter;
  currentTarget = entry.target;
  currentLun = entry.lun;
  currentPath = entry.path;
  std::memcpy(currentVendor, entry.vendor, sizeof currentVendor);
  std::memcpy(currentProduct, entry.product, sizeof currentProduct);
  std::memcpy(currentRevision, entry.revision, sizeof currentRevision);
  std::memcpy(currentVendorSpecific, entry.vendorSpecific, sizeof currentVendorSpecific);

  // On ASPI the address alone directs the commands; the pass-through needs the drive open.
  if (osInfo.isNtFamily != 0 && !useAspi) {
    driveHandle = OpenDrive(entry.rootPath);
    if (!IsOpen(driveHandle)) {
      currentIndex = kOpenFailed;
      currentAdapter = currentTarget = currentLun = currentPath = -1;
      driveHandle = kInvalidHandle;
      return false;
    }
  }
  return true;
}

void AtapiDevice::CloseDevice() {
  if (IsOpen(driveHandle)) platform().CloseHandle(driveHandle);
  currentAdapter = currentTarget = currentLun = currentPath = -1;
  driveHandle = kInvalidHandle;
  currentIndex = kNotAddressed;
}

void AtapiDevice::CopyInto(AtapiDevice* target) const {
  if (target == nullptr || target == this) return;
  // A drive the target held open would otherwise be left open without an owner.
  target->CloseDevice();
  target->timeoutSeconds = timeoutSeconds;
  target->currentAdapter = currentAdapter;
  target->currentTarget = currentTarget;
  target->currentLun = currentLun;
  target->currentPath = currentPath;
  target->useAspi = useAspi;
  target->aspiAvailable = aspiAvailable;
  target->deviceCount = deviceCount;
  target->retryFlag = retryFlag;
  std::memcpy(target->currentVendor, currentVendor, sizeof currentVendor);
  std::memcpy(target->currentProduct, currentProduct, sizeof currentProduct);
  std::memcpy(target->currentRevision, currentRevision, sizeof currentRevision);
  std::memcpy(target->currentVendorSpecific, currentVendorSpecific, sizeof currentVendorSpecific);
  std::memcpy(target->deviceList, deviceList, sizeof deviceList);
  target->driveHandle = kInvalidHandle;
  target->currentIndex = kNotAddressed;
}

}  // namespace quorel
