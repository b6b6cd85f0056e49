// Package blocks as the packaging tool handles them: placing the images, building a block from
// a description, finding a block inside an executable, and reading one back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "description.h"

namespace quorel::pack {

// The whole file; nothing when it is not a regular file or cannot be read.
std::optional<std::vector<uint8_t>> ReadFileIfPossible(const std::filesystem::path& path);

struct PlacedImage {
  std::vector<uint8_t> bytes;
  uint32_t start = 0;  // offset into the image area
};

// Reads every bank's image (paths relative to baseDir) and places it. Throws PackError naming
// fileName and the line of the bank's image or start key.
std::vector<PlacedImage> LoadImages(const PackageDescription& description,
                                    const std::filesystem::path& baseDir,
                                    const std::string& fileName);

// Places images already read, one per bank in order: each at its bank's start, or right after
// the previous bank. Refuses sizes that are not a positive multiple of 16,384, images that
// overlap or leave the image area, and an image that would read as the template placeholder.
std::vector<PlacedImage> PlaceImages(const PackageDescription& description,
                                     std::vector<std::vector<uint8_t>> images,
                                     const std::string& fileName);

// A whole block (layout::kBlockBytes) for the description: its texts, rules (placeholders where
// none is given), settings with HOW_MANY_BIN the number of banks, slots, and the images at their
// starts with every other byte of the image area zero.
std::vector<uint8_t> BuildBlock(const PackageDescription& description,
                                const std::vector<PlacedImage>& images);

enum class BlockKind {
  Template,  // key texts at their offsets, and both placeholders in place
  Any,       // key texts at their offsets
};
// Offsets in `file` at which a whole block of the kind starts.
std::vector<std::size_t> FindBlocks(const std::vector<uint8_t>& file, BlockKind kind);

// The offset of the one package block of any kind in `file`; PackError naming fileName when it
// occurs not exactly once.
std::size_t FindOneBlock(const std::vector<uint8_t>& file, const std::string& fileName);

// Offsets in `file` at which the byte string `pattern` starts, overlapping ones included.
std::vector<std::size_t> FindAll(const std::vector<uint8_t>& file, const uint8_t* pattern,
                                 std::size_t patternBytes);

// Offsets in `file` at which a whole seal record starts (its marker, room for the rest), outside
// the block at blockOffset: an image that happens to hold the marker is not a record.
std::vector<std::size_t> FindSealRecords(const std::vector<uint8_t>& file, std::size_t blockOffset);

// A block read back into a description (images named bank1.bin, ...), with what it holds.
struct ReadBack {
  PackageDescription description;
  std::vector<std::vector<uint8_t>> images;  // per bank; empty when the bank is unreadable
  std::vector<std::string> notes;            // per bank: size and SHA-256, or the fault
  std::string damage;                        // the view's validation message, if any
};
ReadBack ReadBlock(const uint8_t* block);

}  // namespace quorel::pack
