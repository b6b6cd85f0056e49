#include "run.h"

#include <sys/utsname.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/quorel_main.h"
#include "app/texts.h"
#include "description.h"
#include "device/part_block_origin.h"
#include "drive_guard.h"
#include "flasher_file.h"
#include "inventory.h"
#include "pack.h"
#include "package/package_view.h"
#include "platform/host_dispatcher.h"
#include "platform/linux/linux_platform.h"
#include "process.h"
#include "signature_gate.h"
#include "term_view.h"

namespace quorel::flash_tool {
namespace {

constexpr char kDriveBusy[] =
    "%s is busy: another quorel-flash is updating it, or another program holds it exclusively."
    " It is left alone.";

constexpr char kStopRefused[] =
    "A drive is being updated: stopping now could leave it unable to start. The update goes on;"
    " wait until it has finished.";
constexpr char kRestartQuestion[] =
    "The package asks for the computer to be restarted. Restart now? [y/N] ";

// The list line chosen for a manual update: the only updatable drive, or the user's choice.
int ChooseDrive(TermView& view, const TQuorelMain& main, const LinuxPlatform& os,
                const Options& options) {
  const std::vector<std::string>& lines = view.Drives();
  std::vector<int> updatable;
  for (size_t i = 0; i < lines.size(); ++i) {
    const DeviceEntry* entry = main.ListEngine()->GetEntry(static_cast<unsigned>(i));
    if (entry != nullptr && entry->updatable == 1) updatable.push_back(static_cast<int>(i));
  }
  view.Say(text::kSelectDriveLabel);
  for (size_t i = 0; i < lines.size(); ++i) {
    const DeviceEntry* entry = main.ListEngine()->GetEntry(static_cast<unsigned>(i));
    const std::string device = entry != nullptr ? os.DevicePathOf(entry->rootPath[0]) : "";
    view.Say("  " + std::to_string(i + 1) + ") " + lines[i] + "  " + device);
  }
  if (updatable.size() == 1) return updatable[0];
  if (options.yes) {
    view.Say("More than one drive may be updated: name one with --drive.");
    return -1;
  }
  std::string answer;
  while (view.Ask("Drive to update [1-" + std::to_string(lines.size()) + "]: ", answer)) {
    const int number = std::atoi(answer.c_str());
    if (number >= 1 && number <= static_cast<int>(lines.size())) return number - 1;
  }
  return -1;
}

// Runs the update that was started until its last worker has reported, with the timer's ticks.
void RunUpdate(TQuorelMain& main, TermView& view, HostDispatcher& dispatcher) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kTick = std::chrono::milliseconds(100);
  auto nextTick = Clock::now() + kTick;
  while (main.UpdateRunning()) {
    dispatcher.PumpUntil(
        [&] { return !main.UpdateRunning() || Clock::now() >= nextTick || g_signal != 0; }, 0.1);
    if (Clock::now() >= nextTick) {
      if (view.TimerEnabled()) main.tmrTimer();
      nextTick += kTick;
    }
    if (g_signal.exchange(0) != 0 && main.UpdateRunning()) view.Say(kStopRefused);
  }
}

}  // namespace

std::string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  return stamp;
}

namespace {

std::string SystemText() {
  utsname name{};
  if (uname(&name) != 0) return "Linux";
  return std::string(name.sysname) + " " + name.release + " (" + name.machine + ")";
}

}  // namespace

