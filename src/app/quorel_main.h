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
#include "platform/os_info.h"
#include "device/atapi_device.h"
#include "flash/parser.h"
#include "package/package_view.h"

namespace quorel {

class TQuorelMain {
 public:
  // The whole start-up. The view's controls exist already. Ends either ready, or terminating
  // after a refusal (view.Terminate() has been called).
  TQuorelMain(MainView& view, const PackageView& package);
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
  const PackageSettings& Settings() const { return settings; }
  const std::string& DetectedDrivesText() const { return detectedDrivesText; }
  int32_t JobCount() const { return jobCount; }
  int32_t RunningWorkers() const { return runningWorkers; }
  bool AllSucceeded() const { return allSucceeded != 0; }

 private:
  void FillDriveList();
  bool DriveStartup();      // false when start-up must end
  bool ConfirmNotice();     // false when the notice was not answered yes
  bool CreateJobEngines();  // false when the handler must end
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

  MainView& view;
  PackageView package;
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
