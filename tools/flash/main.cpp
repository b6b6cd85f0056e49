// quorel-flash: updates a drive natively from Linux with the package a packed flasher carries,
// through the kernel's SCSI pass-through (SG_IO), with the window's own logic and texts in a
// terminal.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/quorel_main.h"
#include "app/run_log.h"
#include "app/texts.h"
#include "description.h"
#include "device/part_block_origin.h"
#include "drive_guard.h"
#include "flasher_file.h"
#include "pack.h"
#include "package/package_view.h"
#include "platform/host_dispatcher.h"
#include "platform/linux/linux_platform.h"
#include "term_view.h"

extern char** environ;

namespace quorel::flash_tool {
namespace {

constexpr char kUsage[] =
    "usage: quorel-flash [OPTIONS] FLASHER.exe\n"
    "\n"
    "Updates a drive with the firmware package that the packed flasher FLASHER.exe carries,\n"
    "through the kernel's SCSI pass-through. Writing needs root (CAP_SYS_RAWIO).\n"
    "\n"
    "  --drive /dev/srN  update this drive (repeat for several); default: every optical drive\n"
    "  --yes             answer yes to the package's questions (unattended use)\n"
    "  --reboot          restart the computer if the package asks for it, without asking\n"
    "  --force           also update a drive that already has the new firmware, without asking\n"
    "  --log PATH        append a log of the run to PATH\n"
    "  --dump            show what the flasher carries, as quorel-pack --dump does\n"
    "  --version         show the version\n"
    "  --help            show this text\n"
    "\n"
    "Exit codes: 0 updated; 1 usage or unreadable file; 2 the package cannot be used (damaged,\n"
    "invalid, not a flasher); 3 no drive may be updated; 4 the update failed; 5 a question was\n"
    "answered no; 128+N ended by signal N before any drive was written.\n"
    "\n"
    "A drive is held for the run (a lock file per device, and the kernel's exclusive open where\n"
    "it grants one): a second run leaves a drive the first holds alone and says it is busy.\n";

constexpr char kDriveBusy[] =
    "%s is busy: another quorel-flash is updating it, or another program holds it exclusively."
    " It is left alone.";

constexpr char kStopRefused[] =
    "A drive is being updated: stopping now could leave it unable to start. The update goes on;"
    " wait until it has finished.";
constexpr char kRestartQuestion[] =
    "The package asks for the computer to be restarted. Restart now? [y/N] ";

struct Options {
  std::string flasher;
  std::vector<std::string> drives;
  bool yes = false;
  bool reboot = false;
  bool dump = false;
  bool force = false;
  std::string log;
};

std::atomic<int> g_signal{0};

void OnSignal(int signal) {
  g_signal = signal;
}

// Ctrl-C, a closed terminal and SIGTERM are noted, not obeyed at once: the loop decides.
void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// Runs a program with its output discarded; its process id, or -1.
pid_t Spawn(const std::vector<const char*>& argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const char* arg : argv) args.push_back(const_cast<char*>(arg));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

// Keeps the computer from sleeping or shutting down while a drive is written, through the
// system's inhibitor (systemd-inhibit) where there is one; elsewhere it does nothing.
class Inhibitor {
 public:
  ~Inhibitor() { Release(); }
  void Take() {
    if (pid_ > 0) return;
    pid_ =
        Spawn({"systemd-inhibit", "--what=sleep:shutdown:idle", "--who=quorel-flash",
               "--why=A drive's firmware is being written", "--mode=block", "sleep", "2147483647"});
  }
  void Release() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

bool ParseOptions(int argc, char** argv, Options& options, int& exitCode) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      exitCode = flash_exit::kUpdated;
      return false;
    }
    if (arg == "--version") {
      std::printf("quorel-flash %s\n", QUOREL_VERSION_TEXT);
      exitCode = flash_exit::kUpdated;
      return false;
    }
    if (arg == "--yes") {
      options.yes = true;
    } else if (arg == "--reboot") {
      options.reboot = true;
    } else if (arg == "--dump") {
      options.dump = true;
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg == "--log" && i + 1 < argc) {
      options.log = argv[++i];
    } else if (arg == "--drive" && i + 1 < argc) {
      options.drives.push_back(argv[++i]);
    } else if (arg.rfind("-", 0) != 0 && options.flasher.empty()) {
      options.flasher = arg;
    } else {
      std::fprintf(stderr, "quorel-flash: unexpected argument %s\n\n%s", arg.c_str(), kUsage);
      exitCode = flash_exit::kUsage;
      return false;
    }
  }
  if (options.flasher.empty()) {
    std::fputs(kUsage, stderr);
    exitCode = flash_exit::kUsage;
    return false;
  }
  return true;
}

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

std::string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  return stamp;
}

std::string SystemText() {
  utsname name{};
  if (uname(&name) != 0) return "Linux";
  return std::string(name.sysname) + " " + name.release + " (" + name.machine + ")";
}

int Run(const Options& options, RunLog& log) {
  std::vector<uint8_t> file;
  try {
    file = pack::ReadWholeFile(options.flasher);
    if (options.dump) {
      std::fputs(pack::DumpBytes(file, options.flasher).c_str(), stdout);
      return flash_exit::kUpdated;
    }
  } catch (const pack::PackError& error) {
    std::fprintf(stderr, "quorel-flash: %s\n", error.what());
    log.Line(text::kLogError + std::string(error.what()));
    return flash_exit::kUsage;
  }
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
      guard = std::make_unique<DriveGuard>(path);
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

  TermView view(stdout, stdin, options.yes);
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
  runOptions.log = &log;
  TQuorelMain main(view, package, runOptions);
  if (!view.TerminateRequested() && main.Settings().AUTOMODE == 0 && !main.UpdateRunning()) {
    if (g_signal != 0) return flash_exit::kSignalBase + g_signal;
    const int chosen = ChooseDrive(view, main, os, options);
    if (chosen < 0) return g_signal != 0 ? flash_exit::kSignalBase + g_signal : flash_exit::kUsage;
    view.SelectDrive(chosen);
    main.cboDrivesChange();
    if (view.Enabled(Control::cmdUpdate)) {
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
  return ExitCodeOf(FrontEnd::Flash, main.RunOutcome(), main.Restarted());
}

}  // namespace
}  // namespace quorel::flash_tool

int main(int argc, char** argv) {
  using namespace quorel;
  using namespace quorel::flash_tool;
  Options options;
  int exitCode = flash_exit::kUsage;
  if (!ParseOptions(argc, argv, options, exitCode)) return exitCode;

  // Reported once; the run goes on without it.
  RunLog log(LocalTimeStamp, [](const std::string& message) {
    std::fprintf(stderr, "quorel-flash: %s\n", message.c_str());
  });
  if (!options.log.empty() && log.Open(options.log)) {
    std::string command;
    for (int i = 1; i < argc; ++i) command += (i > 1 ? " " : "") + std::string(argv[i]);
    log.Header("quorel-flash", QUOREL_VERSION_TEXT, command);
  }
  try {
    exitCode = Run(options, log);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quorel-flash: %s\n", error.what());
    log.Line(text::kLogError + std::string(error.what()));
    exitCode = flash_exit::kFailed;
  }
  log.Footer(exitCode);
  return exitCode;
}
