#include "app/quorel_main.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "app/run_log.h"
#include "app/texts.h"
#include "device/compat.h"
#include "device/part_block_origin.h"
#include "flash/part_table.h"
#include "flash/sense_codes.h"
#include "package/bytes.h"

namespace quorel {

namespace {

constexpr int kProgressMaximum = 330;  // 33 s at one step per 100 ms tick
constexpr int kReadyLimitSeconds = 120;
// Rounds of the disc and tray check before it gives up on a drive; each round that finds a disc
// or an open tray asks the user to act.
constexpr int kDiscCheckRounds = 5;

std::string ListLine(const DeviceEntry& entry) {
  const std::string root = FixedFieldText(entry.rootPath);
  const std::string ident = FixedFieldText(entry.identText);
  const std::string revision = FixedFieldText(entry.revision);
  char line[96];
  std::snprintf(line, sizeof line, text::kListLineFormat, entry.adapter, entry.path, entry.target,
                entry.lun, root.c_str(), ident.c_str(), revision.c_str());
  return line;
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char line[320];
  std::snprintf(line, sizeof line, format, args...);
  return line;
}

bool PresentAndUpdatable(const DeviceEntry* entry) {
  return entry != nullptr && entry->present == 1 && entry->updatable == 1;
}

// Runs `undo` when the scope is left by an exception, unless released first.
template <typename Undo>
class OnUnwind {
 public:
  explicit OnUnwind(Undo undo) : undo_(std::move(undo)) {}
  ~OnUnwind() {
    if (!armed_ || std::uncaught_exceptions() <= exceptions_) return;
    try {
      undo_();
    } catch (...) {
      // The exception already on its way is the one to report.
    }
  }
  OnUnwind(const OnUnwind&) = delete;
  OnUnwind& operator=(const OnUnwind&) = delete;
  void Release() { armed_ = false; }

