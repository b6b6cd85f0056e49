#include "unit/flash/safety_oracle.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorel::test {
namespace {

// The oracle must reject what it is there to catch.
TEST(Safety, OracleRejectsUnverifiedAttempts) {
  auto w = [](uint32_t n, bool good = true, bool data = true) {
    return Observed{WriteBufferCdb(n * kBlock, kBlock, 0), good, data};
  };
  auto r = [](uint32_t n, bool good = true, bool data = true) {
    return Observed{ReadBufferCdb(n * kBlock, kBlock), good, data};
  };
  const Observed fin{WriteBufferCdb(0, 0, 0x80), true, false};
  const Observed failedFin{WriteBufferCdb(0, 0, 0x80), false, false};
  const struct {
    const char* name;
    std::vector<Observed> seen;
    bool safe;
  } rows[] = {
      {"whole attempt, whole pass", {w(0), r(0), w(1), r(1), r(0), r(1), fin}, true},
      {"re-sent write", {w(0), r(0), w(1, false), w(1), r(1), r(0), r(1), fin}, true},
      {"pass in another order", {w(0), r(0), w(1), r(1), r(1), r(0), fin}, true},
      {"re-sent read in the pass", {w(0), r(0), w(1), r(1), r(0, false), r(0), r(1), fin}, true},
      {"re-sent final over a whole pass",
       {w(0), r(0), w(1), r(1), r(0), r(1), failedFin, r(0), r(1), fin},
       true},
      {"no pass before the final", {w(0), r(0), w(1), r(1), fin}, false},
      {"pass incomplete", {w(0), r(0), w(1), r(1), r(1), fin}, false},
      {"pass reads other bytes", {w(0), r(0), w(1), r(1), r(0), r(1, true, false), fin}, false},
      {"final re-sent blindly", {w(0), r(0), w(1), r(1), r(0), r(1), failedFin, fin}, false},
      {"re-sent after a good final",
       {w(0), r(0), w(1), r(1), r(0), r(1), fin, r(0), r(1), fin},
       false},
      {"block skipped", {w(0), r(0), r(1), r(0), r(1), fin}, false},
      {"read-back differs", {w(0), r(0), w(1), r(1, true, false), r(0), r(1), fin}, false},
      {"failed write not re-sent", {w(0), r(0), w(1, false), r(1), r(0), r(1), fin}, false},
      {"wrong bytes written", {w(0, true, false), r(0), w(1), r(1), r(0), r(1), fin}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FinalIsSafe(row.seen, row.seen.size() - 1, 2), row.safe);
  }
}

}  // namespace
}  // namespace quorel::test
