// A simulated Windows machine: the host binding of the platform seam. A test configures it
// (the Windows family, drive letters, devices behind \\.\X:, an ASPI manager, privileges),
// runs the code under test and asserts on what it recorded. Its performance counter is
// virtual: it advances when the code reads it or sleeps, so long waits run in microseconds.
//
// Constructing a SimMachine installs it as the platform binding and installs a HostDispatcher
// as the window-thread dispatcher; destroying it uninstalls both (reinstalling a machine built
// before it, if any). Use one machine at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/host_dispatcher.h"
#include "platform/platform.h"
#include "platform/scsi_structs.h"
#include "platform/threads.h"
#include "sim/sim_drive.h"

namespace quorel::sim {

using quorel::HostDispatcher;

// How the SCSI address query of one drive letter answers.
enum class AddressQuery { Answer, Fail, ZeroLength };

// One drive letter of the machine.
struct LetterConfig {
  char letter = 'E';
  uint32_t driveType = 5;  // DRIVE_CDROM
  bool openable = true;
  AddressQuery addressQuery = AddressQuery::Answer;
  uint8_t port = 1, pathId = 0, targetId = 0, lun = 0;  // the SCSI address answered
  std::shared_ptr<SimDrive> drive;                      // the device behind \\.\X:, if any
  bool fileSystemMounted = false;  // a lock for exclusive access must ignore the volume
  // As for a caller without raw I/O rights on Linux: WRITE BUFFER and vendor-specific commands
  // are refused with access denied before they reach the drive.
  bool restrictedCommands = false;
};

// One device an ASPI manager reports.
struct AspiDeviceConfig {
  uint8_t adapter = 0, target = 0, lun = 0;
  uint8_t deviceType = 5;  // DTYPE_CDROM
  std::shared_ptr<SimDrive> drive;
};

struct AspiConfig {
  bool present = false;  // WNASPI32.DLL loads from the system directory
  bool hasGetSupportInfo = true;
  bool hasSendCommand = true;
  uint8_t status = 1;  // bits 8-15 of GetASPI32SupportInfo (SS_COMP when usable)
  int adapterCount = 1;
  bool haInquiryFails = false;         // every SC_HA_INQUIRY answers an error status
  int haInquiryFailsFromAdapter = -1;  // SC_HA_INQUIRY for this adapter and later ones fails
  std::vector<AspiDeviceConfig> devices;
  bool eventsUnavailable = false;   // CreateEventA fails
  bool execNeverCompletes = false;  // SC_EXEC_SCSI_CMD requests stay SS_PENDING until aborted
  bool abortIgnored = false;        // SC_ABORT_SRB leaves a pending request pending
};

// One recorded platform call: its name and a short text of its arguments.
struct Call {
  std::string name;
  std::string args;
};

class SimMachine : public Platform {
 public:
  SimMachine();
  ~SimMachine() override;

  // ---- Configuration ----
  uint32_t platformId = 2;            // VER_PLATFORM_WIN32_NT; 1 for the 9x family
  std::vector<LetterConfig> letters;  // in the order the system lists them
  bool letterListFails = false;       // GetLogicalDriveStringsA answers 0
  bool heapUnavailable = false;       // GetProcessHeap/HeapAlloc fail
  AspiConfig aspi;
  bool counterAvailable = true;  // QueryPerformanceFrequency succeeds
  int64_t counterFrequency = 10'000'000;
  int64_t ticksPerCounterRead = 10;  // the virtual counter advances this much on every read
  bool openTokenFails = false;
  uint32_t adjustPrivilegeError = 0;  // GetLastError after AdjustTokenPrivileges
  bool exitWindowsResult = true;
  bool exclusiveAccessSupported = true;  // IOCTL_CDROM_EXCLUSIVE_ACCESS known (Vista and later)
  // Answers for MessageBoxA, in order (IDOK when exhausted).
  std::deque<int> messageBoxAnswers;

  // Convenience: a drive at letter E: (pass-through) or through ASPI, returned for faults.
  std::shared_ptr<SimDrive> AddLetterDrive(char letter, uint8_t port, uint8_t target = 0,
                                           uint8_t lun = 0, uint8_t pathId = 0);
  std::shared_ptr<SimDrive> AddAspiDrive(uint8_t adapter, uint8_t target, uint8_t lun = 0);

