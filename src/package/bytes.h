// Reading fixed fields of byte records: texts that may lack their terminating zero, and
// little-endian numbers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorel {

// The characters of a fixed-width field up to its first zero, never more than widthBytes of them,
// so that a field without its zero cannot run on into the next.
inline std::string FixedFieldText(const char* field, std::size_t widthBytes) {
  return std::string(field, std::find(field, field + widthBytes, '\0'));
}
inline std::string FixedFieldText(const uint8_t* field, std::size_t widthBytes) {
  return FixedFieldText(reinterpret_cast<const char*>(field), widthBytes);
}
template <std::size_t N>
std::string FixedFieldText(const char (&field)[N]) {
  return FixedFieldText(field, N);
}

// The unsigned number stored in `bytes` (1 to 4) bytes at `at`, least significant first.
constexpr uint32_t ReadLittleEndian(const uint8_t* at, std::size_t bytes) {
  uint32_t value = 0;
  for (std::size_t i = bytes; i-- > 0;) value = value << 8 | at[i];
  return value;
}

}  // namespace quorel
