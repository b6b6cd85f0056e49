// The Linux binding's request translation against a kernel stand-in: the SG_IO header it builds,
// the answers it reads back and the requests it refuses unsent.
#include "platform/linux/device_control.h"

#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/scsi_structs.h"

namespace quorel::sgio {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kInquiry[12] = {0x12, 0, 0, 0, 0x60};

// What the stand-in answers to SG_IO; it keeps the header it was given, whose fixed part it
// checks: the engine's INQUIRY with a 24-byte sense area.
struct Kernel {
  int error = 0;
  uint8_t status = 0;
  uint16_t host = 0, driver = 0;
  int resid = 0;
  Bytes sense{};  // written up to mx_sb_len; sb_len_wr claims all of it
  sg_io_hdr_t seen{};
  int calls = 0;

  uint32_t Send(PassThroughRequest& area, uint32_t bytes = sizeof(PassThroughRequest)) {
    uint32_t returned = 0;
    return ControlDevice(win::kIoctlScsiPassThroughDirect, &area, bytes, &area, bytes, &returned,
                         [this](unsigned long request, void* header) {
                           EXPECT_EQ(request, static_cast<unsigned long>(SG_IO));
                           return Answer(*static_cast<sg_io_hdr_t*>(header));
                         });
  }
  int Answer(sg_io_hdr_t& header) {
    ++calls;
    seen = header;
    EXPECT_EQ(std::tie(header.interface_id, header.cmd_len, header.mx_sb_len),
              std::make_tuple('S', 12, 24));
    EXPECT_EQ(Bytes(header.cmdp, header.cmdp + 12), Bytes(kInquiry, kInquiry + 12));
    if (error != 0) return error;
    header.status = status;
    header.host_status = host;
    header.driver_status = driver;
    header.resid = resid;
    std::copy_n(sense.begin(), std::min<size_t>(sense.size(), header.mx_sb_len), header.sbp);
    header.sb_len_wr = static_cast<uint8_t>(sense.size());
    return 0;
  }
};

// INQUIRY for 96 bytes into data, as the engine fills it.
PassThroughRequest Inquiry(uint8_t* data) {
  PassThroughRequest area{};
  area.sptd = {
      sizeof(ScsiPassThroughDirect), 0, 0, 0, 0, 12, 24, kScsiIoctlDataIn, 96, 108000, data,
      kPassThroughSenseOffset,       {}};
  std::memcpy(area.sptd.Cdb, kInquiry, sizeof kInquiry);
  return area;
}

TEST(LinuxDeviceControl, PassThroughAnswers) {
  Bytes const fixed = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0, 0, 0, 0, 0};
  Bytes const descriptor = {0x72, 0x06, 0x29, 0, 0, 0, 0, 0};
  struct Case {
    const char* name;
    Kernel kernel;
    uint32_t error;  // 0: the call works and the request holds the answer
    uint32_t transferred;
    Bytes sense;  // what lands in the sense area
  } const cases[] = {
      {"good", {}, 0, 96, {}},
      {"fixed sense", {0, 0x02, 0, 0x08, 96, fixed}, 0, 0, fixed},
      {"descriptor sense", {0, 0x02, 0, 0x08, 0, descriptor}, 0, 96, descriptor},
      {"sense longer than the area", {0, 0x02, 0, 0x08, 0, Bytes(40, 7)}, 0, 96, Bytes(24, 7)},
      {"short transfer", {0, 0, 0, 0, 60}, 0, 36, {}},
      {"residue above the length asked", {0, 0, 0, 0, 500}, 0, 0, {}},
      {"host adapter error", {0, 0, 0x07}, kErrorIoDevice, 0, {}},
      {"host time-out", {0, 0, 0x03}, kErrorSemTimeout, 0, {}},
      {"driver error with a suggestion", {0, 0, 0, 0x24}, kErrorIoDevice, 0, {}},
      {"WRITE BUFFER filtered", {EPERM}, kErrorAccessDenied, 0, {}},
      {"device gone", {ENODEV}, kErrorFileNotFound, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint8_t data[96];
    PassThroughRequest area = Inquiry(data);
    Kernel kernel = c.kernel;
    EXPECT_EQ(kernel.Send(area), c.error);
    ASSERT_EQ(kernel.calls, 1);
    if (c.error != 0) {  // a failed call leaves the request as it was
      EXPECT_EQ(area.sptd.SenseInfoLength, 24);
      continue;
    }
    EXPECT_EQ(area.sptd.ScsiStatus, c.kernel.status);
    EXPECT_EQ(area.sptd.DataTransferLength, c.transferred);
    ASSERT_EQ(area.sptd.SenseInfoLength, c.sense.size());
    EXPECT_EQ(Bytes(area.sense, area.sense + c.sense.size()), c.sense);
  }
}

// Requests the binding refuses unsent, and how an accepted one's direction, length and
// time-out reach the kernel.
TEST(LinuxDeviceControl, RequestChecksAndHeader) {
  constexpr uint32_t kWhole = sizeof(PassThroughRequest), kBad = kErrorInvalidParameter;
  struct Case {
    const char* name;
    void (*change)(ScsiPassThroughDirect&);
    uint32_t bytes, error;
    int direction = SG_DXFER_FROM_DEV;
    uint32_t sent = 96, timeoutMilliseconds = 108'000'000;
  } const cases[] = {
      {"sense area past the buffer", [](auto& r) { r.SenseInfoLength = 33; },
       kPassThroughSenseOffset + 32, kBad},
      {"buffer ends in the sense area", [](auto&) {}, kPassThroughSenseOffset + 23, kBad},
      {"sense over the structure", [](auto& r) { r.SenseInfoOffset = 8; }, kWhole, kBad},
      {"sense offset wraps", [](auto& r) { r.SenseInfoOffset = ~0u - 15; }, kWhole, kBad},
      {"CDB too short", [](auto& r) { r.CdbLength = 5; }, kWhole, kBad},
      {"unknown direction", [](auto& r) { r.DataIn = 3; }, kWhole, kBad},
      {"data without a buffer", [](auto& r) { r.DataBuffer = nullptr; }, kWhole, kBad},
      {"sense area ends with the buffer", [](auto&) {}, kPassThroughSenseOffset + 24, 0},
      {"data out", [](auto& r) { r.DataIn = kScsiIoctlDataOut; }, kWhole, 0, SG_DXFER_TO_DEV},
      {"unspecified direction sends nothing",
       [](auto& r) { r.DataIn = kScsiIoctlDataUnspecified, r.TimeOutValue = 1; }, kWhole, 0,
       SG_DXFER_NONE, 0, 1000},
      {"no data, longest time-out", [](auto& r) { r.DataTransferLength = 0, r.TimeOutValue = ~0u; },
       kWhole, 0, SG_DXFER_NONE, 0, UINT_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint8_t data[96];
    PassThroughRequest area = Inquiry(data);
    c.change(area.sptd);
    Kernel kernel;
    EXPECT_EQ(kernel.Send(area, c.bytes), c.error);
    EXPECT_EQ(kernel.calls, c.error == 0 ? 1 : 0);
    if (c.error != 0) continue;
    sg_io_hdr_t const& seen = kernel.seen;
    EXPECT_EQ(std::tie(seen.dxfer_direction, seen.dxfer_len, seen.timeout),
              std::tie(c.direction, c.sent, c.timeoutMilliseconds));
    EXPECT_EQ(seen.dxferp, c.sent == 0 ? nullptr : data);
    EXPECT_EQ(area.sptd.DataTransferLength, c.sent);
  }
}

}  // namespace
}  // namespace quorel::sgio
