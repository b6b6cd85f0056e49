// Packing this very test program proves what matters about the embedded block: it is in the file
// as initialised data, exactly once, and the program reads the bytes that are there, not
// constants the compiler kept from the template.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "block.h"
#include "demo_image.h"
#include "pack.h"
#include "pack_fixture.h"
#include "package/package_view.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quorel::pack {
namespace {

constexpr char kProbeVariable[] = "QUOREL_PROBE_OUT";

// What this program reads from its own block, on one line.
std::string ReadEmbedded() {
  const PackageView view = PackageView::Embedded();
  const PackageSettings s = view.ReadSettings();
  std::ostringstream out;
  for (int value : {s.N2OMESSAGE, s.CHKDISC, s.BOOTCODE, s.REBOOT, s.AUTOMODE, s.CLOSEAP, s.WARNING,
                    s.NBWARNING}) {
    out << value << " ";
  }
  out << s.HOW_MANY_BIN << " " << view.TitleText() << "|" << view.NewRevisionText(1) << "|"
      << view.Bank(1).startBytes << "|" << view.ImageIsPlaceholder() << "|"
      << static_cast<int>(view.Seal());
  return out.str();
}

// The child side: runs inside the packed copy started below.
TEST(EmbeddedProbe, ReportsWhatTheProgramReads) {
  const char* out = std::getenv(kProbeVariable);
  if (out == nullptr) GTEST_SKIP() << "runs only inside a packed copy of this program";
  std::ofstream(out) << ReadEmbedded();
}

std::filesystem::path OwnExecutable() {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
#else
  return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

void SetProbeVariable(const std::string& value) {
#ifdef _WIN32
  _putenv((std::string(kProbeVariable) + "=" + value).c_str());
#else
  if (value.empty()) {
    unsetenv(kProbeVariable);
  } else {
    setenv(kProbeVariable, value.c_str(), 1);
  }
#endif
}

// Runs the probe test in `exe` and returns its exit code.
int RunProbe(const std::filesystem::path& exe) {
  const std::string filter = "--gtest_filter=EmbeddedProbe.*";
  const std::string brief = "--gtest_brief=1";
#ifdef _WIN32
  std::string quoted = exe.string();  // argv[0] of the child, in one piece
  quoted.insert(quoted.begin(), '"');
  quoted.push_back('"');
  return static_cast<int>(_spawnl(_P_WAIT, exe.string().c_str(), quoted.c_str(), filter.c_str(),
                                  brief.c_str(), static_cast<const char*>(nullptr)));
#else
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execl(exe.c_str(), exe.c_str(), filter.c_str(), brief.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

TEST(EmbeddedBlock, PackedCopyOfThisProgramReadsThePackedBytes) {
  const std::filesystem::path self = OwnExecutable();
  const std::vector<uint8_t> file = ReadWholeFile(self);
  const std::vector<std::size_t> blocks = FindBlocks(file, BlockKind::Template);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(FindSealRecords(file, blocks[0]).size(), 1u);
  // The template is unsealed (0); the packed copy below reads its seal as verified (1).
  EXPECT_EQ(ReadEmbedded(), "0 0 1 1 0 0 1 0 1 APP_TITLE_HERE|N/A |0|1|0");

  // Every value the program reads differs from the template's.
  const std::string description =
      "[texts]\ncredit = [probe]\nversion = v9\ncontact = -\ntitle = Probe title\ndate = -\n"
      "spare = -\ndrive = probe drive\n"
      "[settings]\nN2OMESSAGE = 1\nCHKDISC = 1\nBOOTCODE = 0\nREBOOT = 0\nAUTOMODE = 1\n"
      "CLOSEAP = 1\nWARNING = 0\nNBWARNING = 1\n"
      "[bank1]\nimage = one.bin\nnew_fw = KM0P\nrule1 = KM01 | KM0P | | \n"
      "[bank2]\nimage = two.bin\nnew_fw = KM1A\nrule1 = KM10 | KM1A | | \n";
  test::TempDir dir;
  test::WriteText(dir / "probe.ini", description);
  test::WriteBytes(dir / "one.bin", MakeDemoImage("KM0P", 65536));
  test::WriteBytes(dir / "two.bin", MakeDemoImage("KM1A", 16384));
  const std::filesystem::path probe = dir / "probe.exe";
  // A placeholder build; on the host, not a Windows executable.
  PackOptions options;
  options.demo = true;
#ifndef _WIN32
  options.requireWindowsExe = false;
#endif
  PackFiles(self, dir / "probe.ini", probe, options);

  const std::filesystem::path report = dir / "report.txt";
  SetProbeVariable(report.string());
  const int exitCode = RunProbe(probe);
  SetProbeVariable("");
  ASSERT_EQ(exitCode, 0);
  std::ifstream in(report);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "1 1 0 0 1 1 0 1 2 Probe title|KM1A|65536|0|1");
}

}  // namespace
}  // namespace quorel::pack
