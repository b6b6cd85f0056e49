// Fuzz target: the whole window, start-up and Update, over one to three simulated drives whose
// answers the input perturbs, through pass-through or the ASPI manager, on the NT or the 9x
// family. The oracles:
//   - a drive programmed only with the image, and, when its flash part is in the table, only
//     while it holds that part's block since its last reset; the success message only when every
//     drive written programmed it. Two windows are past what any host can see, and out of this
//     oracle's reach: a reset whose unit attention the system takes right before the final
//     command, or right after the part block. So is a drive whose identity answer the input
//     corrupted, cut short (zeros over ASPI) or turned into ILLEGAL REQUEST: the program cannot
//     tell it from a real one;
//   - a drive's listed identity only from that drive's own answers;
//   - a drive written only if one of its own INQUIRY answers passes the rules;
//   - a bounded number of commands per drive and of dialogs, and an update that ends.
//
// Input: three bytes of machine and package, one byte per drive, then records of six bytes,
// each a fault on one drive (see Configure). Missing bytes read as zero.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/quorel_main.h"
#include "app/texts.h"
#include "device/compat.h"
#include "fake_view.h"
#include "sim/sim_machine.h"
#include "test_package.h"

using namespace quorel;

namespace {

constexpr int kMaxCommandsPerDrive = 20000;
constexpr int kMaxDialogs = 40;
constexpr uint32_t kIdentityBytes = 36;  // an INQUIRY answer up to the revision
constexpr int kOpcodes[8] = {0x100, 0x00, 0x12, 0x1B, 0x4A, 0x3B, 0x3C, 0xDF};

// QUOREL_FUZZ_VERBOSE=1 fuzz_workflow FILE tells what a run did, command by command.
bool Verbose() {
  static const bool verbose = std::getenv("QUOREL_FUZZ_VERBOSE") != nullptr;
  return verbose;
}

[[noreturn]] void Finding(const char* what, int drive = -1) {
  std::fprintf(stderr, "fuzz_workflow: %s", what);
  if (drive >= 0) std::fprintf(stderr, " (drive %d)", drive);
  std::fprintf(stderr, "\n");
  std::abort();
}

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool Left() const { return at_ < size_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A perturbation the simulated drive has no fault for: applied to the answer of a command that
// ran (data-in bytes changed, or its status replaced).
struct AnswerFault : sim::Fault {
  bool corrupt = false;  // else: status replaced
  uint16_t position = 0;
  uint8_t value = 0;
};

// One simulated drive and what the fuzzer knows of it.
struct Drive {
  std::shared_ptr<sim::SimDrive> sim;
  char letter = 0;
  uint8_t target = 0;
  std::vector<AnswerFault> answerFaults;
  int commands = 0;
  std::vector<std::string> answeredIdentities;  // bytes 8-35 of each good INQUIRY answer
  bool identityObscured = false;  // a flash part identity answer corrupted or refused by the input
  int programsSeen = 0;
  bool programmedWithoutPartBlock = false;  // outside the two windows

  // Checks each program command against the part block the drive's part needs.
  void TrackPrograms(const uint8_t* cdb, const sim::CommandResult& result, bool corrupted) {
    // Over the ASPI manager, which reports no residue, an answer cut short reads as zeros.
    const bool cut = result.status == sim::Status::Good && result.transferred < 4;
    if (cdb[0] == 0xDF &&
        (corrupted || cut ||
         (result.status == sim::Status::CheckCondition && (result.senseKey & 0x0F) == 5))) {
      identityObscured = true;
    }
    if (sim->programCount == programsSeen) return;
    programsSeen = sim->programCount;
    if (sim->programmedRightAfterReset || sim->programmedAfterPartBlockReset) return;
    if (sim->programmedPartBlock != sim::NeededPartBlock(*sim)) programmedWithoutPartBlock = true;
  }

  void OnAnswer(int index, const uint8_t* cdb, int direction, uint8_t* data, uint32_t length,
                sim::CommandResult& result) {
    if (++commands > kMaxCommandsPerDrive) Finding("commands without end", index);
    bool corrupted = false;
    for (AnswerFault& fault : answerFaults) {
      if (!sim::Matches(fault, cdb[0])) continue;
      if (!fault.corrupt) {
        // A failure where the drive may have done the work; never a success it did not earn.
        result.status = static_cast<sim::Status>(1 + fault.value % 3);
        result.senseKey = static_cast<uint8_t>(fault.position & 0x0F);
        result.asc = static_cast<uint8_t>(fault.position >> 8);
      } else if (direction == 1 && data != nullptr && result.transferred > 0) {
        data[fault.position % std::min(result.transferred, length)] ^= fault.value | 1;
        corrupted = true;
      }
    }
    TrackPrograms(cdb, result, corrupted);
    if (Verbose()) {
      std::fprintf(stderr, "drive %d: %02X %u bytes: status %d, sense key %X, %u bytes moved\n",
                   index, cdb[0], length, static_cast<int>(result.status), result.senseKey,
                   result.transferred);
    }
    // An answer cut short leaves zeros in the host's cleared buffer: over ASPI an underrun does
    // not say how much arrived, so such an answer counts as the drive's own, zero-filled.
    if (cdb[0] == 0x12 && result.status == sim::Status::Good && data != nullptr) {
      std::string identity(28, '\0');
      const uint32_t arrived = std::min({result.transferred, length, kIdentityBytes});
      if (arrived > 8)
        identity.replace(0, arrived - 8, reinterpret_cast<const char*>(data) + 8, arrived - 8);
      answeredIdentities.push_back(identity);
    }
  }
};

std::string EntryIdentity(const DeviceEntry& entry) {
  std::string identity(entry.vendor, 8);
  identity.append(entry.product, 16);
  identity.append(entry.revision, 4);
  return identity;
}

std::string Printable(std::string text) {
  for (char& c : text) c = (c >= 0x20 && c < 0x7F) ? c : '.';
  return text;
}

// The shared test package, its settings rewritten for each run.
test::TestPackage& Package() {
  static test::TestPackage package;
  return package;
}

class Run {
 public:
  explicit Run(Input& in) { Configure(in); }

  void Go() {
    view.onDialog = [this](const test::ShownDialog&) {
      if (view.dialogs.size() > kMaxDialogs) Finding("dialogs without end");
    };
    window = std::make_unique<TQuorelMain>(view, Package().View());
    CheckIdentities();
    if (view.terminateCount == 0 && !automatic && !view.drives.empty()) {
      view.SelectDrive(selection % static_cast<int>(view.drives.size()));
      window->cboDrivesChange();
      window->cmdUpdateClick();
    }
    if (!machine.dispatcher().PumpUntil([&] { return !window->UpdateRunning(); }, 60.0)) {
      Finding("an update that never ends");
    }
    CheckIdentities();
    CheckWrites();
    if (machine.aspiRequestsResentWhileHeld() > 0) Finding("a request block sent while held");
    if (Verbose()) Describe();
  }

  ~Run() {
    machine.dispatcher().PumpUntil([&] { return !window || window->RunningWorkers() <= 0; }, 10);
    window.reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Parser::Running() > 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }

 private:
  // Byte 0: bit 0 the 9x family, 1 an ASPI manager, 2 AUTOMODE, 3 CHKDISC, 4 ASPI requests
  // never complete, 5 N2OMESSAGE, 6 BOOTCODE, 7 WARNING. Byte 1: drives (1 + low two bits mod
  // 3), the rest the line picked in manual mode. Byte 2: the answers to the first eight dialogs
  // (a set bit answers Yes). A byte per drive: identity (bits 0-1: in range, up to date, out of
  // range, another maker), then disc, tray open, tray locked, unit attention, no event status,
  // missing from the manager's list. Each fault record: drive (bits 0-1), kind (2-4), opcode
  // (5-7); skip; count (bit 7 set: every one, else the low four bits); three parameters. The
  // kinds: sense, transport failure (first parameter bit 0: a reset after the command instead,
  // bit 1: its unit attention taken by the system, bit 2: the reset comes during a pause of
  // 0.2 s to 1 s, by the second parameter, before the command), busy, short transfer, late (third
  // parameter bit 0: the manager keeps a late request when asked to abort it), wrong read-back,
  // corrupted data in, status replaced.
  void Configure(Input& in) {
    machine.ticksPerCounterRead = 10'000;
    const uint8_t flags = in.Byte();
    machine.platformId = (flags & 1) ? 1 : 2;
    machine.aspi.execNeverCompletes = (flags & 0x10) != 0;
    automatic = (flags & 4) != 0;
    test::TestPackage& package = Package();
    package.Set(layout::kAUTOMODE, automatic ? 1 : 0);
    package.Set(layout::kCHKDISC, (flags & 8) ? 1 : 0);
    package.Set(layout::kN2OMESSAGE, (flags & 0x20) ? 1 : 0);
    package.Set(layout::kBOOTCODE, (flags & 0x40) ? 1 : 0);
    package.Set(layout::kWARNING, (flags & 0x80) ? 1 : 0);

    const uint8_t driveByte = in.Byte();
    const int count = 1 + (driveByte & 3) % 3;
    selection = driveByte >> 2;
    const uint8_t answers = in.Byte();
    for (int i = 0; i < 8; ++i) {
      view.answers.push_back((answers >> i & 1) ? MessageResult::Yes : MessageResult::No);
    }

    static const char* const kRevisions[] = {"KM05", "KM07", "KM09"};
    for (int i = 0; i < count; ++i) {
      Drive& drive = drives[i];
      drive.letter = static_cast<char>('E' + i);
      drive.target = static_cast<uint8_t>(i);
      drive.sim = machine.AddLetterDrive(drive.letter, static_cast<uint8_t>(1 + i));
      const uint8_t bits = in.Byte();
      sim::Identity& identity = drive.sim->identity;
      switch (bits & 3) {
        case 0:
          identity.revision = kRevisions[i];
          break;
        case 1:
          identity.revision = "KM0P";
          break;
        case 2:
          identity.revision = "KM1A";
          break;
        case 3:
          identity.vendor = "OTHER CO";
          identity.product = "DVD-ROM X" + std::to_string(i) + "      ";
          identity.revision = kRevisions[i];
          break;
      }
      drive.sim->discPresent = (bits & 0x04) != 0;
      drive.sim->trayOpen = (bits & 0x08) != 0;
      drive.sim->trayLocked = (bits & 0x10) != 0;
      drive.sim->unitAttention = (bits & 0x20) != 0;
      drive.sim->rejectEventStatus = (bits & 0x40) != 0;
      if ((flags & 2) && !(bits & 0x80)) {
        machine.aspi.devices.push_back({0, drive.target, 0, 5, drive.sim});
      }
      drive.sim->onAnswer = [this, i](const uint8_t* cdb, int direction, uint8_t* data,
                                      uint32_t length, sim::CommandResult& result) {
        drives[i].OnAnswer(i, cdb, direction, data, length, result);
      };
    }
    machine.aspi.present = (flags & 2) != 0;

    while (in.Left()) {
      const uint8_t head = in.Byte();
      const uint8_t skip = in.Byte(), times = in.Byte();
      const uint8_t p1 = in.Byte(), p2 = in.Byte(), p3 = in.Byte();
      Drive& target = drives[(head & 3) % count];
      sim::SimDrive& drive = *target.sim;
      sim::Fault fault;
      fault.opcode = kOpcodes[head >> 5];
      fault.skip = skip;
      fault.count = (times & 0x80) ? -1 : times & 0x0F;
      switch (head >> 2 & 7) {
        case 0: {
          sim::SimDrive::SenseFault sense;
          static_cast<sim::Fault&>(sense) = fault;
          sense.key = p1 & 0x0F;
          sense.format = static_cast<sim::SenseFormat>((p1 >> 4) % 3);
          sense.asc = p2;
          sense.ascq = p3;
          drive.senseFaults.push_back(sense);
          break;
        }
        case 1:
          if (p1 & 1) {
            sim::SimDrive::ResetFault reset;
            static_cast<sim::Fault&>(reset) = fault;
            reset.takenBySystem = (p1 & 2) != 0;
            if (p1 & 4) reset.idleSeconds = 0.2 * (1 + p2 % 5);
            drive.resetFaults.push_back(reset);
          } else {
            drive.transportFaults.push_back(fault);
          }
          break;
        case 2:
          drive.busyFaults.push_back(fault);
          break;
        case 3: {
          sim::SimDrive::ShortFault cut;
          static_cast<sim::Fault&>(cut) = fault;
          cut.bytes = static_cast<uint32_t>(p1 | p2 << 8);
          drive.shortFaults.push_back(cut);
          break;
        }
        case 4: {
          sim::SimDrive::SlowFault slow;
          static_cast<sim::Fault&>(slow) = fault;
          slow.seconds = 2.0 * (p1 | p2 << 8);  // beyond the longest time-out at the top
          drive.slowFaults.push_back(slow);
          if (p3 & 1) machine.aspi.abortIgnored = true;
          break;
        }
        case 5:
          drive.readBackFaults.push_back({p1 % 4, skip, (p2 | p3 << 8) % 16384});
          break;
        case 6:
        case 7: {
          AnswerFault answer;
          static_cast<sim::Fault&>(answer) = fault;
          answer.corrupt = (head >> 2 & 7) == 6;
          answer.position = static_cast<uint16_t>(p1 | p2 << 8);
          answer.value = p3;
          target.answerFaults.push_back(answer);
          break;
        }
      }
    }
    driveCount = count;
  }

  Drive* DriveOf(const DeviceEntry& entry) {
    for (int i = 0; i < driveCount; ++i) {
      Drive& drive = drives[i];
      if (entry.viaAspi ? entry.target == drive.target : entry.rootPath[0] == drive.letter) {
        return &drive;
      }
    }
    return nullptr;
  }

  // What the list shows of a drive came from that drive's own answers, or is empty.
  void CheckIdentities() {
    AtapiDevice* engine = window->ListEngine();
    if (engine == nullptr) return;
    for (unsigned i = 0; i < engine->DeviceCount(); ++i) {
      const DeviceEntry* entry = engine->GetEntry(i);
      if (entry == nullptr || entry->present == 0) continue;
      const std::string shown = EntryIdentity(*entry);
      if (shown == std::string(28, '\0')) continue;
      Drive* drive = DriveOf(*entry);
      if (drive == nullptr) Finding("a listed drive the machine does not have");
      const auto& own = drive->answeredIdentities;
      if (std::find(own.begin(), own.end(), shown) == own.end()) {
        if (Verbose()) {
          std::fprintf(stderr, "shown [%s], answered:\n", Printable(shown).c_str());
          for (const std::string& id : own) std::fprintf(stderr, "  [%s]\n", Printable(id).c_str());
        }
        Finding("an identity the drive never answered", static_cast<int>(drive - drives));
      }
    }
  }

  bool PassesRules(const std::string& identity) const {
    DeviceEntry entry{};
    std::memcpy(entry.vendor, identity.data(), 8);
    std::memcpy(entry.product, identity.data() + 8, 16);
    std::memcpy(entry.revision, identity.data() + 24, 4);
    entry.present = 1;
    const PackageView view = Package().View();
    ApplyCompatibilityRules(entry, view, view.ReadSettings());
    return entry.updatable == 1;
  }

  void CheckWrites() {
    const BankImage image = Package().View().Bank(0);
    int programmedRight = 0;
    bool writtenWrong = false;
    for (int i = 0; i < driveCount; ++i) {
      const sim::SimDrive& sim = *drives[i].sim;
      const bool written = std::any_of(sim.log.begin(), sim.log.end(),
                                       [](const auto& c) { return c.cdb[0] == 0x3B; });
      if (!written) continue;
      if (sim.programmedRightAfterReset) {
        ++programmedRight;  // out of reach: counted as the drive says
        continue;
      }
      const auto& own = drives[i].answeredIdentities;
      if (std::none_of(own.begin(), own.end(), [&](const auto& id) { return PassesRules(id); })) {
        Finding("a drive written whose own answers do not pass the rules", i);
      }
      const bool right =
          sim.programCount > 0 &&
          sim.programmed.size() == static_cast<std::size_t>(image.sizeBytes) &&
          std::memcmp(sim.programmed.data(), image.image, sim.programmed.size()) == 0;
      if (sim.programCount > 0 && !right) Finding("a drive programmed with something else", i);
      if (drives[i].programmedWithoutPartBlock && !drives[i].identityObscured) {
        Finding("a drive programmed without the part block its flash part needs", i);
      }
      if (right) {
        ++programmedRight;
      } else {
        writtenWrong = true;
      }
    }
    const bool success = std::any_of(view.dialogs.begin(), view.dialogs.end(),
                                     [](const auto& d) { return d.text == text::kFlashSucceeded; });
    if (success && (writtenWrong || programmedRight == 0)) {
      Finding("success reported for a drive that did not program the image");
    }
  }

  void Describe() const {
    for (int i = 0; i < driveCount; ++i) {
      std::fprintf(stderr, "drive %d: %d commands, %zu identities answered, programmed %d\n", i,
                   drives[i].commands, drives[i].answeredIdentities.size(),
                   drives[i].sim->programCount);
    }
    for (const test::ShownDialog& dialog : view.dialogs) {
      std::fprintf(stderr, "dialog: %.60s\n", dialog.text.c_str());
    }
  }

  sim::SimMachine machine;
  test::FakeView view;
  Drive drives[3];
  int driveCount = 0;
  bool automatic = false;
  int selection = 0;
  std::unique_ptr<TQuorelMain> window;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in(data, size);
  Run run(in);
  run.Go();
  return 0;
}
