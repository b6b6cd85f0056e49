#include "pack.h"

#include <fstream>
#include <string_view>

#include "package/layout.h"
#include "package/seal.h"
#include "part_blocks.h"

namespace quorel::pack {
namespace {

// What the file's seal record says about the block at blockOffset.
std::string SealLine(const std::vector<uint8_t>& file, std::size_t blockOffset) {
  const std::vector<std::size_t> seals = FindSealRecords(file, blockOffset);
  if (seals.empty()) return "unsealed (no seal record in the file)";
  if (seals.size() > 1) {
    return "seal record found " + std::to_string(seals.size()) + " times: not checked";
  }
  switch (seal::Check(file.data() + seals[0], file.data() + blockOffset)) {
    case seal::State::Unsealed:
      return "unsealed";
    case seal::State::Verified:
      return "sealed, digest verified";
    case seal::State::Mismatch:
      return "sealed, DIGEST MISMATCH";
    case seal::State::Unreadable:
      break;
  }
  return "seal record DAMAGED";
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path, std::uintmax_t maxBytes) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > maxBytes) {
    throw PackError(path.string() + ": " + std::to_string(size) + " bytes, more than the " +
                    std::to_string(maxBytes) + " such a file can have");
  }
  std::optional<std::vector<uint8_t>> bytes = ReadFileIfPossible(path);
  if (!bytes) throw PackError(path.string() + ": cannot read");
  return std::move(*bytes);
}

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                         const std::filesystem::path& permissionsFrom) {
  std::filesystem::path temp = path;
  temp += ".quorel-pack-tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temp, ignored);
      throw PackError(path.string() + ": cannot write");
    }
  }
  std::error_code error;
  if (!permissionsFrom.empty()) {
    const auto permissions = std::filesystem::status(permissionsFrom, error).permissions();
    if (!error) std::filesystem::permissions(temp, permissions, error);
    error.clear();  // the permissions are a convenience, not a condition
  }
  std::filesystem::rename(temp, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    throw PackError(path.string() + ": cannot write: " + error.message());
  }
}

namespace {

uint32_t Le(const std::vector<uint8_t>& file, std::size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | file[at + static_cast<std::size_t>(i)];
  return value;
}

// A template must be a whole 32-bit Windows executable that holds the block in an initialised
// data section, or the packed file would not run, or not read the block it carries.
void CheckWindowsExecutable(const std::vector<uint8_t>& file, const std::string& name,
                            std::size_t blockOffset) {
  const auto fail = [&](const std::string& why) {
    throw PackError(name + ": not a template quorel.exe: " + why);
  };
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') fail("no MZ header");
  const uint64_t pe = Le(file, 0x3C, 4);
  if (pe + 24 > file.size() || Le(file, pe, 4) != 0x00004550) fail("no PE header");
  if (Le(file, pe + 4, 2) != 0x014C) fail("not an i386 executable");
  const uint32_t sections = Le(file, pe + 6, 2);
  const uint64_t table = pe + 24 + Le(file, pe + 20, 2);
  if (sections == 0 || table + 40ull * sections > file.size()) fail("its section table is cut off");
  bool inData = false;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint64_t header = table + 40ull * i;
    const uint64_t rawSize = Le(file, header + 16, 4);
    const uint64_t rawStart = Le(file, header + 20, 4);
    if (rawStart + rawSize > file.size()) fail("a section reaches past the end of the file");
    constexpr uint32_t kInitialisedData = 0x40;
    if ((Le(file, header + 36, 4) & kInitialisedData) != 0 && rawStart <= blockOffset &&
        blockOffset + layout::kBlockBytes <= rawStart + rawSize) {
      inData = true;
    }
  }
  if (!inData) fail("the package block lies outside its initialised data");
}

}  // namespace

