// Discovery through the drive letters: the system's optical root paths, each drive's SCSI address
// and storage descriptor.
#include <cstring>

#include "device/atapi_device.h"
#include "device/engine_internal.h"

namespace quorel {

using detail::IsOpen;
using detail::OpenDrive;

namespace {

constexpr int16_t kFirstSubstituteAdapter = 2;

// The system's list of drive root paths on the process heap; released on destruction.
class RootPathList {
 public:
  RootPathList() {
    Platform& os = platform();
    sizeBytes_ = os.GetLogicalDriveStringsA(0, nullptr);
    if (sizeBytes_ == 0) return;
    heap_ = os.GetProcessHeap();
    if (heap_ == nullptr) return;
    list_ = static_cast<char*>(os.HeapAlloc(heap_, win::kHeapZeroMemory, sizeBytes_));
    if (list_ == nullptr) return;
    // The answer is the length written, or the size needed when the list grew meanwhile; the
    // zeroed buffer then stays an empty list.
    if (os.GetLogicalDriveStringsA(sizeBytes_, list_) >= sizeBytes_) list_[0] = '\0';
  }
  ~RootPathList() {
    if (list_ != nullptr) platform().HeapFree(heap_, list_);
  }
  RootPathList(const RootPathList&) = delete;
  RootPathList& operator=(const RootPathList&) = delete;

  bool Empty() const { return sizeBytes_ == 0; }
  bool Failed() const { return sizeBytes_ != 0 && list_ == nullptr; }

  // Calls visit(rootPath) for each root path of type CD-ROM, in the system's order, until it
  // returns false.
  template <typename Visit>
  void ForEachOptical(Visit visit) const {
    if (list_ == nullptr) return;
    char const* const end = list_ + sizeBytes_;
    for (char const* root = list_; root < end && *root != '\0';) {
      auto const* zero = static_cast<const char*>(std::memchr(root, 0, end - root));
      if (zero == nullptr) break;  // not terminated inside the buffer
      size_t const length = static_cast<size_t>(zero - root);
      if (platform().GetDriveTypeA(root) == win::kDriveCdrom && !visit(root)) return;
      root += length + 1;
    }
  }

 private:
  uint32_t sizeBytes_ = 0;
  Handle heap_ = nullptr;
  char* list_ = nullptr;
};

// A drive opened for one query, closed however the query ends.
class OpenedDrive {
 public:
  explicit OpenedDrive(const char* rootPath) : handle_(OpenDrive(rootPath)) {}
  ~OpenedDrive() {
    if (IsOpen(handle_)) platform().CloseHandle(handle_);
  }
  OpenedDrive(const OpenedDrive&) = delete;
  OpenedDrive& operator=(const OpenedDrive&) = delete;

  bool Valid() const { return IsOpen(handle_); }
  Handle Get() const { return handle_; }

 private:
  Handle handle_;
};

}  // namespace

void AtapiDevice::ScanDriveLetters() {
  RootPathList const roots;
  int slot = 0;
  int16_t substitutes = 0;
  roots.ForEachOptical([&](const char* root) {
    // The list keeps the first optical letters; the slot of each is taken whether or not it
    // becomes present.
    if (slot == kMaxDevices) return false;
    DeviceEntry& entry = deviceList[slot++];
    std::strncpy(entry.rootPath, root, sizeof entry.rootPath - 1);
    entry.viaAspi = 0;

    // The drive's SCSI address. The control code takes no input: some implementations refuse
    // one, and the drive would then get a substitute address.
    if (OpenedDrive drive(root); drive.Valid()) {
      ScsiAddress address{};
      uint32_t returnedBytes = 0;
      bool const answered =
          platform().DeviceIoControl(drive.Get(), win::kIoctlScsiGetAddress, nullptr, 0, &address,
                                     sizeof address, &returnedBytes);
      if (answered && address.Length != 0) {
        entry.present = 1;
        entry.adapter = address.PortNumber;
        entry.target = address.TargetId;
        entry.lun = address.Lun;
        entry.path = address.PathId;
      } else if (!answered) {
        entry.present = 1;
        entry.adapter = static_cast<int16_t>(kFirstSubstituteAdapter + substitutes++);
        entry.target = 0;
        entry.lun = 0;
        entry.path = 0;
      }
    }

    // Its storage descriptor: the zeroed area is the query for the standard descriptor.
    if (OpenedDrive drive(root); drive.Valid()) {
      uint32_t returnedBytes = 0;
      platform().DeviceIoControl(drive.Get(), win::kIoctlStorageQueryProperty,
                                 entry.storageDescriptor, sizeof entry.storageDescriptor,
                                 entry.storageDescriptor, sizeof entry.storageDescriptor,
                                 &returnedBytes);
    }
    return true;
  });
}

int16_t AtapiDevice::CountOpticalLetters() {
  RootPathList const roots;
  if (roots.Empty()) return 0;
  if (roots.Failed()) return -1;
  int16_t count = 0;
  roots.ForEachOptical([&](const char*) {
    ++count;
    return true;
  });
  return count;
}

}  // namespace quorel
