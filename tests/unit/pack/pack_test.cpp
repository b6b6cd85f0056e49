#include "pack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "block.h"
#include "demo_image.h"
#include "description.h"
#include "pack_fixture.h"
#include "package/package_view.h"
#include "package/seal.h"
#include "package/sha256.h"
#include "part_blocks.h"
#include "unit/package/shipped_header.h"

namespace quorel::pack {
namespace {

using test::TempDir;
constexpr std::size_t kMiB = 1'048'576;
constexpr std::size_t kUnit = 16'384;

std::string Refusal(const std::function<void()>& work) {
  try {
    work();
  } catch (const PackError& error) {
    return error.what();
  }
  return "(accepted)";
}

// Files PatchTemplate refuses, each with its whole message.
struct PatchCase {
  const char* name;
  std::vector<uint8_t> file;
  std::string message;
};

void ExpectPatchRefusals(const std::vector<PatchCase>& cases) {
  const std::vector<uint8_t> block(layout::kBlockBytes, 0);
  for (const PatchCase& c : cases) {
    EXPECT_EQ(Refusal([&] { PatchTemplate(c.file, "t.exe", block); }), c.message) << c.name;
  }
}

PackageDescription Shipped() {
  return ParseDescription(test::ShippedDescription(), "qvx270t.ini");
}

TEST(Pack, ShippedExampleGivesTheShippedLayout) {
  const std::vector<uint8_t> templateFile = test::TemplateFile(4099);
  const std::vector<uint8_t> demo = MakeDemoImage("KM0P", kMiB);
  const PackageDescription description = Shipped();
  const std::vector<uint8_t> block = BuildBlock(description, PlaceImages(description, {demo}, "x"));
  const std::vector<uint8_t> file = PatchTemplate(templateFile, "quorel.exe", block);

  ASSERT_EQ(file.size(), templateFile.size());
  EXPECT_EQ(FindBlocks(file, BlockKind::Any), std::vector<std::size_t>{4099});
  EXPECT_TRUE(FindBlocks(file, BlockKind::Template).empty());
  test::ExpectShippedHeader(file.data() + 4099, "Flash Program for TARN-EX DVDRW QVX-270T");
  EXPECT_TRUE(std::equal(demo.begin(), demo.end(), file.begin() + 4099 + 2123));
  // The seal record behind the block now seals it; nothing else outside the block changes.
  const std::size_t record = 4099 + layout::kBlockBytes;
  EXPECT_EQ(seal::Check(file.data() + record, file.data() + 4099), seal::State::Verified);
  EXPECT_TRUE(std::equal(templateFile.begin(), templateFile.begin() + 4099, file.begin()));
  EXPECT_TRUE(std::equal(templateFile.begin() + record, templateFile.begin() + record + 16,
                         file.begin() + record));
  EXPECT_TRUE(std::equal(templateFile.end() - 1000, templateFile.end(), file.end() - 1000));
}

TEST(Pack, PlacesImagesAndFillsTheSlots) {
  PackageDescription d = Shipped();
  d.banks.push_back(d.banks[0]);
  d.banks.push_back(d.banks[0]);
  d.banks[1].newRevision = "KM1A";
  d.banks[2].newRevision = "KM2A";
  d.banks[2].start = 512 * 1024;
  d.banks[1].rules[0].reset();  // placeholder entry
  const std::vector<uint8_t> one = MakeDemoImage("KM0P", 4 * kUnit);
  const std::vector<uint8_t> two = MakeDemoImage("KM1A", 2 * kUnit);
  const std::vector<uint8_t> three = MakeDemoImage("KM2A", kUnit);
  const std::vector<uint8_t> block = BuildBlock(d, PlaceImages(d, {one, two, three}, "x"));

  const PackageView view(block.data());
  EXPECT_EQ(view.ReadSettings().HOW_MANY_BIN, 3);
  EXPECT_EQ(view.Validate(), "");
  const std::pair<int32_t, int32_t> expected[] = {{0, 65536}, {65536, 32768}, {524288, 16384}};
  for (int b = 0; b < 3; ++b) {
    EXPECT_EQ(view.Bank(b).startBytes, expected[b].first) << b;
    EXPECT_EQ(view.Bank(b).sizeBytes, expected[b].second) << b;
  }
  test::ExpectField(block.data(), {1909, 22, "BIN_START2=0000065536"});
  test::ExpectField(block.data(), {1996, 21, "BIN_SIZE2=0000032768"});
  test::ExpectField(block.data(), {2091, 16, "NEW_FW3=KM2A"});
  test::ExpectField(block.data(), {2107, 16, "NEW_FW4=N/A "});
  test::ExpectField(block.data(), {1953, 22, "BIN_START4=0000000000"});
  EXPECT_STREQ(view.Constraint(1, 0).minRevision, "#FLSH21");
  EXPECT_STREQ(view.Constraint(3, 7).minRevision, "#FLSH48");
  EXPECT_STREQ(view.Constraint(2, 0).vendor, "TARN-EX ");

  const uint8_t* area = view.ImageArea();
  EXPECT_TRUE(std::equal(two.begin(), two.end(), area + 65536));
  EXPECT_TRUE(std::equal(three.begin(), three.end(), area + 524288));
  EXPECT_TRUE(std::all_of(area + 98304, area + 524288, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(area + 540672, area + kMiB, [](uint8_t b) { return b == 0; }));
}

TEST(Pack, RefusesImagesThatDoNotFit) {
  struct Bank {
    std::size_t bytes;
    std::optional<uint32_t> start;
  };
  using Banks = std::vector<Bank>;
  struct Case {
    const char* name;
    Banks banks;
    std::string message;  // empty: accepted
  } cases[] = {
      {"whole area", Banks{{kMiB, {}}}, ""},
      {"two halves", Banks{{kMiB / 2, {}}, {kMiB / 2, {}}}, ""},
      {"last unit", Banks{{kUnit, kMiB - kUnit}}, ""},
      {"empty image", Banks{{0, {}}},
       "x.ini:21: image 'demo-fw.bin' is 0 bytes; it must be a positive multiple of 16384"},
      {"odd size", Banks{{kUnit + 1000, {}}},
       "x.ini:21: image 'demo-fw.bin' is 17384 bytes; it must be a positive multiple of 16384"},
      {"too large", Banks{{kMiB + kUnit, {}}},
       "x.ini:21: [bank1] image ends at byte 1064960, past the image area of 1048576 bytes"},
      {"second does not fit", Banks{{kMiB, {}}, {kUnit, {}}},
       "x.ini:21: [bank2] image ends at byte 1064960, past the image area of 1048576 bytes"},
      {"start too late", Banks{{2 * kUnit, kMiB - kUnit}},
       "x.ini:30: [bank1] image ends at byte 1064960, past the image area of 1048576 bytes"},
      {"overlap", Banks{{2 * kUnit, {}}, {kUnit, kUnit}},
       "x.ini:30: [bank2] image overlaps the image of [bank1]"},
      {"overlap from behind", Banks{{kUnit, 2 * kUnit}, {2 * kUnit, {}}}, ""},
      {"overlap with a later start", Banks{{kUnit, 2 * kUnit}, {4 * kUnit, 0}},
       "x.ini:30: [bank2] image overlaps the image of [bank1]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PackageDescription d = Shipped();
    std::vector<std::vector<uint8_t>> images;
    d.banks.resize(c.banks.size(), d.banks[0]);
    for (std::size_t b = 0; b < c.banks.size(); ++b) {
      d.banks[b].start = c.banks[b].start;
      d.banks[b].imageLine = 21;
      d.banks[b].startLine = 30;
      images.push_back(MakeDemoImage("KM0P", c.banks[b].bytes));
    }
    const std::string refusal = Refusal([&] { PlaceImages(d, images, "x.ini"); });
    EXPECT_EQ(refusal, c.message.empty() ? "(accepted)" : c.message);
  }
}

TEST(Pack, RefusesAnImageThatReadsAsTheEmptyTemplate) {
  PackageDescription d = Shipped();
  d.banks[0].imageLine = 21;
  std::vector<uint8_t> image(kUnit, 0);
  std::memcpy(image.data(), "BANK_START_FROM_HER", 19);
  EXPECT_NE(Refusal([&] { PlaceImages(d, {image}, "x.ini"); }).find("x.ini:21: image"),
            std::string::npos);
  d.banks[0].start = kUnit;  // elsewhere in the area it is just bytes
  EXPECT_EQ(Refusal([&] { PlaceImages(d, {image}, "x.ini"); }), "(accepted)");
}

TEST(Pack, FindsTheTemplateExactlyOnce) {
  const std::vector<uint8_t> one = test::TemplateFile(0);
  EXPECT_EQ(FindBlocks(one, BlockKind::Template), std::vector<std::size_t>{0});
  std::vector<uint8_t> two = one;
  two.insert(two.end(), one.begin(), one.end());
  EXPECT_EQ(FindBlocks(two, BlockKind::Template).size(), 2u);
  // A block cut short by the end of the file is no block.
  std::vector<uint8_t> cut = test::TemplateFile(10);
  cut.resize(10 + layout::kBlockBytes - 1);
  EXPECT_TRUE(FindBlocks(cut, BlockKind::Template).empty());
  EXPECT_TRUE(FindBlocks(cut, BlockKind::Any).empty());
  // One key out of place is no block either.
  std::vector<uint8_t> broken = test::TemplateFile(10);
  broken[10 + 2038] = 'X';  // "BIN_SIZE4=" becomes "XIN_SIZE4="
  EXPECT_TRUE(FindBlocks(broken, BlockKind::Template).empty());

  std::vector<uint8_t> unsealable = one;  // the block alone, without its seal record
  unsealable.resize(layout::kBlockBytes);
  std::vector<uint8_t> twoSeals = one;
  twoSeals.insert(twoSeals.end(), one.begin() + layout::kBlockBytes,
                  one.begin() + layout::kBlockBytes + seal::kRecordBytes);

  ExpectPatchRefusals({
      {"no block", std::vector<uint8_t>(5000, 'x'), "t.exe: no template package block found"},
      {"cut short", cut, "t.exe: no template package block found"},
      {"twice", two,
       "t.exe: the template package block occurs 2 times; it must occur exactly once"},
      {"no seal record", unsealable,
       "t.exe: the seal record occurs 0 times; it must occur exactly once"},
      {"two seal records", twoSeals,
       "t.exe: the seal record occurs 2 times; it must occur exactly once"},
      {"already packed",
       PatchTemplate(
           one, "t.exe",
           BuildBlock(Shipped(), PlaceImages(Shipped(), {MakeDemoImage("KM0P", kMiB)}, "x")),
           /*requireWindowsExe=*/false),
       "t.exe: its package block is already packed; pack the template quorel.exe instead"},
  });
}

TEST(Pack, RefusesWhatIsNoWindowsExecutable) {
  const std::vector<uint8_t> good = test::TemplateFile();
  const std::vector<uint8_t> block(layout::kBlockBytes, 0);
  ASSERT_EQ(Refusal([&] { PatchTemplate(good, "t.exe", block); }), "(accepted)");
  const auto with = [&](std::size_t at, uint8_t value) {
    std::vector<uint8_t> file = good;
    file[at] = value;
    return file;
  };
  std::vector<uint8_t> truncated = good;
  truncated.resize(good.size() - 1000);  // the section still claims the junk after the block
  const std::string no = "t.exe: not a template quorel.exe: ";
  ExpectPatchRefusals({
      {"bare block", test::TemplateFile(0), no + "no MZ header"},
      {"text and block", test::TemplateFile(100), no + "no MZ header"},
      {"no PE signature", with(test::kPeHeader + 1, 'X'), no + "no PE header"},
      {"PE header past the end", with(0x3F, 0x7F), no + "no PE header"},
      {"x86-64", with(test::kPeHeader + 4, 0x64), no + "not an i386 executable"},
      {"no sections", with(test::kPeHeader + 6, 0), no + "its section table is cut off"},
      {"truncated after the block", truncated, no + "a section reaches past the end of the file"},
      {"block in code", with(test::kSectionHeader + 36, 0x20),
       no + "the package block lies outside its initialised data"},
  });
}

// Files: pack, dump, pack the dump again.
class PackFilesTest : public ::testing::Test {
 protected:
  PackFilesTest() {
    test::WriteBytes(dir / "quorel.exe", test::TemplateFile());
    test::WriteText(dir / "qvx270t.ini", test::ShippedDescription());
    test::WriteBytes(dir / "demo-fw.bin", MakeDemoImage("KM0P", kMiB));
  }

  // Every file in the directory, by name.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir;
};

TEST_F(PackFilesTest, PackDumpAndPackAgain) {
  EXPECT_TRUE(PackFiles(dir / "quorel.exe", dir / "qvx270t.ini", dir / "out.exe").empty());
  const std::string dump = DumpFile(dir / "out.exe", dir / "images");
  EXPECT_NE(dump.find("size 1048576 bytes, SHA-256 " +
                      Sha256Hex(MakeDemoImage("KM0P", kMiB).data(), kMiB)),
            std::string::npos)
      << dump;
  EXPECT_EQ(test::ReadBytes(dir / "images" / "bank1.bin"), MakeDemoImage("KM0P", kMiB));

  // The dump describes the same package ...
  PackageDescription original = Shipped();
  PackageDescription dumped = ParseDescription(dump, "dump");
  original.banks[0].image = dumped.banks[0].image;
  original.banks[0].start = 0;
  EXPECT_EQ(FormatDescription(dumped), FormatDescription(original));

  // ... and packs into the same file.
  test::WriteText(dir / "images" / "again.ini", dump);
  PackFiles(dir / "quorel.exe", dir / "images" / "again.ini", dir / "again.exe");
  EXPECT_EQ(test::ReadBytes(dir / "again.exe"), test::ReadBytes(dir / "out.exe"));
}

TEST_F(PackFilesTest, RefusalsWriteNothing) {
  test::WriteText(dir / "bad-key.ini", test::ShippedDescription() +
                                           "[bank2]\nimage = demo-fw.bin\nnew_fw = X\nfoo = 1\n");
  test::WriteText(dir / "no-image.ini",
                  test::ShippedDescription() + "[bank2]\nimage = missing.bin\nnew_fw = X\n");
  test::WriteText(dir / "big-image.ini",
                  test::ShippedDescription() + "[bank2]\nimage = big.bin\nnew_fw = X\n");
  test::WriteBytes(dir / "big.bin", std::vector<uint8_t>(kMiB + kUnit, 0));
  test::WriteBytes(dir / "packed.exe", test::TemplateFile());
  PackFiles(dir / "quorel.exe", dir / "qvx270t.ini", dir / "packed.exe");
  const std::vector<uint8_t> before = test::ReadBytes(dir / "packed.exe");
  const std::vector<std::string> files = Files();

  const std::string shipped = test::ShippedDescription();
  const auto bank2 = std::count(shipped.begin(), shipped.end(), '\n') + 1;  // its header line
  struct Case {
    std::string templateName, ini, out;
    std::string message;  // its beginning
  } cases[] = {
      {"quorel.exe", "bad-key.ini", "out.exe",
       "bad-key.ini:" + std::to_string(bank2 + 3) + ": unknown key 'foo' in [bank2]"},
      {"quorel.exe", "no-image.ini", "out.exe",
       "no-image.ini:" + std::to_string(bank2 + 1) + ": cannot read image 'missing.bin'"},
      {"quorel.exe", "absent.ini", "out.exe", "absent.ini: cannot read"},
      {"absent.exe", "qvx270t.ini", "out.exe", "absent.exe: cannot read"},
      {"packed.exe", "qvx270t.ini", "out.exe", "packed.exe: its package block is already packed"},
      {"demo-fw.bin", "qvx270t.ini", "out.exe", "demo-fw.bin: no template package block found"},
      // An existing output is left as it was.
      {"demo-fw.bin", "qvx270t.ini", "packed.exe", "demo-fw.bin: no template package block found"},
      // No input is written over.
      {"quorel.exe", "qvx270t.ini", "quorel.exe", "quorel.exe: this is the template; name another"},
      {"quorel.exe", "qvx270t.ini", "qvx270t.ini",
       "qvx270t.ini: this is the description; name another"},
      {"quorel.exe", "qvx270t.ini", "demo-fw.bin", "demo-fw.bin: this is an image; name another"},
      {"quorel.exe", "big-image.ini", "out.exe",
       "big-image.ini:" + std::to_string(bank2 + 1) + ": image 'big.bin' is 1064960 bytes"},
  };
  for (const Case& c : cases) {
    const std::string refusal =
        Refusal([&] { PackFiles(dir / c.templateName, dir / c.ini, dir / c.out); });
    // Messages name the files as given; compare from the file name on.
    const std::size_t at = refusal.find(c.message.substr(0, c.message.find(':')));
    EXPECT_EQ(at == std::string::npos ? refusal : refusal.substr(at, c.message.size()), c.message);
    EXPECT_EQ(Files(), files) << c.message;
  }
  EXPECT_EQ(test::ReadBytes(dir / "packed.exe"), before);
}

// The build's record says which part blocks it carries: generated with the data.
TEST(PartBlocks, BuildRecordsWhatItEmbedded) {
  const std::string digest = Sha256Hex(PartBlockData, kPartBlockDataBytes);
  const std::optional<PartBlocks> found =
      FindPartBlocks(test::PartBlockRecord(PartBlockKind::Placeholder), "r");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->sha256, digest);
  const std::vector<uint8_t> placeholder = ReadWholeFile(std::filesystem::path(QUOREL_SOURCE_DIR) /
                                                         "src/flash/part_blocks.placeholder.bin");
  EXPECT_EQ(kPartBlockOrigin.kind == 1,
            Sha256Hex(placeholder.data(), placeholder.size()) == digest);
}

// A template with placeholder or stand-in part blocks, or with none known, is packed only as a
// demo; the dump says which part blocks a flasher carries.
TEST_F(PackFilesTest, PartBlocksOtherThanTheMakersArePackedOnlyForADemo) {
  const std::vector<uint8_t> maker = test::PartBlockRecord(PartBlockKind::Maker);
  const std::vector<uint8_t> placeholder = test::PartBlockRecord(PartBlockKind::Placeholder);
  const std::vector<uint8_t> standIn = test::PartBlockRecord(PartBlockKind::StandIn);
  std::vector<uint8_t> twice = maker;
  twice.insert(twice.end(), maker.begin(), maker.end());
  const std::string digest = FindPartBlocks(maker, "r")->sha256;
  const struct {
    const char* name;
    std::vector<uint8_t> record;
    bool demo;
    std::string outcome;  // the refusal's text after the file name, or the dump's line
  } cases[] = {
      {"maker", maker, false, "; part blocks: the drive maker's file, SHA-256 " + digest},
      {"maker, demo", maker, true, "; part blocks: the drive maker's file, SHA-256 " + digest},
      {"placeholder", placeholder, false,
       ": it carries the placeholder part blocks, not the drive maker's data"},
      {"placeholder, demo", placeholder, true, "; part blocks: placeholder, not the drive maker's"},
      {"stand-in", standIn, false,
       ": it carries the stand-in part blocks, not the drive maker's data"},
      {"stand-in, demo", standIn, true, "; part blocks: stand-in, not the drive maker's"},
      {"unknown", {}, false, ": no part-block record found"},
      {"unknown, demo", {}, true, "; part blocks: unknown"},
      {"twice", twice, true, ": its part-block record occurs 2 times"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteBytes(dir / "t.exe", test::TemplateFile(4099, c.record));
    std::filesystem::remove(dir / "out.exe");
    const std::string refusal = Refusal(
        [&] { PackFiles(dir / "t.exe", dir / "qvx270t.ini", dir / "out.exe", {.demo = c.demo}); });
    if (c.outcome[0] == ';') {
      EXPECT_EQ(refusal, "(accepted)");
      EXPECT_NE(DumpFile(dir / "out.exe").find(c.outcome), std::string::npos);
    } else {
      EXPECT_NE(refusal.find("t.exe" + c.outcome), std::string::npos) << refusal;
      EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
    }
  }
}

TEST_F(PackFilesTest, DumpRefusesWithoutExactlyOneBlock) {
  test::WriteBytes(dir / "junk.bin", std::vector<uint8_t>(3000, 0));
  EXPECT_NE(Refusal([&] {
              DumpFile(dir / "junk.bin");
            }).find("junk.bin: the package block occurs 0 times; it must occur exactly once"),
            std::string::npos);
}

TEST(Pack, DumpShowsTheSeal) {
  const std::vector<uint8_t> templateFile = test::TemplateFile();
  const std::size_t record = 4099 + layout::kBlockBytes;
  std::vector<uint8_t> block =
      BuildBlock(Shipped(), PlaceImages(Shipped(), {MakeDemoImage("KM0P", kMiB)}, "x"));
  // The marker inside the image is image data, not a second record.
  const std::array<uint8_t, seal::kMarkerBytes> marker = seal::Marker();
  std::copy(marker.begin(), marker.end(), block.begin() + layout::kImageOffset + 4096);
  const std::vector<uint8_t> packed = PatchTemplate(templateFile, "t.exe", block);

  const struct {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> change;
    const char* line;
  } cases[] = {
      {"template", nullptr, "; unsealed\n"},
      {"packed", [](std::vector<uint8_t>&) {}, "; sealed, digest verified\n"},
      {"image byte flipped",
       [](std::vector<uint8_t>& f) { f[4099 + layout::kImageOffset + 9] ^= 0x80; },
       "; sealed, DIGEST MISMATCH\n"},
      {"seal cleared", [&](std::vector<uint8_t>& f) { seal::Clear(f.data() + record); },
       "; unsealed\n"},
      {"unknown version", [&](std::vector<uint8_t>& f) { f[record + seal::kVersionOffset] = 2; },
       "; seal record DAMAGED\n"},
      {"no record", [&](std::vector<uint8_t>& f) { f[record] ^= 0x01; },
       "; unsealed (no seal record in the file)\n"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> file = c.change ? packed : templateFile;
    if (c.change) c.change(file);
    const std::string dump = DumpBytes(file, "f.exe");
    EXPECT_EQ(dump.substr(dump.find('\n') + 1, std::strlen(c.line)), c.line) << c.name;
  }
}

TEST(Pack, DumpReportsADamagedBlock) {
  std::vector<uint8_t> file = test::TemplateFile(0);
  std::memcpy(file.data() + 1867, "HOW_MANY_BIN=7", 14);
  std::memcpy(file.data() + 2123, "QUOREL DEMO KM0P", 16);
  const std::string dump = DumpBytes(file, "f.exe");
  EXPECT_NE(dump.find("; The package is damaged: "), std::string::npos) << dump;
  EXPECT_NE(dump.find("[bank4]"), std::string::npos);
  EXPECT_EQ(dump.find("[bank5]"), std::string::npos);
}

// The temporary file is made anew beside the output: whatever waits at a name another run could
// use, here a link at the name of the old fixed temporary file, is neither followed nor moved.
TEST_F(PackFilesTest, WritesNoFileItDidNotCreate) {
  test::WriteText(dir / "victim", "keep");
  std::error_code error;
  std::filesystem::create_symlink(dir / "victim", dir / "out.exe.quorel-pack-tmp", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  WriteFileAtomically(dir / "out.exe", {1, 2, 3});
  EXPECT_EQ(test::ReadBytes(dir / "victim"), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "out.exe"));
  EXPECT_EQ(test::ReadBytes(dir / "out.exe"), std::vector<uint8_t>({1, 2, 3}));
}

TEST_F(PackFilesTest, DemoImageFitsTheImageArea) {
  const std::vector<std::string> files = Files();
  EXPECT_NE(Refusal([&] {
              WriteDemoImage("KM0P", dir / "big.bin", kMiB + 1);
            }).find("big.bin: an image of 1048577 bytes does not fit the image area"),
            std::string::npos);
  EXPECT_EQ(Files(), files);
}

TEST(DemoImage, CarriesItsRevisionAndIsDeterministic) {
  const std::vector<uint8_t> image = MakeDemoImage("KM0P", kMiB);
  ASSERT_EQ(image.size(), kMiB);
  EXPECT_EQ(std::string(image.begin(), image.begin() + 16), "QUOREL DEMO KM0P");
  EXPECT_EQ(image, MakeDemoImage("KM0P", kMiB));
  EXPECT_NE(image, MakeDemoImage("KM01", kMiB));
  // No two 16 KiB blocks alike, so a block written to the wrong place shows.
  for (std::size_t at = kUnit; at < kMiB; at += kUnit) {
    ASSERT_FALSE(std::equal(image.begin(), image.begin() + kUnit, image.begin() + at)) << at;
  }
  const std::vector<uint8_t> short_ = MakeDemoImage("K1", kUnit);
  EXPECT_EQ(std::string(short_.begin(), short_.begin() + 16), "QUOREL DEMO K1  ");
}

}  // namespace
}  // namespace quorel::pack
