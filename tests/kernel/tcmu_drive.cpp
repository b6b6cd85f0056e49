// Simulated drives behind the kernel's SCSI target: serves the TCMU devices of a guest from their
// UIO command rings, each device one simulated drive of a scenario file (tests/sim/scenario.h).
//
//   quorel-tcmu-drive SCENARIO LOG READY   serves every TCMU device whose configuration string
//                                          is "quorel/N" as [driveN] of SCENARIO; writes READY
//                                          once all rings are mapped and looked at, so that the
//                                          LUNs may be linked then
//   quorel-tcmu-drive --fnv1a FILE BYTES   the FNV-1a 64 hash of each BYTES-long block of FILE
//
// LOG gets the lines of the test ASPI manager (tests/e2e/sim_aspi.cpp), so that the end-to-end
// checks read both: LOAD, DEVICE, EXEC (tid=- : the ring does not say who sent a command; cdblen
// is the length the kernel passed), PROGRAM and ERROR, plus "MARK t=MS" on SIGUSR1, which the
// runner sends right before the program starts: the kernel's own commands come before it and,
// on each open and close of the device, after it. Beside LOG: LOG.drive<N>.bin, the image each
// drive programmed last, and LOG.state, the drives' state (DriveState).
//
// One thread per device; commands of one device run one at a time, each taking the simulated
// drive's delay. SIGTERM ends the program.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/log_text.h"
#include "sim/scenario.h"
#include "tcmu_ring.h"

namespace fs = std::filesystem;
namespace sim = quorel::sim;
using quorel::e2e::DriveSpec;
using quorel::e2e::Format;
using quorel::e2e::Hex;

namespace {

constexpr double kLongestDelaySeconds = 300.0;  // a slow command is cut to this
constexpr char kConfigPrefix[] = "quorel/";

bool ReadText(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return true;
}

// Replaces the file as a whole, so that a reader never sees half of it.
bool WriteWholeFile(const std::string& path, const void* data, size_t bytes) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes)))
      return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

// The CDB length of an operation code, as the kernel computes it (scsi_command_size): the ring
// carries only that many bytes.
size_t CdbLength(uint8_t opcode) {
  static const size_t byGroup[8] = {6, 10, 10, 12, 16, 12, 10, 10};
  return opcode == 0x7F ? 8 : byGroup[opcode >> 5];
}

// The ring carries no data direction: like a real drive, the simulated one knows it from the
// command. Data-out are the writes and mode selects; every other command with data is data-in.
int DirectionOf(uint8_t opcode, uint32_t lengthBytes) {
  if (lengthBytes == 0) return 2;
  switch (opcode) {
    case 0x0A:  // WRITE(6)
    case 0x15:  // MODE SELECT(6)
    case 0x2A:  // WRITE(10)
    case 0x3B:  // WRITE BUFFER
    case 0x55:  // MODE SELECT(10)
    case 0xAA:  // WRITE(12)
      return 0;
    default:
      return 1;
  }
}

class Log {
 public:
  explicit Log(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  ~Log() {
    if (fd_ >= 0) ::close(fd_);
  }
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  bool Open() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // One line, appended in one write: lines of different threads never mix.
  void Line(const std::string& text) {
    std::string line = text + "\n";
    std::lock_guard<std::mutex> hold(lock_);
    if (fd_ >= 0 && ::write(fd_, line.data(), line.size()) < 0) return;
  }

  double Milliseconds() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
        .count();
  }

 private:
  std::string path_;
  int fd_ = -1;
  std::mutex lock_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The drives' state file, rewritten whenever one drive's state changes.
class StateFile {
 public:
  StateFile(const std::string& path, size_t drives) : path_(path), texts_(drives) {}
  void Set(size_t index, const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    if (texts_[index] == text) return;
    texts_[index] = text;
    std::string all;
    for (const std::string& each : texts_) all += each;
    WriteWholeFile(path_, all.data(), all.size());
  }

