// A simulated TARN-EX DVD writer: it executes the 12-byte CDBs the program sends, keeps a
// drive buffer, programs what the buffer holds on the final WRITE BUFFER, records every command
// and injects faults on demand. The host tests' simulated machine and the test ASPI manager DLL
// both drive it. Portable C++, no platform calls.
//
// Demo image convention: an image that begins with the 12 characters "QUOREL DEMO " carries at
// bytes 12-15 the 4-character revision it installs; programming such an image changes the
// drive's INQUIRY revision to it. Any other image leaves the revision as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "flash/part_table.h"

namespace quorel::sim {

constexpr char kDemoImageMagic[] = "QUOREL DEMO ";  // 12 characters
constexpr int kDemoRevisionOffset = 12;

// Busy: SCSI status 08h, no sense. Other: CommandResult::otherStatus, with sense where it reads
// as CHECK CONDITION (bit 0 is reserved).
enum class Status { Good, CheckCondition, TransportFailure, Busy, Other };

// How a CHECK CONDITION's sense reaches the host: fixed (70h), descriptor (72h), or not at all.
enum class SenseFormat { Fixed, Descriptor, None };

struct CommandResult {
  Status status = Status::Good;
  uint8_t senseKey = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  SenseFormat senseFormat = SenseFormat::Fixed;
  uint8_t otherStatus = 0;    // the status byte of Status::Other
  uint32_t transferred = 0;   // bytes actually moved
  double delaySeconds = 0.0;  // how long the command took on the drive
};

// Writes sense data as it reaches the host into area: fixed format (70h), descriptor format
// (72h) or, for SenseFormat::None, nothing.
void WriteSense(uint8_t* area, size_t areaBytes, uint8_t key, uint8_t asc, uint8_t ascq,
                SenseFormat format);

// One executed command, as the drive received it.
struct RecordedCommand {
  uint8_t cdb[12] = {};
  int direction = 2;      // 0 out, 1 in, 2 none
  uint32_t length = 0;    // transfer length asked for
  uint64_t dataHash = 0;  // FNV-1a 64 of the bytes sent (data out), else 0
};

uint64_t Fnv1a64(const uint8_t* data, size_t length);

// A WRITE BUFFER that carries a part block: control 7Fh, or control 00h at 80000h with less than
// an image block (an image block may also start at 80000h).
bool IsPartBlockWrite(const uint8_t* cdb);

struct Identity {
  std::string vendor = "TARN-EX ";           // 8
  std::string product = "DVDRW QVX-270T  ";  // 16
  std::string revision = "KM01";             // 4
  // 16; the marker makes a build with placeholder part blocks write to this drive. A real
  // drive answers something else here, such as a date.
  std::string vendorSpecific = kSimulatedDriveMarker;
};

// A fault on commands with a given operation code (0x100 matches every command).
struct Fault {
  int opcode = 0x100;
  int skip = 0;   // matching commands to let through first
  int count = 1;  // matching commands to affect afterwards; -1 for all
};

// True when the fault affects this command; counts the command against its skip and count.
bool Matches(Fault& fault, uint8_t opcode);

class SimDrive {
 public:
  SimDrive();

  // Executes one command. data is the host buffer of the transfer: read for direction 0,
  // written for direction 1; length is the transfer length asked for. A data-in command sent
  // with another direction, or a WRITE BUFFER whose data is shorter than its CDB announces,
  // fails in the transport as it would on a real adapter.
  CommandResult Execute(const uint8_t* cdb, int direction, uint8_t* data, uint32_t length);

  // ---- Configuration ----
  Identity identity;
  uint8_t flashId[128] = {0xBF, 0xD8, 0x00, 0x05};  // first four bytes: the part identity
  bool discPresent = false;
  bool trayOpen = false;
  bool trayLocked = false;            // TrayOut leaves the tray in and answers 5/53/02
  int becomingReadyPolls = 0;         // TEST UNIT READY answers 2/04/01 this many times first
  double becomingReadySeconds = 0.0;  // ... or for this long after the first command, by clock
  std::function<double()> clock;      // the machine's time in seconds; set by whoever hosts it
  // One pending 6/29/00, reported by the next command other than INQUIRY and GET EVENT STATUS
  // NOTIFICATION (TEST UNIT READY included).
  bool unitAttention = false;
  // GET EVENT STATUS NOTIFICATION reports a pending unit attention too, as the Linux kernel's
  // media poll expects of some drives (it then takes it as a media change).
  bool eventStatusReportsAttention = false;
  bool rejectEventStatus = false;  // GET EVENT STATUS NOTIFICATION answers 5/20/00
  bool vanished = false;           // every command fails in the transport
  double latencySeconds = 0.0;     // added to every command's delay

