// Which part blocks a quorel.exe carries, read from the record its build generated with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/part_block_origin.h"

namespace quorel::pack {

struct PartBlocks {
  PartBlockKind kind = PartBlockKind::Placeholder;
  std::string sha256;      // of the embedded bytes, 64 lower-case hexadecimal digits
  std::size_t offset = 0;  // of the record in the file; the part blocks follow it
};

// The record in `file`; nothing when there is none. PackError (naming fileName) when it occurs
// more than once.
std::optional<PartBlocks> FindPartBlocks(const std::vector<uint8_t>& file,
                                         const std::string& fileName);

// Refuses (PackError) to pack a template whose part blocks are not the drive maker's file
// (the placeholder, stand-in bytes, or unknown), unless the result is declared a demo.
void CheckPartBlocks(const std::vector<uint8_t>& templateFile, const std::string& templateName,
                     bool demo);

// One comment line for --dump.
std::string DescribePartBlocks(const std::vector<uint8_t>& file, const std::string& fileName);

}  // namespace quorel::pack
