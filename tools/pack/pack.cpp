#include "pack.h"

#include <fstream>
#include <string_view>

#include "package/layout.h"
#include "part_blocks.h"

namespace quorel::pack {

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path) {
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

std::vector<uint8_t> PatchTemplate(std::vector<uint8_t> templateBytes,
                                   const std::string& templateName,
                                   const std::vector<uint8_t>& block) {
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
  std::copy(block.begin(), block.end(), templateBytes.begin() + found[0]);
  return templateBytes;
}

std::vector<std::string> PackFiles(const std::filesystem::path& templatePath,
                                   const std::filesystem::path& descriptionPath,
                                   const std::filesystem::path& outPath, bool demo) {
  const std::string descriptionName = descriptionPath.string();
  const std::vector<uint8_t> text = ReadWholeFile(descriptionPath);
  const PackageDescription description = ParseDescription(
      std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), descriptionName);
  const std::vector<PlacedImage> images =
      LoadImages(description, descriptionPath.parent_path(), descriptionName);
  const std::vector<uint8_t> block = BuildBlock(description, images);
  std::vector<uint8_t> packed =
      PatchTemplate(ReadWholeFile(templatePath), templatePath.string(), block);
  CheckPartBlocks(packed, templatePath.string(), demo);
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
  return DumpBytes(ReadWholeFile(flasherPath), flasherPath.string(), imageDir);
}

}  // namespace quorel::pack
