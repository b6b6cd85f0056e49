// quorel-pack: fills the package block of a template quorel.exe from a package description,
// and reads a packed flasher back.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "authenticode.h"
#include "pack.h"
#include "package/layout.h"

namespace {

constexpr char kUsage[] =
    "usage: quorel-pack [--demo] TEMPLATE.exe PACKAGE.ini OUT.exe\n"
    "       quorel-pack --dump [--trust CERTS.pem]... FLASHER.exe [IMAGE_DIR]\n"
    "       quorel-pack --make-demo-image REVISION OUT.bin [BYTES]\n"
    "\n"
    "The first form writes OUT.exe: a copy of the template with its package block filled from\n"
    "the description, and sealed. A template built with the placeholder or stand-in part\n"
    "blocks (not the drive maker's data) updates only the simulated test drive; it is packed\n"
    "only with --demo.\n"
    "--dump prints a flasher's package as a description, with its seal (sealed, digest\n"
    "verified / sealed, DIGEST MISMATCH / unsealed), each bank image's size and SHA-256 and\n"
    "which part blocks it carries, and writes the images to IMAGE_DIR when given. It says\n"
    "whether the file is signed, by whom, and whether its digest matches; with --trust, whether\n"
    "the signer chains to the certificates in CERTS.pem (a CA, or the vendor's own certificate).\n"
    "A template's signature is removed by packing: sign a flasher after packing it.\n"
    "--make-demo-image writes a synthetic image (1 MiB unless BYTES is given, and at most\n"
    "1 MiB, the image area) that the simulated drive installs as REVISION.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Run(const std::vector<std::string>& args) {
  using namespace quorel::pack;
  namespace signature = quorel::signature;
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!args.empty() && args[0] == "--dump") {
    std::vector<std::filesystem::path> trust;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--trust" && i + 1 < args.size()) {
        trust.push_back(args[++i]);
      } else if (args[i].rfind("--", 0) == 0) {
        return Usage();
      } else {
        files.push_back(args[i]);
      }
    }
    if (files.empty() || files.size() > 2) return Usage();
    const std::vector<uint8_t> file = ReadWholeFile(files[0]);
    std::optional<signature::TrustAnchors> anchors;
    if (!trust.empty()) anchors = signature::TrustAnchors::FromFiles(trust);
    const std::string signatureLine =
        signature::Describe(signature::Check(file, anchors ? &*anchors : nullptr));
    std::fputs(DumpBytes(file, files[0], files.size() == 2 ? files[1] : "", signatureLine).c_str(),
               stdout);
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
