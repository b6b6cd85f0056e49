// The host's locale collation, standing in for CompareStringA(LOCALE_USER_DEFAULT, 0, ...) where
// there is no Windows: the simulated machine answers CompareStringA with it.
#pragma once

namespace quorel {

// Compares two single-byte texts like a locale collation with letter case significant.
// A length of -1 means zero-terminated. Returns 1 when a sorts first, 2 when equal, 3 when b
// sorts first, 0 when a text is missing.
//
// First level, letters compared without case: blanks and punctuation sort before digits,
// digits before letters, letters alphabetically; a text that is the beginning of a longer one
// sorts first (so the empty text sorts first of all). Ties are then broken by case at the first
// position where it differs, lower case first: texts that differ only in case are not equal.
int HostCompareStringA(const char* a, int lengthA, const char* b, int lengthB);

}  // namespace quorel
