#include "app/admission.h"

#include "flash/part_table.h"

namespace quorel {

Admission AdmitPackage(const PackageView& package, const PartBlockSource& partBlocks) {
  Admission admission;
  // A block that breaks the layout's limits would have the caption, the rules and the download
  // read outside its fields; nothing else of it is read.
  admission.fault = package.Validate();
  if (!admission.fault.empty()) {
    admission.verdict = Admission::Verdict::Invalid;
    return admission;
  }
  // A sealed package must still be the one that was packed: a copy damaged on its way would
  // otherwise program damaged firmware, verified byte for byte. Unsealed packages run as ever.
  // The part blocks lie outside the block, so no seal covers them: they must still be the bytes
  // their record describes, whether the package is sealed or not.
  admission.sealState = package.Seal();
  admission.partBlocksIntact =
      PartBlocksIntact(partBlocks.data, kPartBlockDataBytes, *partBlocks.origin);
  if (admission.sealState == seal::State::Mismatch || !admission.partBlocksIntact) {
    admission.verdict = Admission::Verdict::Damaged;
  } else if (admission.sealState == seal::State::Unreadable) {
    admission.verdict = Admission::Verdict::SealUnreadable;
  } else if (package.ReadSettings().HOW_MANY_BIN == 0) {
    admission.verdict = Admission::Verdict::NoFirmware;
  }
  return admission;
}

}  // namespace quorel
