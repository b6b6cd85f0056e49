#include "demo_image.h"

#include <algorithm>
#include <cstring>

namespace quorel::pack {

std::vector<uint8_t> MakeDemoImage(const std::string& revision, std::size_t bytes) {
  std::string head = "QUOREL DEMO " + (revision + "    ").substr(0, 4);
  head += " synthetic test image, not drive firmware";
  head.push_back('\0');

  std::vector<uint8_t> image(bytes);
  if (bytes == 0) return image;
  std::memcpy(image.data(), head.data(), std::min(head.size(), bytes));
  // The rest: a fixed xorshift sequence, so that every block of the image differs.
  uint32_t state = 0x51554f52;
  for (std::size_t i = head.size(); i < bytes; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    image[i] = static_cast<uint8_t>(state >> 24);
  }
  return image;
}

}  // namespace quorel::pack
