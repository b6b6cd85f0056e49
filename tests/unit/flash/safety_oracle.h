// The safety test's oracle: whether the commands before a final program command complete one
// verified attempt at the whole image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "unit/flash/flash_rig.h"

namespace quorel::test {

// One pass-through command as the engine will judge it, and whether its data is the image's.
struct Observed {
  Cdb cdb{};
  bool good = false;
  bool dataIsImage = false;  // image writes: the bytes sent; reads: the bytes read back
};

inline bool IsFinal(const Cdb& cdb) {
  return cdb[0] == 0x3B && (cdb[9] == 0x80 || cdb[9] == 0xA0);
}

// True when the commands just before index `final` complete one verified attempt: block by block
// a good write of the image bytes and a good read-back of the same bytes, where a failed command
// counts only when it was re-sent at once and the re-send was good.
inline bool VerifiedAttemptPrecedes(const std::vector<Observed>& seen, size_t final,
                                    uint32_t blocks) {
  int step = int(2 * blocks) - 1;  // odd: read of block step/2; even: its write
  size_t i = final;
  while (step >= 0) {
    if (i == 0) return false;
    --i;
    const Observed& c = seen[i];
    if (!c.good) {
      if (i + 1 < final && seen[i + 1].good && seen[i + 1].cdb == c.cdb) continue;
      return false;
    }
    const uint32_t offset = uint32_t(step / 2) * kBlock;
    const Cdb expected =
        step % 2 != 0 ? ReadBufferCdb(offset, kBlock) : WriteBufferCdb(offset, kBlock, 0x00);
    if (c.cdb != expected || !c.dataIsImage) return false;
    --step;
  }
  return true;
}

}  // namespace quorel::test
