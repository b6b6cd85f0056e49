// TQuorelMain: the main window's logic (start-up, drive list, Update workflow, progress and
// completion), written against MainView so that it runs the same in host tests and on Windows.
// Everything here runs on the window thread.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "app/main_view.h"
#include "device/atapi_device.h"
#include "flash/parser.h"
#include "package/package_view.h"
#include "platform/os_info.h"

namespace quorel {

class RunLog;

// How a front end runs the logic beyond the window's own behaviour (all off: the window).
struct RunOptions {
  // No one may be asked (a deployment tool's start): the update starts at once over every drive
  // that may be updated, as in automatic mode; a drive the rules call up to date is left alone
  // unless `force`; the disc check neither ejects nor waits; the package's restart is done only
  // with `reboot`; the run ends after the update. The view answers the notice.
  bool unattended = false;
  // A drive the rules call up to date is updated like any other, without the question.
  bool force = false;
  // A drive the rules call up to date is left alone unless `force`, without the question (as
  // unattended runs do; quorel-flash --yes), and a run left with nothing to write ends with
  // NothingToDo.
  bool keepUpToDate = false;
  bool reboot = false;
  // Read-only: start-up finds the drives and applies the rules, then the run ends with
  // UpdateApplies or NothingToDo. No notice, no message, nothing beyond discovery's commands.
  bool check = false;
  RunLog* log = nullptr;  // where the events are written; none when null
};

// How the run ended, for the front ends' exit codes.
enum class Outcome : uint8_t {
  Running,          // start-up ended ready, or an update runs
  PackageUnusable,  // invalid, damaged, seal, no firmware
  NoDrive,          // no drive may be updated
  DriveNotAllowed,  // the drive chosen may not be updated
  Declined,         // the notice or a question was answered no
  NothingToDo,      // unattended or a check: every drive that may be updated is up to date
  UpdateApplies,    // a check: at least one drive would be updated
  Updated,
  Failed,  // an update failed, or the drives could not be listed
};
enum class RestartState : uint8_t { NotAsked, Started, NotDone };

class TQuorelMain {
 public:
  // The whole start-up. The view's controls exist already. Ends either ready, or terminating
  // after a refusal (view.Terminate() has been called).
  TQuorelMain(MainView& view, const PackageView& package, const RunOptions& options = {});
  ~TQuorelMain();  // runs FormDestroy
  TQuorelMain(const TQuorelMain&) = delete;
  TQuorelMain& operator=(const TQuorelMain&) = delete;

  // Event handlers.
  void cboDrivesChange();
  void cmdUpdateClick();
  void cmdCloseClick();
  void tmrTimer();
  void WorkerFinished(Parser* sender);
  void FormDestroy();

  // True from the Update press until the last worker of that update has finished.
  bool UpdateRunning() const;

  // An exception that left the update started by start-up (AUTOMODE). It is kept rather than
  // thrown, since workers may already be running: the window lives on until they have reported,
  // and the program entry then shows it as it shows an escaped exception. Empty when none.
  std::exception_ptr TakeStartupError() { return std::exchange(startupError, nullptr); }

  // Read access for tests and the view.
  AtapiDevice* ListEngine() const { return listEngine; }
  const PackageView& Package() const { return package; }
  const PackageSettings& Settings() const { return settings; }
  const std::string& DetectedDrivesText() const { return detectedDrivesText; }
  int32_t JobCount() const { return jobCount; }
  int32_t RunningWorkers() const { return runningWorkers; }
  bool AllSucceeded() const { return allSucceeded != 0; }
  Outcome RunOutcome() const { return outcome; }
  RestartState Restarted() const { return restarted; }

 private:
  void FillDriveList();
  bool DriveStartup();      // false when start-up must end
  bool ConfirmNotice();     // false when the notice was not answered yes
  bool CreateJobEngines();  // false when the handler must end
  // What a check ends with: Failed when a listed drive could not be read.
  Outcome CheckOutcome() const;
  void StartWorker(int job);
  // True once the drive has no disc and a closed tray; false when that did not come about
  // within the check's rounds.
  bool CheckDiscAndTray(AtapiDevice& engine);
  void FinishUpdate();
  // Gives back everything an update holds once no worker of it runs any more: the engines, the
  // timer and the window's running state. Idempotent.
  void EndUpdate();
  void RereadDrives();
  void DeleteJobEngines();
  void SetProgressPosition(int position);
  bool Unattended() const { return options.unattended; }
  bool KeepUpToDate() const {
    return (options.unattended || options.keepUpToDate) && !options.force;
  }
  bool Automatic() const { return settings.AUTOMODE != 0 || options.unattended; }
  // The log's events.
  void Note(const std::string& line) const;
  void NotePackage(seal::State sealState, bool partBlocksIntact) const;
  void NoteDrives() const;
  void NoteResults();
  std::string DriveAddress(int16_t listIndex) const;

  MainView& view;
  PackageView package;
  RunOptions options;
  Outcome outcome = Outcome::Running;
  RestartState restarted = RestartState::NotAsked;
  // Why a job's drive was not written, when its worker never started (a log text); else null.
  const char* jobRefusal[kMaxDevices] = {};
  PackageSettings settings;
  OSInfo osInfo;
  AtapiDevice* listEngine = nullptr;
  std::string detectedDrivesText;

  AtapiDevice* jobEngines[kMaxDevices] = {};
  int32_t jobCount = 0;
  int32_t runningWorkers = 0;
  uint8_t allSucceeded = 0;
  bool preparing = false;           // inside cmdUpdateClick, still starting workers
  bool finishing = false;           // the last completion is re-reading the drives
  bool runningShown = false;        // the view was told an update runs
  bool placeholderRefused = false;  // a drive was refused this build's part blocks
  std::exception_ptr startupError;
  int16_t jobListIndex[kMaxDevices] = {};  // the list index each job engine was asked to address

  // The current bank image, recomputed for each drive before its worker starts.
  const uint8_t* imagePointer = nullptr;
  int32_t imageStart = 0;
  int32_t imageSize = 0;

  // The progress bar as the window shows it (minimum 0, step 1).
  int progressMax = 100;
  int progressPosition = 0;
};

}  // namespace quorel
