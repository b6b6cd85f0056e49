// Whether a package may be used, decided from the package and the part blocks the program would
// send, before anything is shown or any drive is touched.
#pragma once

#include <string>

#include "device/part_block_origin.h"
#include "package/package_view.h"

namespace quorel {

struct Admission {
  enum class Verdict {
    Usable,
    Invalid,         // the block breaks the layout's limits (`fault` says how)
    Damaged,         // the seal does not match, or the part blocks are not their record's
    SealUnreadable,  // a seal that cannot be read
    NoFirmware,      // HOW_MANY_BIN is 0
  };
  Verdict verdict = Verdict::Usable;
  std::string fault;
  // Read only once the block is valid.
  seal::State sealState = seal::State::Unsealed;
  bool partBlocksIntact = true;
};

Admission AdmitPackage(const PackageView& package, const PartBlockSource& partBlocks);

}  // namespace quorel
