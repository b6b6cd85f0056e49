// The safety test's oracle: whether the commands before a final program command make it safe.
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
  bool reset = false;        // the drive reset right after it
};

inline bool IsFinal(const Cdb& cdb) {
  return cdb[0] == 0x3B && (cdb[9] == 0x80 || cdb[9] == 0xA0);
}

// True when the commands just before index `end` are one whole pass over the image: block by
// block a good write of the image bytes and a good read-back of the same bytes (withWrites), or
// a good read-back of every block once, in any order; a failed command counts only when it was
// re-sent at once and the re-send was good. `start` receives the index of the pass's first
// command.
inline bool PassPrecedes(const std::vector<Observed>& seen, size_t end, uint32_t blocks,
                         bool withWrites, size_t& start) {
  const int perBlock = withWrites ? 2 : 1;
  int step = perBlock * int(blocks) - 1;  // the last command of the pass
  std::vector<bool> read(blocks, false);
  size_t i = end;
  while (step >= 0) {
    if (i == 0) return false;
    --i;
    const Observed& c = seen[i];
    if (!c.good) {
      if (i + 1 < end && seen[i + 1].good && seen[i + 1].cdb == c.cdb) continue;
      return false;
    }
    uint32_t block = uint32_t(step / perBlock);
    if (!withWrites) {
      block = (uint32_t(c.cdb[3]) << 16 | uint32_t(c.cdb[4]) << 8 | c.cdb[5]) / kBlock;
      if (block >= blocks || read[block]) return false;
      read[block] = true;
    }
    const bool isRead = !withWrites || step % 2 != 0;
    const uint32_t offset = block * kBlock;
    const Cdb expected =
        isRead ? ReadBufferCdb(offset, kBlock) : WriteBufferCdb(offset, kBlock, 0x00);
    if (c.cdb != expected || !c.dataIsImage) return false;
    --step;
  }
  // The pass's first command may itself have been a re-send.
  if (i > 0 && !seen[i - 1].good && seen[i - 1].cdb == seen[i].cdb) --i;
  start = i;
  return true;
}

// True when a final program command at index `final` is safe: straight after a whole read-back
// pass, which follows either a whole write-and-verify attempt or a final command that failed
// (its one re-send, over a buffer found whole again).
inline bool FinalIsSafe(const std::vector<Observed>& seen, size_t final, uint32_t blocks) {
  size_t start = 0;
  if (!PassPrecedes(seen, final, blocks, false, start)) return false;
  if (start > 0 && IsFinal(seen[start - 1].cdb)) return !seen[start - 1].good;
  return PassPrecedes(seen, start, blocks, true, start);
}

}  // namespace quorel::test
