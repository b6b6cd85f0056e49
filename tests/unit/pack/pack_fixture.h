// Helpers of the packaging tool's tests: a temporary directory, the shipped description, and a
// template executable made in memory (the template block with junk around it).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "flash/part_table.h"
#include "minimal_pe.h"
#include "package/layout.h"
#include "package/package_view.h"
#include "package/seal.h"

namespace quorel::test {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() /
            ("quorel-pack-test-" + std::to_string(stamp) + "-" + std::to_string(++counter));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(in ? static_cast<std::size_t>(fs::file_size(path)) : 0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

inline void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const fs::path& path, const std::string& text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::string ShippedDescription() {
  const std::vector<uint8_t> bytes =
      ReadBytes(fs::path(QUOREL_SOURCE_DIR) / "examples" / "qvx270t.ini");
  return std::string(bytes.begin(), bytes.end());
}

// The part-block record a build generates, saying which kind of part blocks it carries.
inline std::vector<uint8_t> PartBlockRecord(PartBlockKind kind) {
  PartBlockOrigin record = kPartBlockOrigin;
  record.kind = static_cast<uint8_t>(kind);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
  return std::vector<uint8_t>(bytes, bytes + sizeof record);
}

// A file of `before` junk bytes, the template block, its seal record, 1,000 junk bytes and a
// part-block record (the maker's file, unless `partBlocks` says otherwise). From 512 bytes
// before the block on, the junk begins with a minimal i386 PE header whose one section,
// initialised data, holds the rest of the file (so signing tools take it).
inline std::vector<uint8_t> TemplateFile(
    std::size_t before = 4099,
    const std::vector<uint8_t>& partBlocks = PartBlockRecord(PartBlockKind::Maker)) {
  std::vector<uint8_t> file;
  for (std::size_t i = 0; i < before; ++i) file.push_back(static_cast<uint8_t>(i * 7 + 1));
  const uint8_t* block = PackageView::Embedded().Bytes();
  file.insert(file.end(), block, block + layout::kBlockBytes);
  const uint8_t* record = EmbeddedSealRecord();
  file.insert(file.end(), record, record + seal::kRecordBytes);
  for (int i = 0; i < 1000; ++i) file.push_back(static_cast<uint8_t>(i * 13 + 5));
  file.insert(file.end(), partBlocks.begin(), partBlocks.end());
  if (before >= kPeHeaderBytes) WriteMinimalPe(file);
  return file;
}

}  // namespace quorel::test
