// The packaging tool's operations on files. Each either completes or throws PackError and leaves
// nothing behind: an output is written to a temporary file and renamed only when complete.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "block.h"

namespace quorel::pack {

// The whole file, or PackError naming it.
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path);
// Writes `bytes` to `path` through a temporary file beside it; with permissionsFrom, the file
// gets that file's permissions (a packed flasher stays executable where that matters).
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                         const std::filesystem::path& permissionsFrom = {});

// A copy of the template with its one template block replaced by `block`. templateName is used
// in messages.
std::vector<uint8_t> PatchTemplate(std::vector<uint8_t> templateBytes,
                                   const std::string& templateName,
                                   const std::vector<uint8_t>& block);

// quorel-pack [--demo] TEMPLATE PACKAGE.ini OUT: returns the description's warnings. Refuses a
// template with placeholder part blocks unless demo is set.
std::vector<std::string> PackFiles(const std::filesystem::path& templatePath,
                                   const std::filesystem::path& descriptionPath,
                                   const std::filesystem::path& outPath, bool demo = false);

// The description of the one package block in `file`, with each bank's size and SHA-256 as
// comments. When imageDir is not empty, each bank's image is written there as bankN.bin.
std::string DumpBytes(const std::vector<uint8_t>& file, const std::string& fileName,
                      const std::filesystem::path& imageDir = {});
std::string DumpFile(const std::filesystem::path& flasherPath,
                     const std::filesystem::path& imageDir = {});

}  // namespace quorel::pack