std::vector<uint8_t> PatchTemplate(std::vector<uint8_t> templateBytes,
                                   const std::string& templateName,
                                   const std::vector<uint8_t>& block, bool requireWindowsExe) {
  const std::vector<std::size_t> found = FindBlocks(templateBytes, BlockKind::Template);
  if (found.empty()) {
    const bool packed = !FindBlocks(templateBytes, BlockKind::Any).empty();
    throw PackError(templateName + (packed ? ": its package block is already packed; pack the "
                                             "template quorel.exe instead"
                                           : ": no template package block found"));
  }
  if (found.size() > 1) {
    throw PackError(templateName + ": the template package block occurs " +
                    std::to_string(found.size()) + " times; it must occur exactly once");
  }
  const std::vector<std::size_t> seals = FindSealRecords(templateBytes, found[0]);
  if (seals.size() != 1) {
    throw PackError(templateName + ": the seal record occurs " + std::to_string(seals.size()) +
                    " times; it must occur exactly once");
  }
  if (requireWindowsExe) CheckWindowsExecutable(templateBytes, templateName, found[0]);
  std::copy(block.begin(), block.end(), templateBytes.begin() + found[0]);
  seal::Write(templateBytes.data() + seals[0], templateBytes.data() + found[0]);
  return templateBytes;
}

std::vector<std::string> PackFiles(const std::filesystem::path& templatePath,
                                   const std::filesystem::path& descriptionPath,
                                   const std::filesystem::path& outPath,
                                   const PackOptions& options) {
  const std::string descriptionName = descriptionPath.string();
  const std::vector<uint8_t> text = ReadWholeFile(descriptionPath, kMaxDescriptionBytes);
  const PackageDescription description = ParseDescription(
      std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), descriptionName);
  // Writing over an input would destroy it.
  std::vector<std::pair<std::filesystem::path, std::string>> inputs = {
      {templatePath, "the template"}, {descriptionPath, "the description"}};
  for (const BankDescription& bank : description.banks) {
    inputs.emplace_back(descriptionPath.parent_path() / bank.image, "an image");
  }
  for (const auto& [input, role] : inputs) {
    std::error_code error;
    if (std::filesystem::equivalent(outPath, input, error) && !error) {
      throw PackError(outPath.string() + ": this is " + role + "; name another output file");
    }
  }
  const std::vector<PlacedImage> images =
      LoadImages(description, descriptionPath.parent_path(), descriptionName);
  const std::vector<uint8_t> block = BuildBlock(description, images);
  std::vector<uint8_t> packed =
      PatchTemplate(ReadWholeFile(templatePath, kMaxTemplateBytes), templatePath.string(), block,
                    options.requireWindowsExe);
  CheckPartBlocks(packed, templatePath.string(), options.demo);
  WriteFileAtomically(outPath, packed, templatePath);
  return description.warnings;
}

std::string DumpBytes(const std::vector<uint8_t>& file, const std::string& fileName,
                      const std::filesystem::path& imageDir) {
  const std::vector<std::size_t> found = FindBlocks(file, BlockKind::Any);
  if (found.size() != 1) {
    throw PackError(fileName + ": the package block occurs " + std::to_string(found.size()) +
                    " times; it must occur exactly once");
  }
  const uint8_t* block = file.data() + found[0];
  const ReadBack back = ReadBlock(block);

  std::string out =
      "; package block of " + fileName + " at file offset " + std::to_string(found[0]) + "\n";
  out += "; " + SealLine(file, found[0]) + "\n";
  if (!FindBlocks(file, BlockKind::Template).empty()) {
    out += "; an unpacked template: its title and image area hold the placeholders\n";
  }
  out += DescribePartBlocks(file, fileName);
  if (!back.damage.empty()) out += "; " + back.damage + "\n";
  if (back.description.banks.empty()) out += "; HOW_MANY_BIN is 0: no firmware is packaged\n";
  out += FormatDescription(back.description, back.notes);

  if (!imageDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(imageDir, error);
    if (error) throw PackError(imageDir.string() + ": cannot create: " + error.message());
    for (std::size_t b = 0; b < back.images.size(); ++b) {
      if (back.images[b].empty()) continue;
      WriteFileAtomically(imageDir / back.description.banks[b].image, back.images[b]);
    }
  }
  return out;
}

std::string DumpFile(const std::filesystem::path& flasherPath,
                     const std::filesystem::path& imageDir) {
  return DumpBytes(ReadWholeFile(flasherPath, kMaxTemplateBytes), flasherPath.string(), imageDir);
}

}  // namespace quorel::pack
