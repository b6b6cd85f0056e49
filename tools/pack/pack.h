// The packaging tool's operations on files. Each either completes or throws PackError and leaves
// nothing behind: an output is written to a temporary file and renamed only when complete.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "block.h"

namespace quorel::pack {

// Largest inputs read: a description, and a template or flasher.
inline constexpr std::uintmax_t kMaxDescriptionBytes = 1u << 20;
inline constexpr std::uintmax_t kMaxTemplateBytes = 64u << 20;

// The whole file, or PackError naming it; a file larger than maxBytes is refused unread.
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path,
                                   std::uintmax_t maxBytes = kMaxTemplateBytes);
// Writes `bytes` to `path` through a temporary file of a new, unique name beside it, created
// exclusively and renamed over `path` when complete, removed on any failure; with
// permissionsFrom, the file gets that file's permissions (a packed flasher stays executable where
// that matters).
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                         const std::filesystem::path& permissionsFrom = {});

// A copy of the template with its one template block replaced by `block`, and its one seal
// record sealing that block. templateName is used in messages. The template must be an i386 PE
// file whose block lies inside an initialised data section; requireWindowsExe false (tests
// packing a host program) skips that check.
std::vector<uint8_t> PatchTemplate(std::vector<uint8_t> templateBytes,
                                   const std::string& templateName,
                                   const std::vector<uint8_t>& block,
                                   bool requireWindowsExe = true);

// Makes a packed file signable and its checksum right: a certificate table the template carried
// (a signature of the template, which no longer matches) is cut off the end and its directory
// entry zeroed, and the PE checksum is computed anew. True when a signature was removed. A file
// that is no PE file is left alone.
bool MakeSignable(std::vector<uint8_t>& file, const std::string& fileName);

// How to pack: demo allows a template whose part blocks are not the drive maker's file;
// requireWindowsExe false (tests packing a host program) skips the check that the template is a
// Windows executable.
struct PackOptions {
  bool demo = false;
  bool requireWindowsExe = true;
};

// quorel-pack [--demo] TEMPLATE PACKAGE.ini OUT: returns the description's warnings, and a line
// saying so when the template's signature was removed. Refuses a
// template with placeholder or stand-in part blocks unless options.demo is set. OUT may be none
// of the inputs.
std::vector<std::string> PackFiles(const std::filesystem::path& templatePath,
                                   const std::filesystem::path& descriptionPath,
                                   const std::filesystem::path& outPath,
                                   const PackOptions& options = {});

// quorel-pack --make-demo-image REVISION OUT BYTES: writes MakeDemoImage's image to outPath.
// Refuses (PackError) more bytes than the image area holds.
void WriteDemoImage(const std::string& revision, const std::filesystem::path& outPath,
                    std::size_t bytes);

// The description of the one package block in `file`, with the state of its seal and each
// bank's size and SHA-256 as comments. When imageDir is not empty, each bank's image is written
// there as bankN.bin. signatureLine, when given, follows the seal's line (what the file's
// signature says, from a reader the packer's library does not carry).
std::string DumpBytes(const std::vector<uint8_t>& file, const std::string& fileName,
                      const std::filesystem::path& imageDir = {},
                      const std::string& signatureLine = {});
std::string DumpFile(const std::filesystem::path& flasherPath,
                     const std::filesystem::path& imageDir = {});

}  // namespace quorel::pack