 private:
  std::string path_;
  std::vector<std::string> texts_;
  std::mutex lock_;
};

// One TCMU device: its UIO ring and the simulated drive it plays.
class Device {
 public:
  Device(int number, const DriveSpec& spec, size_t index, Log& log, StateFile& state)
      : number_(number), spec_(spec), index_(index), log_(log), state_(state) {
    spec_.drive.latencySeconds += spec_.latencyMs / 1000.0;
    spec_.drive.clock = [this] { return log_.Milliseconds() / 1000.0; };
  }
  ~Device() {
    if (map_ != MAP_FAILED) ::munmap(map_, mapBytes_);
    if (fd_ >= 0) ::close(fd_);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Maps the ring of /dev/<uio> and serves what is queued already (a command queued before the
  // device was opened raises no event of its own).
  bool Open(const std::string& uio, std::string& error) {
    std::string sizeText;
    if (!ReadText("/sys/class/uio/" + uio + "/maps/map0/size", sizeText))
      return error = "no map size for " + uio, false;
    mapBytes_ = std::stoull(sizeText, nullptr, 0);
    fd_ = ::open(("/dev/" + uio).c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return error = "cannot open /dev/" + uio + ": " + std::strerror(errno), false;
    map_ = ::mmap(nullptr, mapBytes_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map_ == MAP_FAILED)
      return error = "cannot map /dev/" + uio + ": " + std::strerror(errno), false;
    if (quorel_ring_check(map_) != 0) return error = uio + ": unknown mailbox version", false;
    state_.Set(index_, quorel::e2e::DriveState(number_, spec_));
    Serve();
    return true;
  }

  // Waits for events and serves the ring; returns when the device goes away.
  void Run() {
    for (;;) {
      uint32_t events = 0;
      if (::read(fd_, &events, sizeof events) != sizeof events) {
        if (errno == EINTR) continue;
        log_.Line(
            Format("ERROR drive=%d: the ring's events ended: %s", number_, std::strerror(errno)));
        return;
      }
      Serve();
    }
  }

  std::string Address() const { return Format("%d:%d:%d", spec_.adapter, spec_.target, spec_.lun); }

 private:
  // Executes every queued command, then tells the kernel.
  void Serve() {
    if (quorel_ring_serve(map_, &Device::Handle, this) == 0) return;
    uint32_t one = 1;
    if (::write(fd_, &one, sizeof one) != sizeof one) {
      log_.Line(
          Format("ERROR drive=%d: cannot signal completions: %s", number_, std::strerror(errno)));
    }
  }

  static void Handle(void* context, const uint8_t* cdb, const quorel_ring_piece* pieces,
                     size_t count, quorel_ring_response* response) {
    static_cast<Device*>(context)->Execute(cdb, pieces, count, *response);
  }

  void Execute(const uint8_t* wireCdb, const quorel_ring_piece* pieces, size_t count,
               quorel_ring_response& response) {
    const double started = log_.Milliseconds();
    const size_t cdbLength = CdbLength(wireCdb[0]);
    uint8_t cdb[16] = {};
    std::memcpy(cdb, wireCdb, cdbLength);
    uint32_t length = 0;
    for (size_t i = 0; i < count; ++i) length += static_cast<uint32_t>(pieces[i].bytes);
    const int direction = DirectionOf(cdb[0], length);
    std::vector<uint8_t> data(length);
    if (direction == 0) {
      size_t at = 0;
      for (size_t i = 0; i < count; ++i) {
        std::memcpy(data.data() + at, pieces[i].address, pieces[i].bytes);
        at += pieces[i].bytes;
      }
    }
    const uint64_t hash = direction == 0 ? sim::Fnv1a64(data.data(), length) : 0;
    const std::string head =
        direction == 0 ? Hex(data.data(), std::min<uint32_t>(length, 16)) : "-";

    sim::SimDrive& drive = spec_.drive;
    if (spec_.vanishAfter >= 0 && commands_ >= spec_.vanishAfter) drive.vanished = true;
    ++commands_;
    const sim::CommandResult result =
        drive.Execute(cdb, direction, length > 0 ? data.data() : nullptr, length);
    if (spec_.removeDiscOnEject && drive.trayOpen) drive.discPresent = false;
    const double delay = std::min(result.delaySeconds, kLongestDelaySeconds);
    if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));

    std::string status;
    switch (result.status) {
      case sim::Status::Good:
        status = "good";
        if (direction == 1) {
          size_t at = 0;
          for (size_t i = 0; i < count; ++i) {
            std::memcpy(pieces[i].address, data.data() + at, pieces[i].bytes);
            at += pieces[i].bytes;
          }
          if (result.transferred < length) response.read_bytes = result.transferred;
        }
        break;
      case sim::Status::CheckCondition:
        status = "check";
        response.status = 0x02;
        PutSense(response, result.senseFormat, result.senseKey, result.asc, result.ascq);
        break;
      case sim::Status::Busy:
        status = "busy";
        response.status = 0x08;
        break;
      case sim::Status::Other:
        status = "other";
        response.status = result.otherStatus;
        break;
      case sim::Status::TransportFailure:
        // The nearest a target can answer: ABORTED COMMAND, information unit CRC error.
        status = "transport";
        response.status = 0x02;
        PutSense(response, sim::SenseFormat::Fixed, 0x0B, 0x47, 0x03);
        break;
    }
    log_.Line(Format(
        "EXEC t=%.0f tid=- addr=%s drive=%d cdb=%s cdblen=%zu dir=%s len=%u hash=%016llx head=%s "
        "status=%s sense=%X/%02X/%02X xfer=%u",
        started, Address().c_str(), number_, Hex(cdb, 12).c_str(), cdbLength,
        direction == 0   ? "out"
        : direction == 1 ? "in"
                         : "none",
        length, static_cast<unsigned long long>(hash), head.c_str(), status.c_str(),
        result.senseKey, result.asc, result.ascq, result.transferred));
    AfterCommand();
  }

  static void PutSense(quorel_ring_response& response, sim::SenseFormat format, uint8_t key,
                       uint8_t asc, uint8_t ascq) {
    uint8_t* sense = response.sense;
    switch (format) {
      case sim::SenseFormat::Fixed: {
        const uint8_t fixed[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq};
        std::memcpy(sense, fixed, sizeof fixed);
        break;
      }
      case sim::SenseFormat::Descriptor: {
        const uint8_t descriptor[8] = {0x72, key, asc, ascq};
        std::memcpy(sense, descriptor, sizeof descriptor);
        break;
      }
      case sim::SenseFormat::None:
        break;
    }
  }

  // Keeps the image file and the state file up to date.
  void AfterCommand() {
    const sim::SimDrive& drive = spec_.drive;
    if (drive.programCount != programCount_) {
      programCount_ = drive.programCount;
      std::string imagePath = log_.Path() + Format(".drive%d.bin", number_);
      if (!WriteWholeFile(imagePath, drive.programmed.data(), drive.programmed.size()))
        log_.Line("ERROR cannot write " + imagePath);
      log_.Line(quorel::e2e::ProgramLine(number_, Address(), drive));
    }
    state_.Set(index_, quorel::e2e::DriveState(number_, spec_));
  }

  int number_;
  DriveSpec spec_;
  size_t index_;
  Log& log_;
  StateFile& state_;
  int fd_ = -1;
  void* map_ = MAP_FAILED;
  size_t mapBytes_ = 0;
  int commands_ = 0;
  int programCount_ = 0;
};

// The UIO devices of TCMU devices configured "quorel/N": (uio name, N).
std::vector<std::pair<std::string, int>> FindDevices(std::string& error) {
  std::vector<std::pair<std::string, int>> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/class/uio", ec)) {
    std::string name;
    if (!ReadText(entry.path().string() + "/name", name)) continue;
    // "tcm-user/<hba>/<device>/<configuration>"
    if (name.rfind("tcm-user/", 0) != 0) continue;
    while (!name.empty() && name.back() == '\n') name.pop_back();
    size_t config = name.find(kConfigPrefix);
    if (config == std::string::npos) continue;
    int number = std::atoi(name.c_str() + config + sizeof kConfigPrefix - 1);
    if (number <= 0) {
      error = "bad configuration string in " + name;
      return {};
    }
    found.emplace_back(entry.path().filename().string(), number);
  }
  if (ec) error = "cannot list /sys/class/uio: " + ec.message();
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  return found;
}

int HashBlocks(const char* path, const char* blockText) {
  std::string data;
  long block = std::atol(blockText);
  if (!ReadText(path, data) || block <= 0) {
    std::fprintf(stderr, "quorel-tcmu-drive: cannot read %s in blocks of %s\n", path, blockText);
    return 2;
  }
  for (size_t at = 0; at < data.size(); at += static_cast<size_t>(block)) {
    size_t n = std::min(data.size() - at, static_cast<size_t>(block));
    std::printf("%016llx\n", static_cast<unsigned long long>(sim::Fnv1a64(
                                 reinterpret_cast<const uint8_t*>(data.data()) + at, n)));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--fnv1a") == 0) return HashBlocks(argv[2], argv[3]);
  if (argc != 4) {
    std::fprintf(stderr,
                 "usage: quorel-tcmu-drive SCENARIO LOG READY\n"
                 "       quorel-tcmu-drive --fnv1a FILE BLOCK_BYTES\n");
    return 2;
  }
  const std::string scenarioPath = argv[1];
  Log log(argv[2]);
  if (!log.Open()) {
    std::fprintf(stderr, "quorel-tcmu-drive: cannot open the log %s\n", argv[2]);
    return 2;
  }
  auto fail = [&](const std::string& why) {
    log.Line("ERROR " + why);
    std::fprintf(stderr, "quorel-tcmu-drive: %s\n", why.c_str());
    return 1;
  };

  // SIGUSR1 marks the log, SIGTERM and SIGINT end the program: the main thread takes them all.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::string text, error;
  quorel::e2e::Scenario scenario;
  if (!ReadText(scenarioPath, text)) return fail("cannot read " + scenarioPath);
  if (!quorel::e2e::ParseScenario(text, scenario, error)) return fail(scenarioPath + ": " + error);
  auto found = FindDevices(error);
  if (!error.empty()) return fail(error);
  if (found.empty()) return fail("no TCMU device configured quorel/N");

  StateFile state(log.Path() + ".state", found.size());
  std::vector<std::unique_ptr<Device>> devices;
  for (const auto& [uio, number] : found) {
    auto spec = scenario.drives.find(number);
    if (spec == scenario.drives.end())
      return fail(Format("%s serves drive %d, which the scenario lacks", uio.c_str(), number));
    devices.push_back(std::make_unique<Device>(number, spec->second, devices.size(), log, state));
    log.Line(Format("DEVICE uio=%s drive=%d addr=%s", uio.c_str(), number,
                    devices.back()->Address().c_str()));
    if (!devices.back()->Open(uio, error)) return fail(error);
  }
  log.Line(Format("LOAD pid=%d scenario=%s drives=%zu", static_cast<int>(getpid()),
                  scenarioPath.c_str(), devices.size()));
  std::vector<std::thread> threads;
  for (auto& device : devices) threads.emplace_back([&device] { device->Run(); });
  for (auto& thread : threads) thread.detach();
  if (!WriteWholeFile(argv[3], "ready\n", 6)) return fail(std::string("cannot write ") + argv[3]);

  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal != SIGUSR1) break;
    log.Line(Format("MARK t=%.0f", log.Milliseconds()));
  }
  // The detached threads may be inside a command: end without running destructors under them.
  std::fflush(nullptr);
  _exit(0);
}
