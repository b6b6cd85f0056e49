// AtapiDevice: the drive engine, one object per use of a drive. The list engine scans the
// machine at start-up; one further engine without a scan serves each drive being updated.
//
// Its methods live in these places:
//   device/transport.cpp       the choice of transport, SendCommand and the SCSI pass-through
//   device/aspi_transport.cpp  the ASPI manager: loading it and its side of SendCommand
//   device/discovery.cpp       construction, discovery, the device list and addressing
//   device/drive_letters.cpp   discovery through the drive letters
//   flash/commands.cpp         the drive command set, readiness and tray procedures
//   flash/download.cpp         the firmware download procedure
// Methods return booleans and leave the last-command record; they raise nothing and show
// nothing (the ASPI loader's messages aside).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "device/device_entry.h"
#include "device/hitimer.h"
#include "platform/os_info.h"
#include "platform/platform.h"
#include "platform/scsi_structs.h"

namespace quorel {

enum class DataDirection : uint8_t { Out = 0, In = 1, None = 2 };

// How much data a command must move to be good. Exact: all of lengthBytes. UpTo: the length is
// an allocation length (INQUIRY, GET EVENT STATUS NOTIFICATION, the flash identity), and a drive
// may answer with less; the caller checks lastTransferLength against what it reads.
enum class Transfer : uint8_t { Exact, UpTo };

// Outcome of the engine's last command that reached the transport.
struct LastCommandRecord {
  uint8_t lastOutcome = 0;  // 1 good; 2 sense reported within the time-out; 0 anything else
  uint8_t lastSenseKey = 0;
  uint8_t lastAsc = 0;
  uint8_t lastAscq = 0;
  bool lastTimedOut = false;
  double lastElapsed = 0.0;  // seconds
  // Bytes moved, when good: as the pass-through reports them; on ASPI, which reports no
  // residue, the length asked for.
  uint32_t lastTransferLength = 0;
  uint8_t lastCdb[kCdbBytes] = {};
  // Refused before anything was sent: a write this build may not make to the addressed drive
  // (PartBlocksAllowedFor), or a length beyond the buffers.
  bool lastRefused = false;
  // The system refused the command with access denied: the program lacks the rights to send
  // it (on Linux, the kernel filters such commands for callers without raw I/O rights).
  bool lastAccessDenied = false;
};

// Sense data as the record keeps it; valid false when the area held no sense of a known format.
struct SenseTriple {
  bool valid = false;
  uint8_t key = 0, asc = 0, ascq = 0;
};
// Reads sense data by its response code: fixed format (70h current, 71h deferred) has the key in
// byte 2 and ASC/ASCQ in bytes 12/13, descriptor format (72h, 73h) in bytes 1, 2 and 3. Any
// other code, or an area too short for its format, is no sense.
SenseTriple ParseSense(const uint8_t* area, size_t areaBytes);

// An engine's ASPI request block, on the heap. A request the manager still holds after the engine
// gave up on it and asked for its abort stays the manager's: the block, with the buffers and the
// event the manager may still write into or signal, is then handed to a list that is never
// freed, and the engine sends nothing to the manager any more.
struct AspiRequestBlock {
  SRB_ExecSCSICmd srb{};
  uint8_t* inBuffer = nullptr;
  uint8_t* outBuffer = nullptr;
  Handle event = nullptr;
  AspiRequestBlock* next = nullptr;
};

constexpr uint8_t kOutcomeFailed = 0;
constexpr uint8_t kOutcomeGood = 1;
constexpr uint8_t kOutcomeSense = 2;

// The process-wide transport request: 32767 asks engines to use the ASPI manager when they can.
constexpr int kTransportRequestAspi = 32767;
extern int g_transportRequest;

class AtapiDevice {
 public:
  static constexpr uint32_t kBufferBytes = 65536;
  static constexpr uint32_t kDefaultTimeoutSeconds = 108000;
  static constexpr int16_t kNotAddressed = 127;
  static constexpr int16_t kOpenFailed = -1;

  // Constructs, chooses the transport (this may load the ASPI manager and show its messages)
  // and, when scan is true, finds the drives.
  explicit AtapiDevice(bool scan = true);
  ~AtapiDevice();
  AtapiDevice(const AtapiDevice&) = delete;
  AtapiDevice& operator=(const AtapiDevice&) = delete;