int Run(const Options& options, RunLog& log) {
  std::vector<uint8_t> file;
  signature::Signature signature;
  try {
    file = pack::ReadWholeFile(options.flasher);
    const signature::TrustAnchors anchors = AnchorsOf(options);
    signature = signature::Check(file, &anchors);
    if (options.dump) {
      std::fputs(pack::DumpBytes(file, options.flasher, {}, signature::Describe(signature)).c_str(),
                 stdout);
      return flash_exit::kUpdated;
    }
  } catch (const std::runtime_error& error) {
    std::fprintf(stderr, "quorel-flash: %s\n", error.what());
    log.Line(text::kLogError + std::string(error.what()));
    return flash_exit::kUsage;
  }
  // Before any drive is opened: a flasher changed after signing never goes further.
  const GateResult gate = CheckSignature(signature, options.requireSignature);
  log.Line("signature: " + gate.line);
  if (gate.refusal) {
    std::fprintf(stderr, "quorel-flash: %s\n", gate.line.c_str());
    return *gate.refusal;
  }
  std::fprintf(options.json ? stderr : stdout, "Signature: %s\n", gate.line.c_str());
  FlasherFile flasher;
  try {
    flasher = ReadFlasher(file, options.flasher);
  } catch (const pack::PackError& error) {
    std::fprintf(stderr, "quorel-flash: %s\n", error.what());
    log.Line(text::kLogPackageRefused + std::string(error.what()));
    return flash_exit::kPackage;
  }
  file.clear();

  const std::unique_ptr<LinuxPlatform> binding =
      options.drives.empty() ? std::make_unique<LinuxPlatform>()
                             : std::make_unique<LinuxPlatform>(options.drives);
  LinuxPlatform& os = *binding;
  log.Line(text::kLogSystem + SystemText());
  // Each drive is held from its first open (the listing, once the package has passed its
  // checks) to the end of the run; one that another run holds is not opened, so not listed.
  std::mutex guardsLock;
  std::map<std::string, std::unique_ptr<DriveGuard>> guards;
  os.SetOpenHook([&](const std::string& path) {
    std::lock_guard<std::mutex> hold(guardsLock);
    std::unique_ptr<DriveGuard>& guard = guards[path];
    if (!guard) {
      guard = std::make_unique<DriveGuard>(
          path, "", options.check ? DriveGuard::Mode::Check : DriveGuard::Mode::Update);
      if (guard->state() == DriveGuard::State::Busy) {
        char line[256];
        std::snprintf(line, sizeof line, kDriveBusy, path.c_str());
        std::fprintf(stderr, "quorel-flash: %s\n", line);
        log.Line(line);
      }
    }
    return guard->state() != DriveGuard::State::Busy;
  });
  SetPlatform(&os);
  HostDispatcher dispatcher;
  SetUiDispatcher(&dispatcher);
  // From here on the program sends the flasher's part blocks, checked at start-up like its own.
  UsePartBlocks({flasher.partBlocks.data(), &flasher.partBlockOrigin});

  // With --json the document alone goes to standard output, the terminal's lines to errors.
  TermView view(options.json ? stderr : stdout, stdin, options.yes);
  Inhibitor inhibitor;
  // The kernel's media poll of every drive this run holds is off while an update runs.
  std::vector<std::unique_ptr<MediaPollPause>> pollPauses;
  view.onUpdateRunning = [&](bool running) {
    if (running) {
      inhibitor.Take();
      std::lock_guard<std::mutex> hold(guardsLock);
      for (const auto& [path, guard] : guards) {
        if (guard->state() == DriveGuard::State::Busy) continue;
        pollPauses.push_back(std::make_unique<MediaPollPause>(path));
        log.Line(pollPauses.back()->note());
      }
    } else {
      pollPauses.clear();
      inhibitor.Release();
    }
  };
  // Never a restart behind the user's back: --reboot, or a yes typed now.
  os.SetRestartHook([&] {
    std::string answer;
    if (!options.reboot && !(view.Ask(kRestartQuestion, answer) && answer == "y")) {
      view.Say("Not restarted: restart the computer before using the drive.");
      return false;
    }
    return Spawn({"systemctl", "reboot"}) > 0;
  });

  CatchStopSignals();
  const PackageView package(flasher.block.data(), flasher.sealRecord.data());
  RunOptions runOptions;
  runOptions.force = options.force;
  runOptions.keepUpToDate = options.yes;
  runOptions.check = options.check || options.list;
  runOptions.log = &log;
  TQuorelMain main(view, package, runOptions);
  std::set<std::string> busy;
  {
    std::lock_guard<std::mutex> hold(guardsLock);
    for (const auto& [path, guard] : guards) {
      if (guard->state() == DriveGuard::State::Busy) busy.insert(path);
    }
  }
  if (runOptions.check) {
    const std::vector<DriveReport> drives = Inventory(main, os, busy);
    const Outcome outcome = main.RunOutcome();
    if (options.json) {
      std::fputs(
          InventoryJson(drives, package, OutcomeKey(outcome, !busy.empty()), QUOREL_VERSION_TEXT)
              .c_str(),
          stdout);
    }
    for (const DriveReport& drive : drives) {
      view.Say("  " + drive.device + (drive.address.empty() ? "" : " " + drive.address) + " " +
               drive.vendor + " " + drive.product + " " + drive.revision + ": " + drive.words);
    }
    view.Say(outcome == Outcome::UpdateApplies ? "An update applies."
             : outcome == Outcome::NothingToDo
                 ? (busy.empty() ? "Nothing to do." : "A drive is busy: try again later.")
                 : "The drives could not all be read.");
    // A drive another run holds could not be read: no "nothing to do" while one does.
    if (!busy.empty() && outcome == Outcome::NothingToDo) return flash_exit::kBusy;
    return ExitCodeOf(FrontEnd::Flash, outcome, main.Restarted());
  }
  if (!view.TerminateRequested() && main.Settings().AUTOMODE == 0 && !main.UpdateRunning()) {
    if (g_signal != 0) return flash_exit::kSignalBase + g_signal;
    const int chosen = ChooseDrive(view, main, os, options);
    if (chosen < 0) return g_signal != 0 ? flash_exit::kSignalBase + g_signal : flash_exit::kUsage;
    view.SelectDrive(chosen);
    main.cboDrivesChange();
    const DeviceEntry* entry = main.ListEngine()->GetEntry(static_cast<unsigned>(chosen));
    if (options.yes && !options.force && entry != nullptr && entry->upToDate == 1) {
      view.Say("It already has " + view.Text(Control::lblNewFW) +
               ": left alone (--force updates it).");
    } else if (view.Enabled(Control::cmdUpdate)) {
      view.Say("It will be updated from " + view.Text(Control::lblOldFW) + " to " +
               view.Text(Control::lblNewFW));
    } else {
      view.Say(view.Text(Control::lblUpdateMsg));
    }
    main.cmdUpdateClick();  // refuses a drive that may not be updated, with its own outcome
  }
  RunUpdate(main, view, dispatcher);
  if (main.JobCount() == 0 && g_signal != 0) return flash_exit::kSignalBase + g_signal;
  if (std::exception_ptr error = main.TakeStartupError()) std::rethrow_exception(error);
  // Every drive left alone for another run: try again later, rather than "no drive".
  if (main.RunOutcome() == Outcome::NoDrive && !busy.empty()) return flash_exit::kBusy;
  return ExitCodeOf(FrontEnd::Flash, main.RunOutcome(), main.Restarted());
}

}  // namespace quorel::flash_tool
