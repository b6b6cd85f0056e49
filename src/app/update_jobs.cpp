// The update's jobs: one engine per drive, its checks and its worker, and what the last
// completion makes of their results.
#include <string>

#include "app/main_helpers.h"
#include "app/quorel_main.h"
#include "app/texts.h"
#include "device/part_block_origin.h"
#include "flash/sense_codes.h"
#include "package/bytes.h"

namespace quorel {

using detail::Format;
using detail::OnUnwind;
using detail::PresentAndUpdatable;

namespace {

constexpr int kReadyLimitSeconds = 120;
// Rounds of the disc and tray check before it gives up on a drive; each round that finds a disc
// or an open tray asks the user to act.
constexpr int kDiscCheckRounds = 5;

}  // namespace

bool TQuorelMain::CreateJobEngines() {
  const auto addJob = [this](int16_t listIndex) {
    AtapiDevice* engine = new AtapiDevice(false);
    // A failure until its worker has run: a job left without one never counts as updated.
    engine->FlashResult = kFlashFailed;
    jobEngines[jobCount] = engine;
    jobListIndex[jobCount] = listIndex;
    ++jobCount;
    listEngine->CopyInto(engine);
    engine->SelectDevice(listIndex);
  };

  try {
    if (!Automatic()) {
      const int selected = view.SelectedDrive();
      const DeviceEntry* entry =
          selected < 0 ? nullptr : listEngine->GetEntry(static_cast<unsigned>(selected));
      // The button is disabled for such a drive; the handler refuses it all the same.
      if (!PresentAndUpdatable(entry)) {
        outcome = Outcome::DriveNotAllowed;
        return false;
      }
      if (KeepUpToDate() && entry->upToDate == 1) {
        Note(Format(text::kLogLeftUpToDate, DriveAddress(static_cast<int16_t>(selected)).c_str()));
        outcome = Outcome::NothingToDo;
        return false;
      }
      if (entry->upToDate == 1 && settings.N2OMESSAGE != 0 && !options.force) {
        const std::string question = std::string(text::kAlreadyUpdated) + text::kContinueQuestion;
        if (view.ShowMessage(question, MessageKind::Warning, MessageButtons::YesNo) !=
            MessageResult::Yes) {
          outcome = Outcome::Declined;
          view.Terminate();
          return false;
        }
      }
      addJob(static_cast<int16_t>(selected));
    } else {
      const unsigned count = listEngine->DeviceCount();
      for (unsigned i = 0; i < count && jobCount < kMaxDevices; ++i) {
        const DeviceEntry* entry = listEngine->GetEntry(i);
        if (!PresentAndUpdatable(entry)) continue;
        // No one asked for a drive that has the new firmware already.
        if (KeepUpToDate() && entry->upToDate == 1) {
          Note(Format(text::kLogLeftUpToDate, DriveAddress(static_cast<int16_t>(i)).c_str()));
          continue;
        }
        addJob(static_cast<int16_t>(i));
      }
    }
  } catch (...) {
    // An engine that cannot be built leaves no half-made update behind.
    DeleteJobEngines();
    jobCount = 0;
    preparing = false;
    throw;
  }
  return true;
}

void TQuorelMain::StartWorker(int k) {
  AtapiDevice* engine = jobEngines[k];
  const int16_t listIndex = jobListIndex[k];
  // A drive its job engine could not address (opened by another program in the meantime) is
  // neither checked nor written; the update reports it as failed.
  if (engine->CurrentIndex() != listIndex) {
    engine->FlashResult = kFlashFailed;
    jobRefusal[k] = text::kLogNotAddressed;
    return;
  }
  // This build's part blocks are the placeholder and the drive is not the simulated test drive:
  // nothing at all is sent to it.
  if (!PartBlocksAllowedFor(engine->CurrentVendorSpecific())) {
    engine->FlashResult = kFlashFailed;
    placeholderRefused = true;
    jobRefusal[k] = text::kLogPlaceholderRefused;
    return;
  }

  const DeviceEntry* entry = listEngine->GetEntry(static_cast<unsigned>(listIndex));
  const BankImage bank = package.Bank(entry != nullptr ? entry->bankIndex : 0);
  imageSize = bank.sizeBytes;
  imageStart = bank.startBytes;
  imagePointer = bank.image;

  FlashJob job;
  job.engine = engine;
  job.image = imagePointer;
  job.size = imageSize;
  job.bootCode = settings.BOOTCODE != 0 ? 1 : 0;
  job.window = this;

  if (settings.CHKDISC == 1 && !CheckDiscAndTray(*engine)) {
    // The disc never went or the tray never closed: the drive is not written.
    engine->FlashResult = kFlashFailed;
    jobRefusal[k] = text::kLogDiscOrTray;
    return;
  }
  Note(Format(text::kLogStart, DriveAddress(listIndex).c_str(),
              entry != nullptr ? FixedFieldText(entry->revision).c_str() : "",
              package.NewRevisionText(entry != nullptr ? entry->bankIndex : 0)));

  // Counted before the thread exists, so that its completion always finds itself counted.
  ++runningWorkers;
  try {
    new Parser(job, [this](Parser* sender) { WorkerFinished(sender); });
  } catch (const std::exception&) {
    --runningWorkers;
    engine->FlashResult = kFlashFailed;
  }
}

bool TQuorelMain::CheckDiscAndTray(AtapiDevice& engine) {
  view.SetText(Control::lblMsg, text::kCheckDiscTray);
  // No one could take the disc out or push the tray in: the drive is left as it is.
  if (Unattended()) return engine.IsDiscAbsent() && !engine.IsTrayOpen();
  for (int round = 0; round < kDiscCheckRounds; ++round) {
    if (engine.IsDiscAbsent()) {
      if (!engine.IsTrayOpen()) return true;
    } else {
      view.SetText(Control::lblMsg, text::kTrayOut);
      engine.TrayOut();
      engine.WaitReady(kReadyLimitSeconds);
      const bool trayCameOut = engine.SenseIs(kSenseKeyNotReady, kAscMediumNotPresent);
      view.ShowMessage(trayCameOut ? text::kRemoveDisc : text::kDiscLocked, MessageKind::Warning,
                       MessageButtons::Ok);
    }
    view.SetText(Control::lblMsg, text::kTrayIn);
    engine.TrayIn();
    view.SetText(Control::lblMsg, text::kWaitingReady);
    engine.WaitReady(kReadyLimitSeconds);
    if (engine.IsTrayOpen()) {
      view.ShowMessage(text::kPushTrayIn, MessageKind::Warning, MessageButtons::Ok);
    }
  }
  return false;
}

void TQuorelMain::WorkerFinished(Parser* /*sender*/) {
  if (runningWorkers <= 0) return;  // not a worker of this update
  --runningWorkers;
  // While the Update handler is still preparing later drives, a completion only counts down;
  // the handler finishes the update itself if nothing is left running when it is done.
  if (runningWorkers > 0 || preparing) return;
  FinishUpdate();
}

void TQuorelMain::FinishUpdate() {
  finishing = true;
  OnUnwind abandon([this] { EndUpdate(); });
  view.SetTimerEnabled(false);
  allSucceeded = 1;
  bool accessDenied = false;
  bool unconfirmed = false;
  for (int k = 0; k < jobCount; ++k) {
    if (jobEngines[k] == nullptr || jobEngines[k]->FlashResult == 0) continue;
    allSucceeded = 0;
    accessDenied = accessDenied || jobEngines[k]->Last().lastAccessDenied;
    unconfirmed = unconfirmed || jobEngines[k]->ProgramUnconfirmed();
  }
  NoteResults();
  DeleteJobEngines();

  SetProgressPosition(progressMax);
  view.SetText(Control::lblPercent, text::kPercentFull);
  view.SetText(Control::lblMsg, text::kInquiry);
  view.ProcessMessages();

  RereadDrives();
  for (int k = 0; k < jobCount; ++k) {
    if (const DeviceEntry* entry = listEngine ? listEngine->GetEntry(jobListIndex[k]) : nullptr) {
      Note(Format(text::kLogRevisionAfter, DriveAddress(jobListIndex[k]).c_str(),
                  FixedFieldText(entry->revision).c_str()));
    }
  }
  outcome = allSucceeded != 0 ? Outcome::Updated : Outcome::Failed;

  // No drive is being written any more: let the computer sleep and the session end again before
  // the report, so that neither a report left open nor the restart below is held back.
  EndUpdate();
  abandon.Release();
  view.SetEnabled(Control::cmdUpdate, true);
  view.SetEnabled(Control::cmdClose, true);

  if (allSucceeded == 0) {
    std::string message = text::kFlashFailed;
    if (placeholderRefused) message += text::kPlaceholderPartBlocks;
    if (accessDenied) message += text::kAccessDenied;
    if (unconfirmed) message += text::kProgramUnconfirmed;
    view.ShowMessage(message, MessageKind::Error, MessageButtons::Ok);
    view.Terminate();
    return;
  }
  if (settings.REBOOT == 0) Note(text::kLogNoRestart);
  view.SetColor(Control::lblMsg, kColorNavy);
  view.SetText(Control::lblMsg, text::kDone);
  view.ShowMessage(text::kFlashSucceeded, MessageKind::Information, MessageButtons::Ok);
  view.SetText(Control::lblMsg, "");
  cboDrivesChange();
  view.SetText(Control::lblPercent, text::kPercentZero);
  SetProgressPosition(0);

  if (settings.REBOOT != 0) {
    // Unattended, the caller decides on the restart unless it passed it on.
    if (Unattended() && !options.reboot) {
      restarted = RestartState::NotDone;
      Note(text::kLogRestartHeld);
    } else {
      restarted = Restart(osInfo, win::kEwxReboot) ? RestartState::Started : RestartState::NotDone;
      Note(restarted == RestartState::Started ? text::kLogRestartStarted
                                              : text::kLogRestartRefused);
    }
    view.Terminate();
  } else if (settings.CLOSEAP != 0 || Unattended()) {
    view.Terminate();
  }
}

void TQuorelMain::EndUpdate() {
  preparing = false;
  finishing = false;
  DeleteJobEngines();
  view.SetTimerEnabled(false);
  if (runningShown) {
    runningShown = false;
    view.SetUpdateRunning(false);
  }
}

void TQuorelMain::RereadDrives() {
  if (listEngine == nullptr) return;
  if (!Automatic()) {
    const int selected = view.SelectedDrive();
    // The updated drive is read again even when the user picked another line meanwhile, so that
    // its entry carries the revision it has now.
    const int16_t updated = jobCount > 0 ? jobListIndex[0] : -1;
    if (updated >= 0 && updated != selected && listEngine->SelectDevice(updated)) {
      listEngine->ReadIdentity();
    }
    if (selected >= 0 && listEngine->SelectDevice(static_cast<int16_t>(selected))) {
      listEngine->ReadIdentity();
    }
    FillDriveList();
    view.SelectDrive(selected);
  } else {
    const unsigned count = listEngine->DeviceCount();
    for (unsigned i = 0; i < count; ++i) {
      if (listEngine->SelectDevice(static_cast<int16_t>(i))) listEngine->ReadIdentity();
    }
    FillDriveList();
    listEngine->CloseDevice();
  }
}

void TQuorelMain::DeleteJobEngines() {
  for (AtapiDevice*& engine : jobEngines) {
    delete engine;
    engine = nullptr;
  }
}

}  // namespace quorel
