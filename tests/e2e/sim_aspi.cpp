// A test ASPI for Win32 manager (WNASPI32.DLL) whose devices are simulated drives.
//
// Environment:
//   QUOREL_SIM_SCENARIO  the scenario file (scenario.h); a path beginning with "/" is a Unix path
//   QUOREL_SIM_LOG       the log file; every line is appended and flushed at once:
//     LOAD pid=... scenario=... drives=N adapters=N status=XX
//     SUPPORT status=XX adapters=N
//     DEVICE addr=A:T:L type=N              (each device discovery found)
//     EXEC t=MS tid=N addr=A:T:L drive=N cdb=HEX cdblen=N dir=in|out|none len=N
//          hash=FNV1A64 head=HEX status=good|check|transport|nodevice sense=K/AS/AQ xfer=N
//     PROGRAM ... (scenario.h, ProgramLine)
//     ERROR text
//   Beside the log: LOG.drive<N>.bin, the image each drive programmed last, and LOG.state, the
//   drives' revision, disc and tray, read back by the next process of the same scenario.
//
// Commands run synchronously inside SendASPI32Command, one at a time per drive; different
// drives run at the same time. The answers come from the simulated ASPI manager of the host
// tests (sim/aspi_manager.h).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/scsi_structs.h"
#include "sim/aspi_manager.h"
#include "sim/log_text.h"
#include "sim/scenario.h"

using quorel::SRB_ExecSCSICmd;
using quorel::e2e::DriveSpec;
using quorel::e2e::Scenario;
namespace sim = quorel::sim;
using quorel::e2e::Format;
using quorel::e2e::Hex;