  // ---- Transport ----
  // Sends one 12-byte CDB to the addressed drive; data travels through InBuffer (direction In)
  // or OutBuffer (Out). InBuffer's first lengthBytes are first cleared, or for a read-back set
  // to the bitwise complement of the `complementOf` bytes expected, so that no answer shows an
  // older one's bytes and no byte that fails to arrive reads as expected. Good (true) only when the
  // call worked, the SCSI status is GOOD and the data moved as `transfer` asks; the reason for
  // false is in the last-command record. Sense is read only from a CHECK CONDITION, by its response
  // code: 70h/71h fixed, 72h/73h descriptor. Refused, with nothing sent: a length beyond
  // kBufferBytes, and every WRITE BUFFER or vendor-specific data-out to a drive this build may not
  // write (PartBlocksAllowedFor).
  bool SendCommand(const uint8_t* cdb, DataDirection direction, uint32_t lengthBytes,
                   Transfer transfer = Transfer::Exact, const uint8_t* complementOf = nullptr);
  void SetTimeout(uint32_t seconds) { timeoutSeconds = seconds; }
  void SetRetry(bool on) { retryFlag = on; }
  // Silent test for a usable ASPI manager; holds nothing afterwards.
  bool ProbeAspi();
  // Loads, checks and keeps the ASPI manager; shows a message box on failure.
  bool LoadAspi();
  void UnloadAspi();

  uint8_t* InBuffer() { return inBuffer; }
  uint8_t* OutBuffer() { return outBuffer; }
  const LastCommandRecord& Last() const { return last; }
  bool UseAspi() const { return useAspi; }
  bool AspiAvailable() const { return aspiAvailable; }
  bool RetryFlag() const { return retryFlag; }
  uint32_t TimeoutSeconds() const { return timeoutSeconds; }
  bool HasAspiEntryPoints() const {
    return getSupportInfo != nullptr && sendAspiCommand != nullptr;
  }
  HiTimer& WaitTimer() { return waitTimer; }
  Handle DriveHandle() const { return driveHandle; }
  const OSInfo& Os() const { return osInfo; }

  // ---- Discovery and the device list ----
  // Rebuilds the device list; ends not addressing any drive.
  void ScanDrives();
  uint16_t DeviceCount() const { return deviceCount; }
  // The entry at index, or null when index >= DeviceCount() or the slot is not present.
  DeviceEntry* GetEntry(unsigned index);
  uint8_t IsPresent(int16_t index) const;
  int16_t CurrentIndex() const { return currentIndex; }
  // Addresses slot index (opening the drive on the pass-through). False when the slot is not
  // present or the open fails (then CurrentIndex() is -1).
  bool SelectDevice(int16_t index);
  void CloseDevice();
  // Re-reads the addressed drive's INQUIRY data into its entry (up to 10 attempts).
  bool ReadIdentity();
  // Copies the transport settings and the device list into target, which is left unaddressed.
  void CopyInto(AtapiDevice* target) const;
  int16_t CurrentAdapter() const { return currentAdapter; }
  int16_t CurrentTarget() const { return currentTarget; }
  int16_t CurrentLun() const { return currentLun; }
  int16_t CurrentPath() const { return currentPath; }
  const char* CurrentVendor() const { return currentVendor; }
  const char* CurrentProduct() const { return currentProduct; }
  const char* CurrentRevision() const { return currentRevision; }
  const char* CurrentVendorSpecific() const { return currentVendorSpecific; }

  // ---- Drive command set ----
  bool TestUnitReady();
  bool Inquiry(uint8_t cmdDt, uint8_t evpd, uint8_t pageCode, uint8_t allocationLength,
               uint8_t control);
  bool GetEventStatus(uint8_t polled, uint8_t classRequest, uint16_t allocationLength,
                      uint8_t control);
  bool StartStopUnit(uint8_t immed, uint8_t powerCondition, uint8_t loadEject, uint8_t start);
  // DF 11, 128 bytes in; true only when good and at least one byte is non-zero.
  bool ReadFlashId();
  // With `expected` (length bytes) for a read-back: see SendCommand's complementOf.
  bool ReadBuffer(uint32_t offset, uint32_t length, const uint8_t* expected = nullptr);
  // Control 80h or A0h sends no data and a transfer length of 0.
  bool WriteBuffer(uint32_t offset, uint32_t length, uint8_t control);
  bool TrayIn();
  bool TrayOut();
  bool StopDisc();
  bool IsTrayOpen();
  bool IsDiscAbsent();
  // Waits while the drive reports becoming ready or a unit attention, polling every 300 ms.
  // A limit of 0 or less waits without limit. False when the limit ran out.
  bool WaitReady(int limitSeconds);
  // Sends TEST UNIT READY until it answers anything but UNIT ATTENTION, at most 16 times.
  // False when the unit attention never cleared: the drive is then treated as not answering.
  bool ClearUnitAttention();
  bool SenseIs(uint8_t key, uint8_t asc) const;
  bool SenseKeyIs(uint8_t key) const;

