// Request areas exchanged with the SCSI pass-through driver and the ASPI manager, in their
// published layouts. Sizes and offsets are asserted for the 32-bit Windows target, where the
// driver and the manager read them; on a 64-bit host only the simulated machine reads them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorel {

constexpr int kCdbBytes = 12;

// SCSI_PASS_THROUGH_DIRECT.
struct ScsiPassThroughDirect {
  uint16_t Length;
  uint8_t ScsiStatus;
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
  uint8_t CdbLength;
  uint8_t SenseInfoLength;
  uint8_t DataIn;
  uint32_t DataTransferLength;
  uint32_t TimeOutValue;
  void* DataBuffer;
  uint32_t SenseInfoOffset;
  uint8_t Cdb[16];
};

// The pass-through request as the engine sends it: the structure, a filler, then the sense area.
struct PassThroughRequest {
  ScsiPassThroughDirect sptd;
  uint32_t filler;
  uint8_t sense[32];
};

constexpr uint8_t kScsiIoctlDataOut = 0;
constexpr uint8_t kScsiIoctlDataIn = 1;
constexpr uint8_t kScsiIoctlDataUnspecified = 2;

// SCSI_ADDRESS, the answer to IOCTL_SCSI_GET_ADDRESS.
struct ScsiAddress {
  uint32_t Length;
  uint8_t PortNumber;
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
};

// STORAGE_PROPERTY_QUERY for the standard device descriptor (all fields zero).
struct StoragePropertyQuery {
  uint32_t PropertyId;
  uint32_t QueryType;
  uint8_t AdditionalParameters[4];
};

// ASPI for Win32 (wnaspi32.h), byte-packed.
constexpr uint8_t SC_HA_INQUIRY = 0x00;
constexpr uint8_t SC_GET_DEV_TYPE = 0x01;
constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;
constexpr uint8_t SC_ABORT_SRB = 0x03;
constexpr uint8_t SC_RESCAN_SCSI_BUS = 0x07;

constexpr uint8_t SS_PENDING = 0x00;
constexpr uint8_t SS_COMP = 0x01;
constexpr uint8_t SS_ABORTED = 0x02;
constexpr uint8_t SS_ABORT_FAIL = 0x03;
constexpr uint8_t SS_ERR = 0x04;
constexpr uint8_t SS_INVALID_CMD = 0x80;
constexpr uint8_t SS_INVALID_HA = 0x81;
constexpr uint8_t SS_NO_DEVICE = 0x82;
constexpr uint8_t SS_OLD_MANAGER = 0xE1;
constexpr uint8_t SS_ILLEGAL_MODE = 0xE2;
constexpr uint8_t SS_NO_ASPI = 0xE3;

constexpr uint8_t HASTAT_OK = 0x00;
constexpr uint8_t HASTAT_SEL_TO = 0x11;  // selection time-out: nobody answered
constexpr uint8_t HASTAT_DO_DU = 0x12;   // data overrun or underrun

// SCSI status bytes (SRB_TargStat, ScsiStatus).
constexpr uint8_t STATUS_GOOD = 0x00;
constexpr uint8_t STATUS_CHKCOND = 0x02;
constexpr uint8_t STATUS_BUSY = 0x08;

constexpr uint8_t SRB_POSTING = 0x01;
constexpr uint8_t SRB_DIR_IN = 0x08;
constexpr uint8_t SRB_DIR_OUT = 0x10;
constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;
constexpr uint8_t SENSE_LEN = 14;
constexpr uint8_t DTYPE_CDROM = 0x05;

#pragma pack(push, 1)
struct SRB_ExecSCSICmd {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint16_t SRB_Rsvd1;
  uint32_t SRB_BufLen;
  uint8_t* SRB_BufPointer;
  uint8_t SRB_SenseLen;
  uint8_t SRB_CDBLen;
  uint8_t SRB_HaStat;
  uint8_t SRB_TargStat;
  void* SRB_PostProc;
  uint8_t SRB_Rsvd2[20];
  uint8_t CDBByte[16];
  uint8_t SenseArea[SENSE_LEN + 2];
};

struct SRB_HAInquiry {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t HA_Count;
  uint8_t HA_SCSI_ID;
  uint8_t HA_ManagerId[16];
  uint8_t HA_Identifier[16];
  uint8_t HA_Unique[16];
  uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint8_t SRB_DeviceType;
  uint8_t SRB_Rsvd1;
};

struct SRB_Abort {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  void* SRB_ToAbort;
};

struct SRB_RescanPort {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
};

// The fields every request begins with; the manager dispatches on SRB_Cmd.
struct SRB_Header {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
};
#pragma pack(pop)

// Where the sense area sits in the pass-through request, as SenseInfoOffset tells the driver.
constexpr uint32_t kPassThroughSenseOffset = offsetof(PassThroughRequest, sense);

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(ScsiPassThroughDirect) == 44);
static_assert(offsetof(ScsiPassThroughDirect, DataIn) == 8);
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) == 12);
static_assert(offsetof(ScsiPassThroughDirect, TimeOutValue) == 16);
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 20);
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 24);
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 28);
static_assert(sizeof(PassThroughRequest) == 80);
static_assert(kPassThroughSenseOffset == 48);
static_assert(sizeof(SRB_ExecSCSICmd) == 80);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64);
static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8);
static_assert(sizeof(SRB_GDEVBlock) == 12);
static_assert(offsetof(SRB_GDEVBlock, SRB_Target) == 8);
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);
static_assert(sizeof(SRB_Abort) == 12);
static_assert(offsetof(SRB_Abort, SRB_ToAbort) == 8);
static_assert(sizeof(SRB_RescanPort) == 8);
#endif
static_assert(sizeof(ScsiAddress) == 8 && offsetof(ScsiAddress, PortNumber) == 4);
static_assert(sizeof(StoragePropertyQuery) == 12);

}  // namespace quorel
