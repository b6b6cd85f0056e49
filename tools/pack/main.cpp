// quorel-pack: fills the package block of a template quorel.exe from a package description,
// and reads a packed flasher back.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "pack.h"
#include "package/layout.h"

namespace {

constexpr char kUsage[] =
    "usage: quorel-pack [--demo] TEMPLATE.exe PACKAGE.ini OUT.exe\n"
    "       quorel-pack --dump FLASHER.exe [IMAGE_DIR]\n"
    "       quorel-pack --make-demo-image REVISION OUT.bin [BYTES]\n"
    "\n"
    "The first form writes OUT.exe: a copy of the template with its package block filled from\n"
    "the description, and sealed. A template built with the placeholder or stand-in part\n"
    "blocks (not the drive maker's data) updates only the simulated test drive; it is packed\n"
    "only with --demo.\n"
    "--dump prints a flasher's package as a description, with its seal (sealed, digest\n"
    "verified / sealed, DIGEST MISMATCH / unsealed), each bank image's size and SHA-256 and\n"
    "which part blocks it carries, and writes the images to IMAGE_DIR when given.\n"
    "--make-demo-image writes a synthetic image (1 MiB unless BYTES is given, and at most\n"
    "1 MiB, the image area) that the simulated drive installs as REVISION.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Run(const std::vector<std::string>& args) {
  using namespace quorel::pack;
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!args.empty() && args[0] == "--dump") {
    if (args.size() < 2 || args.size() > 3) return Usage();
    std::fputs(DumpFile(args[1], args.size() == 3 ? args[2] : "").c_str(), stdout);
    return 0;
  }
  if (!args.empty() && args[0] == "--make-demo-image") {
    if (args.size() < 3 || args.size() > 4) return Usage();
    std::size_t bytes = quorel::layout::kImageBytes;
    if (args.size() == 4) {
      char* end = nullptr;
      bytes = std::strtoul(args[3].c_str(), &end, 10);
      if (*end != '\0' || bytes == 0) return Usage();
    }
    WriteDemoImage(args[1], args[2], bytes);
    return 0;
  }
  const bool demo = !args.empty() && args[0] == "--demo";
  const std::vector<std::string> files(args.begin() + (demo ? 1 : 0), args.end());
  if (files.size() != 3 || files[0].rfind("--", 0) == 0) return Usage();
  for (const std::string& warning : PackFiles(files[0], files[1], files[2], {.demo = demo})) {
    std::fprintf(stderr, "%s\n", warning.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