namespace {

constexpr double kLongestDelaySeconds = 300.0;  // a slow command is cut to this

class Lock {
 public:
  explicit Lock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~Lock() { LeaveCriticalSection(&section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path = "Z:" + path;
  }
  return path;
}

std::string Environment(const char* name) {
  char value[2048];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return (length > 0 && length < sizeof value) ? std::string(value, length) : std::string();
}

bool ReadFile(const std::string& path, std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  text.clear();
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  return true;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t bytes) {
  std::string temporary = path + ".tmp";
  HANDLE file =
      CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok =
      ::WriteFile(file, data, static_cast<DWORD>(bytes), &written, nullptr) && written == bytes;
  CloseHandle(file);
  return ok && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

struct Drive {
  int number = 0;
  DriveSpec spec;
  CRITICAL_SECTION lock;
  int commands = 0;
  int programCount = 0;
  std::string stateText;  // what the state file holds for this drive; guarded by stateLock_
  Drive() { InitializeCriticalSection(&lock); }
  ~Drive() { DeleteCriticalSection(&lock); }
  Drive(const Drive&) = delete;
  Drive& operator=(const Drive&) = delete;
  std::string Address() const { return Format("%d:%d:%d", spec.adapter, spec.target, spec.lun); }
};

// The DLL as the host of the simulated ASPI manager, whose request handling it shares with the
// host tests' simulated machine.
class Manager : public sim::AspiHost {
 public:
  Manager() {
    InitializeCriticalSection(&logLock_);
    InitializeCriticalSection(&stateLock_);
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
    logPath_ = WindowsPath(Environment("QUOREL_SIM_LOG"));
    if (!logPath_.empty()) statePath_ = logPath_ + ".state";
    Load();
  }
  ~Manager() {
    DeleteCriticalSection(&stateLock_);
    DeleteCriticalSection(&logLock_);
  }
  Manager(const Manager&) = delete;
  Manager& operator=(const Manager&) = delete;

  uint32_t SupportInfo() {
    int status = loaded_ ? scenario_.managerStatus : quorel::SS_NO_ASPI;
    int adapters = loaded_ ? scenario_.AdapterCount() : 0;
    Log(Format("SUPPORT status=%02X adapters=%d", status, adapters));
    return (static_cast<uint32_t>(status) << 8) | static_cast<uint32_t>(adapters & 0xFF);
  }

  uint32_t Send(void* request) { return requests_.Send(request); }

  int AdapterCount() override { return loaded_ ? scenario_.AdapterCount() : 0; }

  int DeviceType(int adapter, int target, int lun) override {
    Drive* drive = Find(adapter, target, lun);
    if (drive == nullptr) return -1;
    Lock hold(drive->lock);
    if (Vanished(*drive)) return -1;
    Log(Format("DEVICE addr=%s type=%d", drive->Address().c_str(), drive->spec.deviceType));
    return drive->spec.deviceType;
  }

  // Runs the command and lets its time pass (up to kLongestDelaySeconds) before answering.
  bool Run(const SRB_ExecSCSICmd& srb, const uint8_t* cdb, int direction, uint8_t* data,
           uint32_t length, sim::CommandResult& result) override {
    double started = Seconds();
    uint64_t hash = direction == 0 && data ? sim::Fnv1a64(data, length) : 0;
    std::string head = direction == 0 && data ? Hex(data, std::min<uint32_t>(length, 16)) : "-";
    Drive* drive = Find(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
    std::string status = "nodevice";
    result.status = sim::Status::TransportFailure;
    if (drive) {
      Lock hold(drive->lock);
      sim::SimDrive& sd = drive->spec.drive;
      if (Vanished(*drive)) sd.vanished = true;
      ++drive->commands;
      result = sd.Execute(cdb, direction, data, length);
      if (drive->spec.removeDiscOnEject && sd.trayOpen) sd.discPresent = false;
      double delay = std::min(result.delaySeconds, kLongestDelaySeconds);
      if (delay > 0) Sleep(static_cast<DWORD>(delay * 1000.0));
      status = result.status == sim::Status::Good             ? "good"
               : result.status == sim::Status::CheckCondition ? "check"
                                                              : "transport";
      AfterCommand(*drive);
    }
    Log(
        Format("EXEC t=%.0f tid=%lu addr=%d:%d:%d drive=%d cdb=%s cdblen=%d dir=%s len=%lu "
               "hash=%016llx head=%s status=%s sense=%X/%02X/%02X xfer=%lu",
               started * 1000.0, GetCurrentThreadId(), srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun,
               drive ? drive->number : 0, Hex(cdb, 12).c_str(), srb.SRB_CDBLen,
               direction == 0   ? "out"
               : direction == 1 ? "in"
                                : "none",
               static_cast<unsigned long>(srb.SRB_BufLen), static_cast<unsigned long long>(hash),
               head.c_str(), status.c_str(), result.senseKey, result.asc, result.ascq,
               static_cast<unsigned long>(result.transferred)));
    return drive != nullptr;
  }

  double Now() override { return Seconds(); }

  void Post(SRB_ExecSCSICmd* srb, uint8_t flags, void* postProc) override {
    if (flags & quorel::SRB_EVENT_NOTIFY) {
      if (postProc) SetEvent(static_cast<HANDLE>(postProc));
    } else if ((flags & quorel::SRB_POSTING) && postProc) {
      reinterpret_cast<void(__cdecl*)(SRB_ExecSCSICmd*)>(postProc)(srb);
    }
  }

 private:
  void Load() {
    std::string scenarioPath = WindowsPath(Environment("QUOREL_SIM_SCENARIO"));
    std::string text, error;
    if (scenarioPath.empty()) {
      Log("ERROR QUOREL_SIM_SCENARIO is not set");
      return;
    }
    if (!ReadFile(scenarioPath, text)) {
      Log("ERROR cannot read " + scenarioPath);
      return;
    }
    if (!quorel::e2e::ParseScenario(text, scenario_, error)) {
      Log("ERROR " + scenarioPath + ": " + error);
      return;
    }
    std::string state;
    if (!statePath_.empty() && ReadFile(statePath_, state) &&
        !quorel::e2e::ParseScenario(state, scenario_, error)) {
      Log("ERROR " + statePath_ + ": " + error);
      return;
    }
    for (auto& [number, spec] : scenario_.drives) {
      auto drive = std::make_unique<Drive>();
      drive->number = number;
      drive->spec = spec;
      drive->spec.drive.latencySeconds += spec.latencyMs / 1000.0;
      drive->spec.drive.clock = [this] { return Seconds(); };
      drive->stateText = quorel::e2e::DriveState(number, drive->spec);
      drives_.push_back(std::move(drive));
    }
    loaded_ = true;
    Log(Format("LOAD pid=%lu scenario=%s drives=%u adapters=%d status=%02X", GetCurrentProcessId(),
               scenarioPath.c_str(), static_cast<unsigned>(drives_.size()),
               scenario_.AdapterCount(), scenario_.managerStatus));
  }

  double Seconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start_.QuadPart) /
           static_cast<double>(frequency_.QuadPart);
  }

  void Log(const std::string& line) {
    Lock hold(logLock_);
    if (logPath_.empty()) return;
    HANDLE file = CreateFileA(logPath_.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::string text = line + "\n";
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
  }

  Drive* Find(int adapter, int target, int lun) {
    for (auto& drive : drives_) {
      const DriveSpec& s = drive->spec;
      if (s.adapter == adapter && s.target == target && s.lun == lun) return drive.get();
    }
    return nullptr;
  }

  bool Vanished(const Drive& drive) const {
    return drive.spec.vanishAfter >= 0 && drive.commands >= drive.spec.vanishAfter;
  }

  // Keeps the image files and the state file up to date; called with the drive's lock held.
  void AfterCommand(Drive& drive) {
    const sim::SimDrive& sd = drive.spec.drive;
    if (sd.programCount != drive.programCount) {
      drive.programCount = sd.programCount;
      if (!logPath_.empty()) {
        std::string imagePath = logPath_ + Format(".drive%d.bin", drive.number);
        if (!WriteWholeFile(imagePath, sd.programmed.data(), sd.programmed.size()))
          Log("ERROR cannot write " + imagePath);
      }
      Log(quorel::e2e::ProgramLine(drive.number, drive.Address(), sd));
    }
    std::string state = quorel::e2e::DriveState(drive.number, drive.spec);
    Lock hold(stateLock_);
    if (state == drive.stateText) return;
    drive.stateText = state;
    if (statePath_.empty()) return;
    std::string text;
    for (auto& each : drives_) text += each->stateText;
    WriteWholeFile(statePath_, text.data(), text.size());
  }

  CRITICAL_SECTION logLock_;
  CRITICAL_SECTION stateLock_;
  LARGE_INTEGER frequency_{}, start_{};
  std::string logPath_, statePath_;
  bool loaded_ = false;
  Scenario scenario_;
  std::vector<std::unique_ptr<Drive>> drives_;
  sim::AspiManager requests_{*this};
};

Manager& TheManager() {
  static Manager manager;  // thread-safe first use
  return manager;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo() {
  return TheManager().SupportInfo();
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* request) {
  return TheManager().Send(request);
}

}  // extern "C"
