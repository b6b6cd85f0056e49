// The Linux binding's request translation against a kernel stand-in: the SG_IO header it builds,
// the answers it reads back, the requests it refuses unsent, and the SCSI address.
#include "platform/linux/device_control.h"

#include <gtest/gtest.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "device/scsi_structs.h"
#include "platform/platform.h"

namespace quorel::sgio {
namespace {

constexpr uint8_t kInquiry[12] = {0x12, 0, 0, 0, 0x60};

// What the stand-in answers to SG_IO; it keeps the header it was given.
struct Answer {
  int error = 0;
  uint8_t status = 0;
  uint16_t host = 0, driver = 0;
  int resid = 0;
  std::vector<uint8_t> sense;  // written up to mx_sb_len; sb_len_wr claims all of it
};

struct Kernel {
  Answer answer;
  sg_io_hdr_t seen{};
  std::vector<uint8_t> cdb;  // seen.cmdp points into the caller's frame
  int calls = 0;
  Ioctl ioctl() {
    return [this](unsigned long request, void* argument) {
      ++calls;
      EXPECT_EQ(request, static_cast<unsigned long>(SG_IO));
      auto& header = *static_cast<sg_io_hdr_t*>(argument);
      seen = header;
      cdb.assign(header.cmdp, header.cmdp + header.cmd_len);
      if (answer.error != 0) return answer.error;
      header.status = answer.status;
      header.host_status = answer.host;
      header.driver_status = answer.driver;
      header.resid = answer.resid;
      size_t const written = std::min<size_t>(answer.sense.size(), header.mx_sb_len);
      if (written != 0) std::memcpy(header.sbp, answer.sense.data(), written);
      header.sb_len_wr = static_cast<uint8_t>(answer.sense.size());
      return 0;
    };
  }
};

struct Request {
  PassThroughRequest area{};
  uint8_t data[96] = {};
  Request() {
    area.sptd.Length = sizeof(ScsiPassThroughDirect);
    area.sptd.CdbLength = 12;
    area.sptd.SenseInfoLength = 24;
    area.sptd.DataIn = kScsiIoctlDataIn;
    area.sptd.DataTransferLength = sizeof data;
    area.sptd.TimeOutValue = 108000;
    area.sptd.DataBuffer = data;
    area.sptd.SenseInfoOffset = kPassThroughSenseOffset;
    std::memcpy(area.sptd.Cdb, kInquiry, sizeof kInquiry);
  }
  uint32_t Send(Kernel& kernel, uint32_t bytes = sizeof(PassThroughRequest)) {
    uint32_t returned = 0;
    return ControlDevice(win::kIoctlScsiPassThroughDirect, &area, bytes, &area, bytes, &returned,
                         kernel.ioctl());
  }
};

TEST(LinuxDeviceControl, PassThroughAnswers) {
  std::vector<uint8_t> const fixed = {0x70, 0, 0x05, 0,    0,    0, 0, 10, 0,
                                      0,    0, 0,    0x24, 0x00, 0, 0, 0,  0};
  std::vector<uint8_t> const descriptor = {0x72, 0x06, 0x29, 0x00, 0, 0, 0, 0};
  struct Case {
    const char* name;
    Answer answer;
    uint32_t error;  // 0: the call works
    uint8_t status;
    uint32_t transferred;
    std::vector<uint8_t> sense;  // what lands in the sense area
  } const cases[] = {
      {"good", {}, 0, 0x00, 96, {}},
      {"check condition, fixed sense", {0, 0x02, 0, 0x08, 96, fixed}, 0, 0x02, 0, fixed},
      {"descriptor sense", {0, 0x02, 0, 0x08, 0, descriptor}, 0, 0x02, 96, descriptor},
      {"sense longer than the area",
       {0, 0x02, 0, 0x08, 0, std::vector<uint8_t>(40, 0x71)},
       0,
       0x02,
       96,
       std::vector<uint8_t>(24, 0x71)},
      {"short transfer", {0, 0, 0, 0, 60, {}}, 0, 0x00, 36, {}},
      {"residue above the length asked", {0, 0, 0, 0, 500, {}}, 0, 0x00, 0, {}},
      {"negative residue", {0, 0, 0, 0, -8, {}}, 0, 0x00, 96, {}},
      {"host adapter error", {0, 0, 0x07, 0, 0, {}}, kErrorIoDevice, 0, 0, {}},
      {"host time-out", {0, 0, 0x03, 0, 0, {}}, kErrorSemTimeout, 0, 0, {}},
      {"driver time-out", {0, 0, 0, 0x06, 0, {}}, kErrorSemTimeout, 0, 0, {}},
      {"driver error with a suggestion", {0, 0, 0, 0x24, 0, {}}, kErrorIoDevice, 0, 0, {}},
      {"WRITE BUFFER filtered (EPERM)", {EPERM, 0, 0, 0, 0, {}}, kErrorAccessDenied, 0, 0, {}},
      {"no write access (EACCES)", {EACCES, 0, 0, 0, 0, {}}, kErrorAccessDenied, 0, 0, {}},
      {"device gone", {ENODEV, 0, 0, 0, 0, {}}, kErrorFileNotFound, 0, 0, {}},
      {"other failure", {EIO, 0, 0, 0, 0, {}}, kErrorIoDevice, 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Request request;
    Kernel kernel;
    kernel.answer = c.answer;
    EXPECT_EQ(request.Send(kernel), c.error);
    ASSERT_EQ(kernel.calls, 1);
    EXPECT_EQ(kernel.seen.interface_id, 'S');
    EXPECT_EQ(kernel.seen.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(kernel.cdb, std::vector<uint8_t>(kInquiry, kInquiry + 12));
    EXPECT_EQ(kernel.seen.dxferp, request.data);
    EXPECT_EQ(kernel.seen.dxfer_len, 96u);
    EXPECT_EQ(kernel.seen.mx_sb_len, 24);
    EXPECT_EQ(kernel.seen.timeout, 108'000'000u);
    ScsiPassThroughDirect const& answer = request.area.sptd;
    if (c.error != 0) {  // a failed call leaves the request as it was
      EXPECT_EQ(answer.DataTransferLength, 96u);
      EXPECT_EQ(answer.SenseInfoLength, 24);
      continue;
    }
    EXPECT_EQ(answer.ScsiStatus, c.status);
    EXPECT_EQ(answer.DataTransferLength, c.transferred);
    ASSERT_EQ(answer.SenseInfoLength, c.sense.size());
    EXPECT_EQ(std::vector<uint8_t>(request.area.sense, request.area.sense + c.sense.size()),
              c.sense);
  }
}

TEST(LinuxDeviceControl, DirectionLengthAndTimeOut) {
  struct Case {
    uint8_t dataIn;
    uint32_t length, timeoutSeconds;
    int direction;
    uint32_t sentLength, timeoutMilliseconds;
  } const cases[] = {
      {kScsiIoctlDataOut, 16, 60, SG_DXFER_TO_DEV, 16, 60'000},
      {kScsiIoctlDataUnspecified, 5, 1, SG_DXFER_NONE, 0, 1'000},
      {kScsiIoctlDataIn, 0, 0xFFFFFFFFu, SG_DXFER_NONE, 0, UINT_MAX},
  };
  for (const Case& c : cases) {
    Request request;
    request.area.sptd.DataIn = c.dataIn;
    request.area.sptd.DataTransferLength = c.length;
    request.area.sptd.TimeOutValue = c.timeoutSeconds;
    Kernel kernel;
    EXPECT_EQ(request.Send(kernel), 0u);
    EXPECT_EQ(kernel.seen.dxfer_direction, c.direction);
    EXPECT_EQ(kernel.seen.dxfer_len, c.sentLength);
    EXPECT_EQ(kernel.seen.dxferp == nullptr, c.sentLength == 0);
    EXPECT_EQ(kernel.seen.timeout, c.timeoutMilliseconds);
    EXPECT_EQ(request.area.sptd.DataTransferLength, c.sentLength);
  }
}

TEST(LinuxDeviceControl, MalformedRequestsAreRefusedUnsent) {
  struct Case {
    const char* name;
    void (*change)(ScsiPassThroughDirect&);
    uint32_t bytes;
  } const cases[] = {
      {"sense area past the buffer", [](auto& r) { r.SenseInfoLength = 33; },
       kPassThroughSenseOffset + 32},
      {"sense area over the structure", [](auto& r) { r.SenseInfoOffset = 8; }, 0},
      {"sense offset wraps", [](auto& r) { r.SenseInfoOffset = 0xFFFFFFF0u; }, 0},
      {"buffer shorter than the sense area", [](auto&) {}, kPassThroughSenseOffset + 23},
      {"buffer shorter than the structure", [](auto&) {}, sizeof(ScsiPassThroughDirect) - 1},
      {"CDB too short", [](auto& r) { r.CdbLength = 5; }, 0},
      {"CDB too long", [](auto& r) { r.CdbLength = 17; }, 0},
      {"wrong structure length", [](auto& r) { r.Length = 44; }, 0},
      {"unknown direction", [](auto& r) { r.DataIn = 3; }, 0},
      {"data without a buffer", [](auto& r) { r.DataBuffer = nullptr; }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Request request;
    c.change(request.area.sptd);
    Kernel kernel;
    EXPECT_EQ(request.Send(kernel, c.bytes != 0 ? c.bytes : sizeof(PassThroughRequest)),
              kErrorInvalidParameter);
    EXPECT_EQ(kernel.calls, 0);
  }
  // A sense area that ends exactly at the end of the buffer is fine.
  Request request;
  Kernel kernel;
  EXPECT_EQ(request.Send(kernel, kPassThroughSenseOffset + 24), 0u);
}

TEST(LinuxDeviceControl, ScsiAddressAndUnsupportedCodes) {
  auto const idLun = [](unsigned long request, void* argument) {
    EXPECT_EQ(request, static_cast<unsigned long>(SCSI_IOCTL_GET_IDLUN));
    uint32_t const devId =
        0x02 | 0x01 << 8 | 0x00 << 16 | 0x04 << 24;  // target, LUN, channel, host
    std::memcpy(argument, &devId, sizeof devId);
    return 0;
  };
  ScsiAddress address{};
  uint32_t returned = 0;
  ASSERT_EQ(ControlDevice(win::kIoctlScsiGetAddress, nullptr, 0, &address, sizeof address,
                          &returned, idLun),
            0u);
  EXPECT_EQ(returned, 8u);
  EXPECT_EQ(address.Length, 8u);
  EXPECT_EQ(address.PortNumber, 4);
  EXPECT_EQ(address.PathId, 0);
  EXPECT_EQ(address.TargetId, 2);
  EXPECT_EQ(address.Lun, 1);
  EXPECT_EQ(ControlDevice(win::kIoctlScsiGetAddress, nullptr, 0, &address, 7, &returned, idLun),
            kErrorInsufficientBuffer);

  uint8_t buffer[72] = {};
  for (uint32_t code : {win::kIoctlStorageQueryProperty, win::kIoctlCdromExclusiveAccess}) {
    EXPECT_EQ(ControlDevice(code, buffer, sizeof buffer, buffer, sizeof buffer, &returned, idLun),
              kErrorInvalidFunction);
  }
}

}  // namespace
}  // namespace quorel::sgio