  // ---- Faults ----
  struct SenseFault : Fault {
    uint8_t key = 4, asc = 0x44, ascq = 0;
    SenseFormat format = SenseFormat::Fixed;
  };
  std::vector<SenseFault> senseFaults;
  std::vector<Fault> transportFaults;
  std::vector<Fault> busyFaults;  // answered BUSY without executing
  // The command runs, but only `bytes` of its data move: a data-in answer is cut there, a
  // data-out is reported as taken only that far.
  struct ShortFault : Fault {
    uint32_t bytes = 0;
  };
  std::vector<ShortFault> shortFaults;
  struct SlowFault : Fault {
    double seconds = 200000.0;
  };
  std::vector<SlowFault> slowFaults;
  // READ BUFFER of block `block` (16 KiB, by offset) returns one wrong byte on the first
  // `attempts` reads of that block.
  struct ReadBackFault {
    int block = 0;
    int attempts = 1;
    int position = 0;  // byte within the block
  };
  std::vector<ReadBackFault> readBackFaults;
  // A reset (a power dip, a bridge that re-enumerates, a bus reset): right after a matching
  // command has run, the drive loses its buffer and its part block and raises one unit
  // attention. With takenBySystem, the system's own media poll takes that unit attention before
  // the program can see it. With idleSeconds, the reset comes instead during a pause of at
  // least that long between two commands (a settle wait, a readiness poll's sleep), before the
  // matching command that ends the pause runs; skip and count then count such pauses.
  struct ResetFault : Fault {
    bool takenBySystem = false;
    double idleSeconds = 0.0;
  };
  std::vector<ResetFault> resetFaults;
  // Sees every answer last, data included, and may change it: a fuzzer's perturbations and
  // bookkeeping. Runs under the machine's lock.
  std::function<void(const uint8_t* cdb, int direction, uint8_t* data, uint32_t length,
                     CommandResult& result)>
      onAnswer;

  // ---- What the drive received ----
  std::vector<RecordedCommand> log;
  std::vector<uint8_t> buffer;  // the drive buffer, written by WRITE BUFFER
  // The last part block received: control 7Fh, or control 00h at offset 80000h with fewer than
  // 16 KiB (a 16 KiB write there is image block 32). Part blocks never reach `buffer`.
  std::vector<uint8_t> partBlock;
  uint32_t partBlockOffset = 0;
  uint8_t partBlockControl = 0;
  int programCount = 0;                      // final program commands executed
  uint8_t lastProgramControl = 0;            // 80h or A0h
  std::vector<uint8_t> programmed;           // the image as last programmed (buffer 0 .. highest
                                             // image offset written)
  std::vector<uint8_t> programmedPartBlock;  // the part block held when last programmed
  int resets = 0;                            // resets that happened
  // The last program command came in one of the two windows no host can close, a reset whose
  // unit attention the system took: right before that command (the buffer may hold anything),
  // or right after the part block and not followed by another (the image is whole, the part
  // block gone).
  bool programmedRightAfterReset = false;
  bool programmedAfterPartBlockReset = false;

  // Clears the log and what was received; keeps the configuration.
  void ResetRecord();

 private:
  CommandResult Sense(uint8_t key, uint8_t asc, uint8_t ascq);
  CommandResult Faulted(uint8_t opcode);
  CommandResult Dispatch(const uint8_t* cdb, int direction, uint8_t* data, uint32_t length);
  CommandResult TestUnitReady();
  CommandResult Inquiry(const uint8_t* cdb, uint8_t* data, uint32_t length);
  CommandResult StartStopUnit(const uint8_t* cdb);
  CommandResult GetEventStatus(const uint8_t* cdb, uint8_t* data, uint32_t length);
  CommandResult ReadBuffer(const uint8_t* cdb, uint8_t* data, uint32_t length);
  CommandResult WriteBuffer(const uint8_t* cdb, int direction, uint8_t* data, uint32_t length);
  CommandResult Program(uint8_t control);

  // afterPartBlock: the last command before the reset wrote a part block.
  void Reset(bool takenBySystem, bool afterPartBlock);

  int readyPollsSeen_ = 0;
  double firstCommandAt_ = -1.0;
  double lastEndAt_ = -1.0;  // when the last command ended, by clock
  int commandsSinceReset_ = -1;
  bool resetBySystem_ = false;
  bool lastCommandPartBlock_ = false;
  bool resetAfterPartBlock_ = false;
  uint32_t imageHighWater_ = 0;
  std::vector<int> readBackCount_;
};

}  // namespace quorel::sim
