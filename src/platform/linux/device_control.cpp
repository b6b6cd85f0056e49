#include "platform/linux/device_control.h"

#include <dirent.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "platform/scsi_structs.h"

namespace quorel::sgio {
namespace {

// host_status and the driver byte of driver_status (its upper half holds suggestions only).
constexpr unsigned kHostTimeOut = 0x03;    // DID_TIME_OUT
constexpr unsigned kDriverTimeout = 0x06;  // DRIVER_TIMEOUT (older kernels)
constexpr unsigned kDriverSense = 0x08;    // DRIVER_SENSE: sense is present, not an error
constexpr unsigned kDriverByteMask = 0x0F;
constexpr uint8_t kMinCdbBytes = 6;
constexpr uint8_t kMaxCdbBytes = 16;

// What SCSI_IOCTL_GET_IDLUN fills: target, LUN, channel and host, one byte each.
struct IdLun {
  uint32_t devId;
  uint32_t hostUniqueId;
};

int DirectionOf(uint8_t dataIn, uint32_t lengthBytes) {
  if (lengthBytes == 0) return SG_DXFER_NONE;
  switch (dataIn) {
    case kScsiIoctlDataOut:
      return SG_DXFER_TO_DEV;
    case kScsiIoctlDataIn:
      return SG_DXFER_FROM_DEV;
    default:
      return SG_DXFER_NONE;
  }
}

uint32_t PassThrough(void* in, uint32_t inBytes, void* out, uint32_t outBytes,
                     uint32_t* returnedBytes, const Ioctl& ioctl) {
  constexpr uint32_t kRequestBytes = sizeof(ScsiPassThroughDirect);
  if (in == nullptr || out == nullptr || inBytes < kRequestBytes || outBytes < kRequestBytes) {
    return kErrorInvalidParameter;
  }
  // The caller's buffers need not be aligned, and in and out may be the same.
  ScsiPassThroughDirect request;
  std::memcpy(&request, in, kRequestBytes);
  if (request.Length != kRequestBytes || request.CdbLength < kMinCdbBytes ||
      request.CdbLength > kMaxCdbBytes || request.DataIn > kScsiIoctlDataUnspecified) {
    return kErrorInvalidParameter;
  }
  // The sense area lies in the output buffer, after the structure it must not overwrite.
  uint64_t const senseEnd = uint64_t{request.SenseInfoOffset} + request.SenseInfoLength;
  if (request.SenseInfoLength != 0 &&
      (request.SenseInfoOffset < kRequestBytes || senseEnd > outBytes)) {
    return kErrorInvalidParameter;
  }
  int const direction = DirectionOf(request.DataIn, request.DataTransferLength);
  uint32_t const asked = direction == SG_DXFER_NONE ? 0 : request.DataTransferLength;
  if (asked != 0 && request.DataBuffer == nullptr) return kErrorInvalidParameter;

  uint8_t cdb[kMaxCdbBytes];
  std::memcpy(cdb, request.Cdb, sizeof cdb);
  uint8_t sense[UCHAR_MAX + 1] = {};
  sg_io_hdr_t header{};
  header.interface_id = 'S';
  header.dxfer_direction = direction;
  header.cmd_len = request.CdbLength;
  header.mx_sb_len = request.SenseInfoLength;
  header.dxfer_len = asked;
  header.dxferp = asked == 0 ? nullptr : request.DataBuffer;
  header.cmdp = cdb;
  header.sbp = sense;
  header.timeout =
      static_cast<unsigned>(std::min<uint64_t>(uint64_t{request.TimeOutValue} * 1000u, UINT_MAX));

  if (int const error = ioctl(SG_IO, &header); error != 0) return WindowsErrorOf(error);
  unsigned const driverByte = header.driver_status & kDriverByteMask;
  if (header.host_status == kHostTimeOut || driverByte == kDriverTimeout) return kErrorSemTimeout;
  if (header.host_status != 0 || (driverByte != 0 && driverByte != kDriverSense)) {
    return kErrorIoDevice;
  }

  int64_t const resid = std::clamp<int64_t>(header.resid, 0, asked);
  uint8_t const senseBytes =
      std::min({header.sb_len_wr, header.mx_sb_len, request.SenseInfoLength});
  request.ScsiStatus = header.status;
  request.DataTransferLength = asked - static_cast<uint32_t>(resid);
  request.SenseInfoLength = senseBytes;
  auto* const answer = static_cast<uint8_t*>(out);
  std::memmove(answer, &request, kRequestBytes);
  std::memcpy(answer + request.SenseInfoOffset, sense, senseBytes);
  *returnedBytes = senseBytes != 0 ? request.SenseInfoOffset + senseBytes : kRequestBytes;
  return 0;
}

uint32_t ScsiAddressOf(void* out, uint32_t outBytes, uint32_t* returnedBytes, const Ioctl& ioctl) {
  if (out == nullptr || outBytes < sizeof(ScsiAddress)) return kErrorInsufficientBuffer;
  IdLun idLun{};
  if (int const error = ioctl(SCSI_IOCTL_GET_IDLUN, &idLun); error != 0) {
    return WindowsErrorOf(error);
  }
  ScsiAddress address{};
  address.Length = sizeof(ScsiAddress);
  address.TargetId = static_cast<uint8_t>(idLun.devId);
  address.Lun = static_cast<uint8_t>(idLun.devId >> 8);
  address.PathId = static_cast<uint8_t>(idLun.devId >> 16);
  address.PortNumber = static_cast<uint8_t>(idLun.devId >> 24);
  std::memcpy(out, &address, sizeof address);
  *returnedBytes = sizeof address;
  return 0;
}

// The N of a directory entry named sr<N>; -1 for any other name.
long DriveNumberOf(const char* name) {
  if (std::strncmp(name, "sr", 2) != 0 || name[2] == '\0') return -1;
  long number = 0;
  for (const char* digit = name + 2; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || number > 99999) return -1;
    number = number * 10 + (*digit - '0');
  }
  return number;
}

}  // namespace

