// A synthetic, deterministic firmware image for tests and demonstrations. It is not firmware:
// the simulated drive recognises it by its first 12 characters "QUOREL DEMO " and takes bytes
// 12-15 as the revision that programming it installs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorel::pack {

// `revision` is cut or padded with blanks to 4 characters. Same arguments, same bytes.
std::vector<uint8_t> MakeDemoImage(const std::string& revision, std::size_t bytes);

}  // namespace quorel::pack