  // ---- Firmware download ----
  // Prepares the drive, sends its part block, writes and verifies the image, reads it all back
  // once more and sends the final program command; a failed attempt starts over from the
  // preparation, three attempts in all. Refuses, sending nothing, an image size that is
  // not a positive whole number of 16,384-byte blocks, and a drive that may not receive this
  // build's part blocks (PartBlocksAllowedFor).
  bool DownloadFirmware(const uint8_t* image, int32_t sizeBytes, uint8_t bootCode);
  // Reads the flash part identity and sends the part block it needs; true when one was sent and
  // the drive accepted it.
  bool SendPartBlock();
  // Writes and reads back the image block by block, up to three times from block 0.
  bool WriteAndVerify(const uint8_t* image, int32_t sizeBytes);
  // The diagnostic line of the last read-back mismatch; empty when none.
  const std::string& LastMismatch() const { return lastMismatch; }
  // The last download failed after the drive may have acted on the program command: it may have
  // been updated, and only what it reports after a restart tells.
  bool ProgramUnconfirmed() const { return programUnconfirmed; }

  // Outcome of the last download on this engine: 0 success, 42 failure. Written by the
  // worker, read by the window after the worker's completion.
  uint8_t FlashResult = 0;

 private:
  friend class AtapiDeviceTestAccess;

  bool SendPassThrough(const uint8_t* cdb, DataDirection direction, uint32_t lengthBytes,
                       Transfer transfer, const uint8_t* complementOf);
  bool SendAspi(const uint8_t* cdb, DataDirection direction, uint32_t lengthBytes,
                Transfer transfer, const uint8_t* complementOf);
  void PrepareInBuffer(DataDirection direction, uint32_t lengthBytes, const uint8_t* complementOf);
  // Records a command that was not sent as failed; refused says why (see lastRefused).
  bool FailUnsent(const uint8_t* cdb, bool refused);
  // Fills lastCdb, the times and the sense triple after one attempt.
  void RecordCommand(const uint8_t* cdb, const SenseTriple& sense, bool stillPending);
  // Sets lastOutcome and lastTransferLength from one attempt's verdict; true when good.
  bool Judge(bool good, const SenseTriple& sense, uint32_t transferredBytes);
  void ChooseTransport();
  // Gives the engine new zeroed in- and out-buffers (the old ones already freed or handed over).
  void AllocateBuffers();
  // Frees the buffers, unloads the manager and closes the drive: the destructor's work.
  void Release();
  void ScanAspi();
  void ScanDriveLetters();
  int16_t CountOpticalLetters();
  void SortDevices();
  bool ReadInquiry();
  void FillIdentity(DeviceEntry& entry) const;

  enum class ProgramOutcome : uint8_t { Programmed, StartOver, Failed };
  // OtherPart: the drive named another flash part than an earlier attempt found.
  enum class PrepareOutcome : uint8_t { Ready, StartOver, OtherPart };
  static constexpr int kNoPartBlock = -1;
  static constexpr int kFlashPartUnread = -2;
  // Readiness, stop, then the part block the drive's flash part needs. `part` is the table entry
  // an earlier attempt found (kNoPartBlock before), and is set when this one finds one.
  PrepareOutcome Prepare(int& part);
  // The drive's flash part as a table entry; kNoPartBlock when the drive answered with an
  // identity not in the table (zeros included) or refused the command as not supported,
  // kFlashPartUnread when the read failed otherwise.
  int IdentifyFlashPart();
  bool WritePartBlock(int entry);
  bool WriteAndVerifyPass(const uint8_t* image, uint32_t blocks);
  // Reads the whole image back once more, ending with a block that padding cannot match.
  bool VerifyPass(const uint8_t* image, uint32_t blocks);
  // Reads back the block at offset and compares it with `expected`.
  bool ReadBack(uint32_t offset, const uint8_t* expected);
  ProgramOutcome Program(uint8_t control, const uint8_t* image, uint32_t blocks);
  // The program command, never re-sent by the transport.
  bool SendProgram(uint8_t control);

  HiTimer waitTimer;
  HiTimer commandTimer;
  PassThroughRequest passThroughRequest{};
  std::unique_ptr<AspiRequestBlock> aspiRequest;  // made on the first ASPI command
  GetAspiSupportInfoFn getSupportInfo = nullptr;
  SendAspiCommandFn sendAspiCommand = nullptr;
  uint16_t deviceCount = 0;
  Module aspiModule = nullptr;
  int16_t currentIndex = kNotAddressed;
  char currentVendor[9] = {};
  char currentProduct[17] = {};
  char currentRevision[5] = {};
  char currentVendorSpecific[17] = {};
  DeviceEntry deviceList[kMaxDevices] = {};
  uint32_t timeoutSeconds = kDefaultTimeoutSeconds;
  int16_t currentAdapter = -1;
  int16_t currentTarget = -1;
  int16_t currentLun = -1;
  int16_t currentPath = -1;
  Handle driveHandle = kInvalidHandle;
  uint8_t* inBuffer = nullptr;
  uint8_t* outBuffer = nullptr;
  OSInfo osInfo;
  bool useAspi = false;
  bool aspiAvailable = false;
  bool retryFlag = false;
  LastCommandRecord last;
  std::string lastMismatch;
  bool programUnconfirmed = false;
};

}  // namespace quorel
