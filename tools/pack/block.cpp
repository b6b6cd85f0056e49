#include "block.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "package/bytes.h"
#include "package/package_view.h"
#include "package/seal.h"
#include "package/sha256.h"

namespace quorel::pack {
namespace {

using namespace layout;

constexpr std::size_t kImageUnitBytes = 16'384;

std::string Located(const std::string& fileName, int line, const std::string& message) {
  return fileName + ":" + std::to_string(line) + ": " + message;
}

// Key and value at the field's offset, the rest of the field zero.
void Put(std::vector<uint8_t>& block, std::size_t offset, std::size_t width, std::string_view key,
         std::string_view value) {
  if (key.size() + value.size() >= width) throw std::logic_error("text does not fit its field");
  std::fill_n(block.begin() + offset, width, 0);
  std::copy(key.begin(), key.end(), block.begin() + offset);
  std::copy(value.begin(), value.end(), block.begin() + offset + key.size());
}

void Put(std::vector<uint8_t>& block, const Field& field, std::string_view value) {
  Put(block, field.offset, field.width, field.key, value);
}

std::string TenDigits(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%010lu", static_cast<unsigned long>(value));
  return text;
}

Rule PlaceholderRule(int bank, int entry) {
  const std::string mark(kPlaceholderMark);
  return {PlaceholderMinRevision(bank, entry).data(), mark, mark, mark};
}

bool SameRule(const Rule& a, const Rule& b) {
  return a.minRevision == b.minRevision && a.maxRevision == b.maxRevision && a.vendor == b.vendor &&
         a.product == b.product;
}

bool KeysInPlace(const uint8_t* block) {
  for (const Field& field : KeyedFields()) {
    if (std::memcmp(block + field.offset, field.key.data(), field.key.size()) != 0) return false;
  }
  return true;
}

bool PlaceholdersInPlace(const uint8_t* block) {
  return std::memcmp(block + kTexts[kTitle].offset, kTitlePlaceholder, sizeof kTitlePlaceholder) ==
             0 &&
         std::memcmp(block + kImageOffset, kImagePlaceholder, sizeof kImagePlaceholder - 1) == 0;
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadFileIfPossible(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  std::ifstream in(path, std::ios::binary);
  if (error || !in || size > std::numeric_limits<std::size_t>::max()) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.gcount() != static_cast<std::streamsize>(bytes.size())) return std::nullopt;
  return bytes;
}

std::vector<PlacedImage> LoadImages(const PackageDescription& description,
                                    const std::filesystem::path& baseDir,
                                    const std::string& fileName) {
  std::vector<std::vector<uint8_t>> images;
  for (const BankDescription& bank : description.banks) {
    const std::filesystem::path path = baseDir / bank.image;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > kImageBytes) {
      throw PackError(Located(fileName, bank.imageLine,
                              "image '" + bank.image + "' is " + std::to_string(size) +
                                  " bytes; the image area holds " + std::to_string(kImageBytes)));
    }
    std::optional<std::vector<uint8_t>> bytes = ReadFileIfPossible(path);
    if (!bytes) {
      throw PackError(Located(fileName, bank.imageLine,
                              "cannot read image '" + bank.image + "' (" + path.string() + ")"));
    }
    images.push_back(std::move(*bytes));
  }
  return PlaceImages(description, std::move(images), fileName);
}

std::vector<PlacedImage> PlaceImages(const PackageDescription& description,
                                     std::vector<std::vector<uint8_t>> images,
                                     const std::string& fileName) {
  if (images.size() != description.banks.size()) {
    throw std::logic_error("one image per bank expected");
  }
  std::vector<PlacedImage> placed;
  uint64_t next = 0;  // where a bank without its own start goes
  for (std::size_t b = 0; b < images.size(); ++b) {
    const BankDescription& bank = description.banks[b];
    const std::string name = "[bank" + std::to_string(b + 1) + "]";
    const uint64_t size = images[b].size();
    if (size == 0 || size % kImageUnitBytes != 0) {
      throw PackError(Located(fileName, bank.imageLine,
                              "image '" + bank.image + "' is " + std::to_string(size) +
                                  " bytes; it must be a positive multiple of 16384"));
    }
    const uint64_t start = bank.start ? *bank.start : next;
    const int line = bank.start ? bank.startLine : bank.imageLine;
    if (start + size > kImageBytes) {
      throw PackError(Located(fileName, line,
                              name + " image ends at byte " + std::to_string(start + size) +
                                  ", past the image area of " + std::to_string(kImageBytes) +
                                  " bytes"));
    }
    for (std::size_t other = 0; other < placed.size(); ++other) {
      const uint64_t otherStart = placed[other].start;
      const uint64_t otherEnd = otherStart + placed[other].bytes.size();
      if (start < otherEnd && otherStart < start + size) {
        throw PackError(
            Located(fileName, line,
                    name + " image overlaps the image of [bank" + std::to_string(other + 1) + "]"));
      }
    }
    if (start == 0 &&
        std::memcmp(images[b].data(), kImagePlaceholder, kImagePlaceholderTestBytes) == 0) {
      throw PackError(Located(fileName, bank.imageLine,
                              "image '" + bank.image +
                                  "' begins like the template's empty image area; the program "
                                  "would take the package for an empty template"));
    }
    placed.push_back({std::move(images[b]), static_cast<uint32_t>(start)});
    next = start + size;
  }
  return placed;
}

std::vector<uint8_t> BuildBlock(const PackageDescription& description,
                                const std::vector<PlacedImage>& images) {
  std::vector<uint8_t> block(kBlockBytes, 0);
  for (int t = 0; t < kTextCount; ++t) Put(block, kTexts[t], description.texts[t]);

  Put(block, kTableKey, "");
  for (int b = 0; b < kBanks; ++b) {
    for (int e = 0; e < kEntriesPerBank; ++e) {
      const bool given = static_cast<std::size_t>(b) < description.banks.size() &&
                         description.banks[b].rules[e].has_value();
      const Rule rule = given ? *description.banks[b].rules[e] : PlaceholderRule(b, e);
      const std::string* texts[] = {&rule.minRevision, &rule.maxRevision, &rule.vendor,
                                    &rule.product};
      for (int f = 0; f < kEntryFieldCount; ++f) {
        Put(block, EntryOffset(b, e) + kEntryFields[f].offset, kEntryFields[f].width, "",
            *texts[f]);
      }
    }
  }

  for (int s = 0; s < kDescribedSettings; ++s) {
    Put(block, kSettings[s], std::string(1, static_cast<char>('0' + description.settings[s])));
  }
  Put(block, kSettings[kHOW_MANY_BIN], std::to_string(description.banks.size()));

  for (int b = 0; b < kBanks; ++b) {
    const bool used = static_cast<std::size_t>(b) < images.size();
    Put(block, kStartSlots[b], TenDigits(used ? images[b].start : 0));
    Put(block, kSizeSlots[b], TenDigits(used ? static_cast<uint32_t>(images[b].bytes.size()) : 0));
    Put(block, kNewRevisionSlots[b], used ? description.banks[b].newRevision : "N/A ");
  }

  for (const PlacedImage& image : images) {
    std::copy(image.bytes.begin(), image.bytes.end(), block.begin() + kImageOffset + image.start);
  }
  return block;
}

std::vector<std::size_t> FindBlocks(const std::vector<uint8_t>& file, BlockKind kind) {
  // Search for one distinctive text and test the whole layout around each place it occurs.
  const std::string_view anchor =
      kind == BlockKind::Template ? std::string_view(kImagePlaceholder) : kTableKey.key;
  const std::size_t anchorOffset = kind == BlockKind::Template ? kImageOffset : kTableKey.offset;

  std::vector<std::size_t> found;
  for (const std::size_t at :
       FindAll(file, reinterpret_cast<const uint8_t*>(anchor.data()), anchor.size())) {
    if (at < anchorOffset || at - anchorOffset + kBlockBytes > file.size()) continue;
    const uint8_t* block = file.data() + (at - anchorOffset);
    if (!KeysInPlace(block)) continue;
    if (kind == BlockKind::Template && !PlaceholdersInPlace(block)) continue;
    found.push_back(at - anchorOffset);
  }
  return found;
}

std::size_t FindOneBlock(const std::vector<uint8_t>& file, const std::string& fileName) {
  const std::vector<std::size_t> found = FindBlocks(file, BlockKind::Any);
  if (found.size() != 1) {
    throw PackError(fileName + ": the package block occurs " + std::to_string(found.size()) +
                    " times; it must occur exactly once");
  }
  return found[0];
}

std::vector<std::size_t> FindAll(const std::vector<uint8_t>& file, const uint8_t* pattern,
                                 std::size_t patternBytes) {
  const std::boyer_moore_horspool_searcher searcher(pattern, pattern + patternBytes);
  std::vector<std::size_t> found;
  for (auto from = file.begin();;) {
    const auto hit = std::search(from, file.end(), searcher);
    if (hit == file.end()) return found;
    found.push_back(static_cast<std::size_t>(hit - file.begin()));
    from = hit + 1;
  }
}

std::vector<std::size_t> FindSealRecords(const std::vector<uint8_t>& file,
                                         std::size_t blockOffset) {
  const std::array<uint8_t, seal::kMarkerBytes> marker = seal::Marker();
  std::vector<std::size_t> found;
  for (const std::size_t at : FindAll(file, marker.data(), marker.size())) {
    const bool inBlock = at + seal::kRecordBytes > blockOffset && at < blockOffset + kBlockBytes;
    if (!inBlock && at + seal::kRecordBytes <= file.size()) found.push_back(at);
  }
  return found;
}

ReadBack ReadBlock(const uint8_t* block) {
  ReadBack back;
  const PackageView view(block);
  back.damage = view.Validate();

  PackageDescription& d = back.description;
  for (int t = 0; t < kTextCount; ++t) {
    d.texts[t] = FixedFieldText(block + kTexts[t].offset, kTexts[t].width);
  }
  const PackageSettings settings = view.ReadSettings();
  const uint8_t values[kDescribedSettings] = {
      settings.N2OMESSAGE, settings.CHKDISC, settings.BOOTCODE, settings.REBOOT,
      settings.AUTOMODE,   settings.CLOSEAP, settings.WARNING,  settings.NBWARNING};
  std::copy(std::begin(values), std::end(values), d.settings.begin());

  const int banks = std::min<int>(settings.HOW_MANY_BIN, kBanks);
  for (int b = 0; b < banks; ++b) {
    BankDescription bank;
    bank.image = "bank" + std::to_string(b + 1) + ".bin";
    const BankImage image = view.Bank(b);
    if (image.startBytes >= 0) bank.start = static_cast<uint32_t>(image.startBytes);
    bank.newRevision = FixedFieldText(block + kNewRevisionSlots[b].ValueOffset(),
                                      kNewRevisionSlots[b].MaxValueChars() + 1);
    for (int e = 0; e < kEntriesPerBank; ++e) {
      const uint8_t* at = block + EntryOffset(b, e);
      std::string texts[kEntryFieldCount];
      for (int f = 0; f < kEntryFieldCount; ++f) {
        texts[f] = FixedFieldText(at + kEntryFields[f].offset, kEntryFields[f].width);
      }
      const Rule rule = {texts[0], texts[1], texts[2], texts[3]};
      if (!SameRule(rule, PlaceholderRule(b, e))) bank.rules[e] = rule;
    }

    const bool readable = image.startBytes >= 0 && image.sizeBytes >= 0 &&
                          int64_t{image.startBytes} + image.sizeBytes <= int64_t(kImageBytes);
    if (readable) {
      back.images.emplace_back(image.image, image.image + image.sizeBytes);
      back.notes.push_back("size " + std::to_string(image.sizeBytes) + " bytes, SHA-256 " +
                           Sha256Hex(image.image, static_cast<std::size_t>(image.sizeBytes)));
    } else {
      back.images.emplace_back();
      back.notes.push_back("unreadable: start " + std::to_string(image.startBytes) + ", size " +
                           std::to_string(image.sizeBytes) + " leave the image area");
    }
    d.banks.push_back(std::move(bank));
  }
  return back;
}

}  // namespace quorel::pack