  // ---- What happened ----
  // Every platform call, in order. Performance-counter reads are only counted (CountCalls), not
  // listed, and a run of consecutive ProcessMessages calls is one entry whose args is the count.
  std::vector<Call> Calls() const;
  int CountCalls(const std::string& name) const;
  void ClearCalls();
  struct ShownMessage {
    std::string text, caption;
    uint32_t type;
  };
  std::vector<ShownMessage> messageBoxes;
  int openHandles() const;  // handles opened and not yet closed
  // The caller name of the exclusive access held on a drive letter; empty when none is held.
  std::string ExclusiveCaller(char letter) const;
  double NowSeconds() const;  // the virtual clock
  void AdvanceSeconds(double seconds);
  HostDispatcher& dispatcher() { return dispatcher_; }
  int loadedModules() const;   // ASPI manager loads not yet released
  int liveHeapBlocks() const;  // process-heap blocks allocated and not yet freed
  // Calls through an ASPI entry point while no manager module was loaded.
  int aspiCallsWithoutModule() const;
  // ASPI requests the manager still holds (pending), and requests sent in a block it still held.
  // A request outliving its wait ends on a later call of its sender's thread once its time has
  // come, or when the machine goes.
  int aspiRequestsPending() const;
  int aspiRequestsResentWhileHeld() const;
  // Every name LoadLibraryA was asked for, in order.
  std::vector<std::string> LibraryRequests() const;
  // The only path from which the ASPI manager loads: "<system directory>\\WNASPI32.DLL".
  static std::string AspiLibraryPath();

  // ---- The ASPI manager's entry points (reached through GetProcAddress's functions) ----
  uint32_t AspiGetSupportInfo();
  uint32_t AspiSendCommand(void* srb);

  // ---- Platform ----
  Module LoadLibraryA(const char* name) override;
  void* GetProcAddress(Module module, const char* name) override;
  bool FreeLibrary(Module module) override;
  bool GetSystemDirectoryA(char* buffer, uint32_t sizeBytes) override;
  Handle CreateFileA(const char* path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t flags) override;
  bool DeviceIoControl(Handle device, uint32_t code, void* in, uint32_t inBytes, void* out,
                       uint32_t outBytes, uint32_t* returnedBytes) override;
  bool CloseHandle(Handle handle) override;
  uint32_t GetLogicalDriveStringsA(uint32_t bufferBytes, char* buffer) override;
  uint32_t GetDriveTypeA(const char* rootPath) override;
  Handle GetProcessHeap() override;
  void* HeapAlloc(Handle heap, uint32_t flags, uint32_t bytes) override;
  bool HeapFree(Handle heap, void* memory) override;
  Handle CreateEventA(bool manualReset, bool initialState) override;
  uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) override;
  void Sleep(uint32_t milliseconds) override;
  bool QueryPerformanceFrequency(int64_t* ticksPerSecond) override;
  bool QueryPerformanceCounter(int64_t* ticks) override;
  int MessageBoxA(const char* text, const char* caption, uint32_t type) override;
  void ProcessMessages() override;
  void OutputDebugStringA(const char* text) override;
  int CompareStringA(const char* a, int lengthA, const char* b, int lengthB) override;
  bool GetVersionExA(OsVersion* version) override;
  Handle GetCurrentProcess() override;
  bool OpenProcessToken(Handle process, uint32_t access, Handle* token) override;
  bool LookupPrivilegeValueA(const char* systemName, const char* name, uint64_t* luid) override;
  bool AdjustTokenPrivileges(Handle token, uint64_t luid, uint32_t attributes) override;
  uint32_t GetLastError() override;
  bool ExitWindowsEx(uint32_t flags, uint32_t reserved) override;

 private:
  // Implementation state is the implementer's; kept behind a pointer so that tests recompile
  // less.
  struct State;
  struct AspiSide;  // the machine as the host of the simulated ASPI manager
  // Helpers below expect the state's mutex held.
  void Record(const std::string& name, const std::string& args);
  CommandResult RunDrive(SimDrive& drive, const uint8_t* cdb, int direction, uint8_t* data,
                         uint32_t length);
  bool PassThrough(LetterConfig& letter, void* in, uint32_t inBytes, void* out, uint32_t outBytes,
                   uint32_t* returnedBytes);
  Handle NewHandle(int kind, int letterIndex);
  bool ExclusiveAccess(uintptr_t handle, int letterIndex, void* in, uint32_t inBytes, void* out,
                       uint32_t outBytes, uint32_t* returnedBytes);

  std::unique_ptr<State> state_;
  HostDispatcher dispatcher_;
};

// The part block a drive's flash part needs, as the program composes it: the table entry's header,
// then the active part blocks' data, padded to the transfer length. Empty when the drive's
// identity is not in the table. (Here, not in sim_drive: the test ASPI manager builds the drive
// without the core.)
std::vector<uint8_t> NeededPartBlock(const SimDrive& drive);

}  // namespace quorel::sim
