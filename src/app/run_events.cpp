// The run's events as the log tells them: the package, the drives and their verdicts, each
// job's result and why a drive failed.
#include <string>

#include "app/main_helpers.h"
#include "app/quorel_main.h"
#include "app/run_log.h"
#include "app/texts.h"
#include "device/part_block_origin.h"
#include "package/bytes.h"

namespace quorel {

using detail::Format;

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
