#include "platform/collation.h"

#include <cstddef>
#include <cstring>

namespace quorel {
namespace {

bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
bool IsUpper(unsigned char c) {
  return c >= 'A' && c <= 'Z';
}
bool IsLower(unsigned char c) {
  return c >= 'a' && c <= 'z';
}

// First-level weight: every other byte (blanks, punctuation, bytes above 127) by its value,
// then the digits, then the letters without regard to case.
int PrimaryWeight(unsigned char c) {
  if (IsDigit(c)) return 0x100 + (c - '0');
  if (IsUpper(c)) return 0x200 + (c - 'A');
  if (IsLower(c)) return 0x200 + (c - 'a');
  return c;
}

int Result(int sign) {
  return sign < 0 ? 1 : (sign > 0 ? 3 : 2);
}

}  // namespace

int HostCompareStringA(const char* a, int lengthA, const char* b, int lengthB) {
  if (a == nullptr || b == nullptr) return 0;
  const std::size_t na = lengthA < 0 ? std::strlen(a) : static_cast<std::size_t>(lengthA);
  const std::size_t nb = lengthB < 0 ? std::strlen(b) : static_cast<std::size_t>(lengthB);
  const auto* ua = reinterpret_cast<const unsigned char*>(a);
  const auto* ub = reinterpret_cast<const unsigned char*>(b);

  const std::size_t common = na < nb ? na : nb;
  for (std::size_t i = 0; i < common; ++i) {
    const int wa = PrimaryWeight(ua[i]);
    const int wb = PrimaryWeight(ub[i]);
    if (wa != wb) return Result(wa - wb);
  }
  if (na != nb) return Result(na < nb ? -1 : 1);

  // Same letters: the first difference in case decides, lower case first.
  for (std::size_t i = 0; i < na; ++i) {
    if (ua[i] != ub[i]) return Result(IsLower(ua[i]) ? -1 : 1);
  }
  return 2;
}

}  // namespace quorel
