#include "pack.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <string_view>
#include <utility>

#include "demo_image.h"
#include "package/bytes.h"
#include "package/layout.h"
#include "package/seal.h"
#include "part_blocks.h"
#include "pe_image.h"

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

// A temporary file beside `target`, created by this run alone: a name that exists already, or a
// link placed there, is never opened. Removed again unless the path is cleared.
struct TempFile {
  explicit TempFile(const std::filesystem::path& target) {
    static unsigned counter = 0;
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      path = target;
      path += ".quorel-pack-" + std::to_string(random()) + "-" + std::to_string(++counter);
#ifdef _WIN32
      fd = ::_wopen(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY, 0666);
#else
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
#endif
      if (fd >= 0 || errno != EEXIST) break;
    }
    if (fd < 0) {
      const std::string why = std::strerror(errno);
      path.clear();
      throw PackError(target.string() + ": cannot create a temporary file beside it: " + why);
    }
  }
  ~TempFile() {
    if (fd >= 0) ::close(fd);
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove(path, ignored);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  std::filesystem::path path;
  int fd = -1;
};

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
  TempFile temp(path);
  const uint8_t* at = bytes.data();
  for (std::size_t left = bytes.size(); left > 0;) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(left, 1u << 20));
    const auto written = ::write(temp.fd, at, chunk);
    if (written <= 0) throw PackError(path.string() + ": cannot write");
    at += written;
    left -= static_cast<std::size_t>(written);
  }
  if (::close(std::exchange(temp.fd, -1)) != 0) throw PackError(path.string() + ": cannot write");
  std::error_code error;
  if (!permissionsFrom.empty()) {
    const auto permissions = std::filesystem::status(permissionsFrom, error).permissions();
    if (!error) std::filesystem::permissions(temp.path, permissions, error);
    error.clear();  // the permissions are a convenience, not a condition
  }
  std::filesystem::rename(temp.path, path, error);
  if (error) throw PackError(path.string() + ": cannot write: " + error.message());
  temp.path.clear();
}

namespace {

// A template must be a whole 32-bit Windows executable that holds the block in an initialised
// data section, or the packed file would not run, or not read the block it carries.
void CheckWindowsExecutable(const std::vector<uint8_t>& file, const std::string& name,
                            std::size_t blockOffset) {
  const auto fail = [&](const std::string& why) {
    throw PackError(name + ": not a template quorel.exe: " + why);
  };
  const auto le = [&](uint64_t at, std::size_t bytes) {
    return ReadLittleEndian(file.data() + at, bytes);
  };
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') fail("no MZ header");
  const uint64_t pe = le(0x3C, 4);
  if (pe + 24 > file.size() || le(pe, 4) != 0x00004550) fail("no PE header");
  if (le(pe + 4, 2) != 0x014C) fail("not an i386 executable");
  const uint32_t sections = le(pe + 6, 2);
  const uint64_t table = pe + 24 + le(pe + 20, 2);
  if (sections == 0 || table + 40ull * sections > file.size()) fail("its section table is cut off");
  bool inData = false;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint64_t header = table + 40ull * i;
    const uint64_t rawSize = le(header + 16, 4);
    const uint64_t rawStart = le(header + 20, 4);
    if (rawStart + rawSize > file.size()) fail("a section reaches past the end of the file");
    constexpr uint32_t kInitialisedData = 0x40;
    if ((le(header + 36, 4) & kInitialisedData) != 0 && rawStart <= blockOffset &&
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
  std::vector<std::string> messages = description.warnings;
  if (MakeSignable(packed, templatePath.string())) {
    messages.push_back(templatePath.string() +
                       ": the template's signature was removed (it would not match the packed "
                       "file); sign " +
                       outPath.string() + " after packing");
  }
  WriteFileAtomically(outPath, packed, templatePath);
  return messages;
}

bool MakeSignable(std::vector<uint8_t>& file, const std::string& fileName) {
  const std::optional<PeSigningLayout> layout = ReadSigningLayout(file);
  if (!layout) return false;
  const bool removed = RemoveCertificateTable(file, *layout, fileName);
  UpdateChecksum(file, *layout);
  return removed;
}

void WriteDemoImage(const std::string& revision, const std::filesystem::path& outPath,
                    std::size_t bytes) {
  if (bytes > layout::kImageBytes) {
    throw PackError(outPath.string() + ": an image of " + std::to_string(bytes) +
                    " bytes does not fit the image area of " + std::to_string(layout::kImageBytes) +
                    " bytes");
  }
  WriteFileAtomically(outPath, MakeDemoImage(revision, bytes));
}

std::string DumpBytes(const std::vector<uint8_t>& file, const std::string& fileName,
                      const std::filesystem::path& imageDir, const std::string& signatureLine) {
  const std::size_t at = FindOneBlock(file, fileName);
  const uint8_t* block = file.data() + at;
  const ReadBack back = ReadBlock(block);

  std::string out =
      "; package block of " + fileName + " at file offset " + std::to_string(at) + "\n";
  out += "; " + SealLine(file, at) + "\n";
  if (!signatureLine.empty()) out += "; " + signatureLine + "\n";
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