uint32_t WindowsErrorOf(int errnoValue) {
  switch (errnoValue) {
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return kErrorFileNotFound;
    case ENOMEDIUM:
      return kErrorNotReady;
    case EBUSY:
    case EAGAIN:  // the drive is in error recovery
      return kErrorBusy;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
      return kErrorInvalidFunction;
    case ETIMEDOUT:
      return kErrorSemTimeout;
    case EFAULT:
      return kErrorNoAccess;
    case EINTR:
      return kErrorOperationAborted;
    default:
      return kErrorIoDevice;
  }
}

uint32_t ControlDevice(uint32_t code, void* in, uint32_t inBytes, void* out, uint32_t outBytes,
                       uint32_t* returnedBytes, const Ioctl& ioctl) {
  uint32_t ignored = 0;
  uint32_t& returned = returnedBytes != nullptr ? *returnedBytes : ignored;
  returned = 0;
  switch (code) {
    case win::kIoctlScsiPassThroughDirect:
      return PassThrough(in, inBytes, out, outBytes, &returned, ioctl);
    case win::kIoctlScsiGetAddress:
      // The code takes no input; whatever is given is not read.
      return ScsiAddressOf(out, outBytes, &returned, ioctl);
    default:
      // The storage property query has no Linux counterpart, and the CD-ROM exclusive access
      // is answered as Windows before Vista does: the core goes on without either.
      return kErrorInvalidFunction;
  }
}

std::vector<std::string> OpticalDevicePaths(const std::string& classBlockDirectory) {
  std::vector<std::pair<long, std::string>> found;
  if (DIR* const directory = ::opendir(classBlockDirectory.c_str())) {
    while (const dirent* entry = ::readdir(directory)) {
      long const number = DriveNumberOf(entry->d_name);
      if (number >= 0) found.emplace_back(number, std::string("/dev/") + entry->d_name);
    }
    ::closedir(directory);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& drive : found) paths.push_back(std::move(drive.second));
  return paths;
}

}  // namespace quorel::sgio