 private:
  Undo undo_;
  bool armed_ = true;
  int exceptions_ = std::uncaught_exceptions();
};

}  // namespace

TQuorelMain::TQuorelMain(MainView& view, const PackageView& package, const RunOptions& options)
    : view(view), package(package), options(options) {
  // A block that breaks the layout's limits would have the caption, the rules and the download
  // read outside its fields; refuse it before anything of it is used.
  const std::string fault = package.Validate();
  if (!fault.empty()) {
    outcome = Outcome::PackageUnusable;
    Note(text::kLogPackageRefused + fault);
    view.ShowMessage(text::kInvalidPackage + fault, MessageKind::Error, MessageButtons::Ok);
    view.Terminate();
    return;
  }
  // A sealed package must still be the one that was packed: a copy damaged on its way would
  // otherwise program damaged firmware, verified byte for byte. Unsealed packages run as ever.
  // The part blocks lie outside the block, so no seal covers them: they must still be the bytes
  // the build embedded, whether the package is sealed or not.
  const seal::State sealState = package.Seal();
  const PartBlockSource& partBlocks = ActivePartBlocks();
  const bool partsIntact =
      PartBlocksIntact(partBlocks.data, kPartBlockDataBytes, *partBlocks.origin);
  const bool damaged = sealState == seal::State::Mismatch || !partsIntact;
  NotePackage(sealState, partsIntact);
  if (damaged || sealState == seal::State::Unreadable) {
    outcome = Outcome::PackageUnusable;
    view.ShowMessage(damaged ? text::kPackageDigestMismatch : text::kPackageSealUnreadable,
                     MessageKind::Error, MessageButtons::Ok);
    view.Terminate();
    return;
  }

  // Caption: the package's title, unless the block still carries the template's placeholder.
  view.SetCaption(package.TitleText());
  const std::string caption = view.Caption();
  const std::string ruled = CaptionFor(caption.c_str(), package.VersionText());
  if (ruled != caption) view.SetCaption(ruled);

  settings = package.ReadSettings();
  imagePointer = package.ImageArea();
  imageStart = 0;
  imageSize = 0;

  if (settings.HOW_MANY_BIN == 0) {
    outcome = Outcome::PackageUnusable;
    Note(std::string(text::kLogPackageRefused) + text::kNoFirmware);
    view.ShowMessage(text::kNoFirmware, MessageKind::Error, MessageButtons::Ok);
    view.Terminate();
    return;
  }

  view.SetText(Control::lblMsg, "");
  view.SetText(Control::lblPercent, text::kPercentZero);
  SetProgressPosition(0);

  // An exception that leaves start-up leaves no destructor to run: the list engine goes here.
  OnUnwind releaseDrives([this] { FormDestroy(); });
  if (!DriveStartup()) return;
  if (settings.WARNING == 1 && !ConfirmNotice()) {
    outcome = Outcome::Declined;
    view.Terminate();
    return;
  }
  view.RemoveCloseFromSystemMenu();
  releaseDrives.Release();
  if (Automatic()) {
    try {
      cmdUpdateClick();
    } catch (...) {
      startupError = std::current_exception();
      outcome = Outcome::Failed;
      view.Terminate();
    }
    // Unattended, with nothing left to write: the run ends here.
    if (Unattended() && !UpdateRunning() && outcome == Outcome::Running) {
      outcome = Outcome::NothingToDo;
      view.Terminate();
    }
  }
}

TQuorelMain::~TQuorelMain() {
  FormDestroy();
  // Engines of an update whose workers are still running stay alive: a worker may still use its
  // engine, and leaking it is the only safe choice at this point.
  if (runningWorkers == 0) DeleteJobEngines();
}

bool TQuorelMain::UpdateRunning() const {
  return preparing || finishing || runningWorkers > 0;
}

bool TQuorelMain::DriveStartup() {
  detectedDrivesText.clear();
  g_transportRequest = kTransportRequestAspi;

  try {
    listEngine = new AtapiDevice(true);
  } catch (const std::exception&) {
    listEngine = nullptr;
  }
  if (listEngine == nullptr) {
    outcome = Outcome::Failed;
    Note(text::kLogDeviceInitFailed);
    platform().MessageBoxA(text::kDeviceInitFailed, text::kDeviceInitFailedCaption,
                           win::kMbOk | win::kMbIconError);
    view.Terminate();
    view.ProcessMessages();
    return false;
  }

  FillDriveList();
  listEngine->CloseDevice();
  cboDrivesChange();
  Note(Format(text::kLogTransport, listEngine->UseAspi() ? text::kLogAspi : text::kLogPassThrough));
  NoteDrives();

  int updatable = 0;
  for (unsigned i = 0; i < listEngine->DeviceCount(); ++i) {
    if (PresentAndUpdatable(listEngine->GetEntry(i))) ++updatable;
  }
  if (updatable == 0) {
    outcome = Outcome::NoDrive;
    Note(text::kLogNoDrive);
    std::string message = text::kNoMatch;
    message += text::kNoMatchLead;
    message += package.DriveName();
    message += text::kNoMatchDriveEnd;
    message += text::kDetectedDrives;
    message += detectedDrivesText;
    view.ShowMessage(message, MessageKind::Error, MessageButtons::Ok);
    view.Terminate();
    return false;
  }
  return true;
}

bool TQuorelMain::ConfirmNotice() {
  std::string notice = text::kNoticeLead;
  notice += package.DriveName();
  notice += text::kNoticeDriveEnd;
  notice += text::kNoticeHeading;
  notice += text::kNoticeItem1;
  notice += text::kNoticeItem2;
  if (settings.NBWARNING == 1) notice += text::kNoticeItem3;
  notice += text::kNoticeQuestion;
  const bool yes =
      view.ShowMessage(notice, MessageKind::Warning, MessageButtons::YesNo) == MessageResult::Yes;
  Note(std::string(text::kLogNotice) + (yes ? "yes" : "no"));
  return yes;
}

void TQuorelMain::FillDriveList() {
  view.ClearDrives();
  detectedDrivesText.clear();
  if (listEngine == nullptr) return;

  const unsigned count = listEngine->DeviceCount();
  for (unsigned i = 0; i < count; ++i) {
    const DeviceEntry* entry = listEngine->GetEntry(i);
    if (entry == nullptr) continue;
    const std::string line = ListLine(*entry);
    detectedDrivesText += line;
    detectedDrivesText += '\n';
    view.AddDrive(line);
  }
  for (unsigned i = 0; i < count; ++i) {
    if (DeviceEntry* entry = listEngine->GetEntry(i)) {
      ApplyCompatibilityRules(*entry, package, settings);
    }
  }
  for (unsigned i = 0; i < count; ++i) {
    if (PresentAndUpdatable(listEngine->GetEntry(i))) {
      view.SelectDrive(static_cast<int>(i));
      break;
    }
  }
}

void TQuorelMain::cboDrivesChange() {
  if (listEngine == nullptr) return;
  const int selected = view.SelectedDrive();
  if (selected < 0) return;
  const DeviceEntry* entry = listEngine->GetEntry(static_cast<unsigned>(selected));
  if (entry == nullptr) return;

  if (entry->updatable == 0) {
    view.SetEnabled(Control::cmdUpdate, false);
    view.SetVisible(Control::lblOldFW, false);
    view.SetVisible(Control::lblNewFW, false);
    view.SetText(Control::lblUpdateMsg, text::kNotAllowed);
    view.SetColor(Control::lblUpdateMsg, kColorMaroon);
    return;
  }
  view.SetEnabled(Control::cmdUpdate, !UpdateRunning());
  view.SetVisible(Control::lblOldFW, true);
  view.SetVisible(Control::lblNewFW, true);
  view.SetText(Control::lblUpdateMsg, text::kWillBeUpdated);
  view.SetColor(Control::lblUpdateMsg, kColorBlack);
  view.SetText(Control::lblNewFW, package.NewRevisionText(entry->bankIndex));
  view.SetText(Control::lblOldFW, FixedFieldText(entry->revision));
  listEngine->SelectDevice(static_cast<int16_t>(selected));
}

void TQuorelMain::cmdUpdateClick() {
  // One update at a time: the button is disabled meanwhile, but the handler guards itself too.
  if (UpdateRunning() || listEngine == nullptr) return;

  jobCount = 0;
  runningWorkers = 0;
  placeholderRefused = false;
  preparing = true;
  // An exception while the workers are being started ends the preparation here. Workers already
  // started keep their engines, and the last one's completion finishes the update; with none
  // running, the update ends at once.
  for (const char*& refusal : jobRefusal) refusal = nullptr;
  OnUnwind abandon([this] {
    preparing = false;
    if (runningWorkers == 0) EndUpdate();
  });
  if (!CreateJobEngines() || jobCount == 0) {  // no drive to update: nothing changes
    abandon.Release();
    preparing = false;
    return;
  }

  runningShown = true;
  view.SetUpdateRunning(true);
  for (int k = 0; k < jobCount; ++k) StartWorker(k);
  preparing = false;
  abandon.Release();

  if (runningWorkers == 0) {
    // Every worker finished while later drives were being prepared (or none could start): their
    // completions were held back, so the update ends here, once.
    FinishUpdate();
    return;
  }
  progressMax = kProgressMaximum;
  view.SetProgressRange(0, progressMax);
  view.SetTimerEnabled(true);
  view.SetEnabled(Control::cmdUpdate, false);
  view.SetEnabled(Control::cmdClose, false);
  view.SetColor(Control::lblMsg, kColorMaroon);
}

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
        if (Unattended() && !options.force && entry->upToDate == 1) {
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

void TQuorelMain::tmrTimer() {
  if (progressPosition >= progressMax) {
    view.SetText(Control::lblMsg, text::kProgrammingFull);
    return;
  }
  SetProgressPosition(progressPosition + 1);
  view.SetText(Control::lblPercent,
               std::to_string(progressPosition * 100 / progressMax) + text::kPercentSuffix);
  view.SetText(Control::lblMsg,
               std::string(text::kProgramming) + std::string(progressPosition % 10, '.'));
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

void TQuorelMain::cmdCloseClick() {
  // Never while an update runs: a flash cut short leaves a drive that no longer starts.
  if (UpdateRunning()) return;
  view.Terminate();
}

void TQuorelMain::FormDestroy() {
  delete listEngine;
  listEngine = nullptr;
}

void TQuorelMain::SetProgressPosition(int position) {
  progressPosition = position;
  view.SetProgressPosition(position);
}

void TQuorelMain::Note(const std::string& line) const {
  if (options.log != nullptr) options.log->Line(line);
}

void TQuorelMain::NotePackage(seal::State sealState, bool partBlocksIntact) const {
  if (options.log == nullptr) return;
  const char* sealText = text::kLogUnsealed;
  if (sealState == seal::State::Verified) sealText = text::kLogSealVerified;
  if (sealState == seal::State::Mismatch) sealText = text::kLogSealMismatch;
  if (sealState == seal::State::Unreadable) sealText = text::kLogSealUnreadable;
  const uint8_t kind = ActivePartBlocks().origin->kind;
  const char* origin = kind == static_cast<uint8_t>(PartBlockKind::Maker) ? text::kLogPartsMaker
                       : kind == static_cast<uint8_t>(PartBlockKind::StandIn)
                           ? text::kLogPartsStandIn
                           : text::kLogPartsPlaceholder;
  Note(Format(text::kLogPackage, package.TitleText(), package.NewRevisionText(0), sealText, origin,
              partBlocksIntact ? text::kLogPartsIntact : text::kLogPartsDamaged));
}

std::string TQuorelMain::DriveAddress(int16_t listIndex) const {
  const DeviceEntry* entry =
      listEngine != nullptr ? listEngine->GetEntry(static_cast<unsigned>(listIndex)) : nullptr;
  if (entry == nullptr) return "?";
  std::string address =
      Format("%d-%d-%d-%d", entry->adapter, entry->path, entry->target, entry->lun);
  const std::string root = FixedFieldText(entry->rootPath);
  if (!root.empty()) {
    address += " (";
    address.append(root, 0, 2);
    address += ')';
  }
  return address;
}

void TQuorelMain::NoteDrives() const {
  if (options.log == nullptr || listEngine == nullptr) return;
  for (unsigned i = 0; i < listEngine->DeviceCount(); ++i) {
    const DeviceEntry* entry = listEngine->GetEntry(i);
    if (entry == nullptr) continue;
    std::string decision = text::kLogRefusedByRules;
    if (entry->updatable == 1) {
      decision = entry->upToDate == 1 ? text::kLogUpToDate : text::kLogMayUpdate;
      decision += package.NewRevisionText(entry->bankIndex);
    }
    std::string identity = FixedFieldText(entry->identText);
    identity.erase(identity.find_last_not_of(' ') + 1);
    Note(Format(text::kLogDrive, DriveAddress(static_cast<int16_t>(i)).c_str(), identity.c_str(),
                FixedFieldText(entry->revision).c_str(), decision.c_str()));
  }
}

void TQuorelMain::NoteResults() {
  if (options.log == nullptr) return;
  for (int k = 0; k < jobCount; ++k) {
    const AtapiDevice* engine = jobEngines[k];
    const std::string address = DriveAddress(jobListIndex[k]);
    if (jobRefusal[k] != nullptr) {
      Note(Format(text::kLogNotStarted, address.c_str(), jobRefusal[k]));
      continue;
    }
    if (engine != nullptr && engine->FlashResult == 0) {
      Note(Format(text::kLogSucceeded, address.c_str()));
      continue;
    }
    Note(Format(text::kLogFailed, address.c_str()));
    if (engine == nullptr) continue;
    if (engine->ProgramUnconfirmed()) Note(Format(text::kLogUnconfirmed, address.c_str()));
    if (!engine->LastMismatch().empty()) {
      Note(Format(text::kLogReadBack, address.c_str(), engine->LastMismatch().c_str()));
    }
    const LastCommandRecord& last = engine->Last();
    std::string why = text::kLogNoAnswer;
    if (last.lastRefused) {
      why = text::kLogNotSent;
    } else if (last.lastAccessDenied) {
      why = text::kLogAccessDenied;
    } else if (last.lastTimedOut) {
      why = text::kLogTimedOut;
    } else if (last.lastOutcome == kOutcomeSense) {
      why = Format(text::kLogSense, last.lastSenseKey, last.lastAsc, last.lastAscq);
    } else if (last.lastOutcome == kOutcomeGood) {
      continue;  // the command went well; the read-back line says what did not
    }
    Note(Format(text::kLogLastCommand, address.c_str(), last.lastCdb[0], why.c_str()));
  }
}

}  // namespace quorel
