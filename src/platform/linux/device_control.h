// The device requests of the Linux binding, as pure translations: a Windows control code and
// its buffers become ioctl calls on an open optical drive (SG_IO, SCSI_IOCTL_GET_IDLUN), and
// their results become the answer and last error Windows would give. The ioctl is a parameter,
// so that tests can answer in the kernel's place. Internal to the binding and its tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorel::sgio {

// Windows error codes the binding reports.
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorSemTimeout = 121;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorModNotFound = 126;
constexpr uint32_t kErrorProcNotFound = 127;
constexpr uint32_t kErrorBusy = 170;
constexpr uint32_t kErrorOperationAborted = 995;
constexpr uint32_t kErrorNoAccess = 998;
constexpr uint32_t kErrorIoDevice = 1117;

// One ioctl on the open device: 0 when it worked, else the errno value it failed with.
using Ioctl = std::function<int(unsigned long request, void* argument)>;

// The Windows error for an errno value of open or ioctl.
uint32_t WindowsErrorOf(int errnoValue);

// DeviceIoControl on an open drive. IOCTL_SCSI_PASS_THROUGH_DIRECT becomes one SG_IO: in holds
// the request, whose sense area (SenseInfoOffset, SenseInfoLength) must lie inside out after
// the structure; out receives the request with ScsiStatus, DataTransferLength and
// SenseInfoLength set and the sense at its offset. A host adapter or driver error is a failure.
// IOCTL_SCSI_GET_ADDRESS answers the kernel's host, channel, target and LUN. Every other code
// (storage property query, CD-ROM exclusive access) is unsupported. *returnedBytes is set
// whatever the outcome. Returns 0 when the request worked, else the Windows error code.
uint32_t ControlDevice(uint32_t code, void* in, uint32_t inBytes, void* out, uint32_t outBytes,
                       uint32_t* returnedBytes, const Ioctl& ioctl);

// The optical drives under a sysfs block class directory (its sr<N> entries), as /dev/sr<N>,
// ordered by N. Empty when the directory cannot be read.
std::vector<std::string> OpticalDevicePaths(const std::string& classBlockDirectory);

}  // namespace quorel::sgio
