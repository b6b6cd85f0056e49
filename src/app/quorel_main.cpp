// The window's logic: start-up, the drive list and the handlers of its controls. The update's
// jobs are in update_jobs.cpp, the log's events in run_events.cpp.
#include "app/quorel_main.h"

#include <cstdio>
#include <exception>
#include <string>

#include "app/admission.h"
#include "app/main_helpers.h"
#include "app/texts.h"
#include "device/compat.h"
#include "package/bytes.h"

namespace quorel {

using detail::Format;
using detail::OnUnwind;
using detail::PresentAndUpdatable;

namespace {

constexpr int kProgressMaximum = 330;  // 33 s at one step per 100 ms tick

std::string ListLine(const DeviceEntry& entry) {
  const std::string root = FixedFieldText(entry.rootPath);
  const std::string ident = FixedFieldText(entry.identText);
  const std::string revision = FixedFieldText(entry.revision);
  char line[96];
  std::snprintf(line, sizeof line, text::kListLineFormat, entry.adapter, entry.path, entry.target,
                entry.lun, root.c_str(), ident.c_str(), revision.c_str());
  return line;
}

}  // namespace

TQuorelMain::TQuorelMain(MainView& view, const PackageView& package, const RunOptions& options)
    : view(view), package(package), options(options) {
  const Admission admission = AdmitPackage(package, ActivePartBlocks());
  const char* refusal = nullptr;
  switch (admission.verdict) {
    case Admission::Verdict::Invalid:
      outcome = Outcome::PackageUnusable;
      Note(text::kLogPackageRefused + admission.fault);
      view.ShowMessage(text::kInvalidPackage + admission.fault, MessageKind::Error,
                       MessageButtons::Ok);
      view.Terminate();
      return;
    case Admission::Verdict::Damaged:
      refusal = text::kPackageDigestMismatch;
      break;
    case Admission::Verdict::SealUnreadable:
      refusal = text::kPackageSealUnreadable;
      break;
    case Admission::Verdict::Usable:
    case Admission::Verdict::NoFirmware:
      break;
  }
  NotePackage(admission.sealState, admission.partBlocksIntact);
  if (refusal != nullptr) {
    outcome = Outcome::PackageUnusable;
    view.ShowMessage(refusal, MessageKind::Error, MessageButtons::Ok);
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

  if (admission.verdict == Admission::Verdict::NoFirmware) {
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
  if (options.check) {
    outcome = CheckOutcome();
    Note(outcome == Outcome::UpdateApplies ? text::kLogCheckApplies
         : outcome == Outcome::Failed      ? text::kLogCheckUnread
                                           : text::kLogCheckNothing);
    view.Terminate();
    return;
  }
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
    if ((Unattended() || KeepUpToDate()) && !UpdateRunning() && outcome == Outcome::Running) {
      outcome = Outcome::NothingToDo;
      if (Unattended()) view.Terminate();
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
  if (updatable == 0 && options.check) return true;  // the check's verdict: nothing to do
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

Outcome TQuorelMain::CheckOutcome() const {
  bool applies = false;
  for (unsigned i = 0; listEngine != nullptr && i < listEngine->DeviceCount(); ++i) {
    const DeviceEntry* entry = listEngine->GetEntry(i);
    if (entry == nullptr || entry->present != 1) continue;
    // A drive that answered no INQUIRY cannot be judged: the check says so instead of guessing.
    if (FixedFieldText(entry->identText).find_first_not_of(' ') == std::string::npos) {
      return Outcome::Failed;
    }
    if (PresentAndUpdatable(entry) && (options.force || !CarriesNewRevision(*entry, package))) {
      applies = true;
    }
  }
  return applies ? Outcome::UpdateApplies : Outcome::NothingToDo;
}

}  // namespace quorel
