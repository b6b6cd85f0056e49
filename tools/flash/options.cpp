#include "options.h"

#include <cstdio>

#include "app/exit_codes.h"

namespace quorel::flash_tool {
namespace {

constexpr char kUsage[] =
    "usage: quorel-flash [OPTIONS] FLASHER.exe\n"
    "\n"
    "Updates a drive with the firmware package that the packed flasher FLASHER.exe carries,\n"
    "through the kernel's SCSI pass-through. Writing needs root (CAP_SYS_RAWIO).\n"
    "\n"
    "  --drive /dev/srN  update this drive (repeat for several); default: every optical drive\n"
    "  --yes             answer yes to the package's questions (unattended use); a drive that\n"
    "                    already has the new firmware is left alone unless --force\n"
    "  --check           only tell whether an update applies, sending nothing that writes\n"
    "  --list            as --check, listing every optical drive with the package's verdict\n"
    "  --json            with --list or --check: one JSON document on standard output\n"
    "  --reboot          restart the computer if the package asks for it, without asking\n"
    "  --force           also update a drive that already has the new firmware, without asking\n"
    "  --log PATH        append a log of the run to PATH\n"
    "  --dump            show what the flasher carries, as quorel-pack --dump does\n"
    "  --trust FILE      trust the signers that chain to the certificates in this PEM file (a CA,\n"
    "                    or the vendor's own certificate); repeatable. Default: the system's CAs\n"
    "  --require-signature  refuse a flasher that is unsigned or whose signer is not trusted\n"
    "  --version         show the version\n"
    "  --help            show this text\n"
    "\n"
    "Exit codes: 0 updated (or nothing to do); 1 usage or unreadable file; 2 the package cannot\n"
    "be used (damaged, invalid, not a flasher, changed after signing, or not signed by a trusted\n"
    "signer with --require-signature); 3 no drive may be updated; 4 the update failed or\n"
    "the drives could not be listed or read; 5 a question was answered no; 6 every drive is busy\n"
    "with another run (try again later); 7 updated, the package asks for a restart that was not\n"
    "done; 100 (--check) an update applies; 128+N ended by signal N before any drive was written.\n"
    "\n"
    "A drive is held for the run (a lock file per device, and the kernel's exclusive open where\n"
    "it grants one): a second run leaves a drive the first holds alone and says it is busy.\n"
    "\n"
    "Before any drive is opened, the flasher's signature is checked: one changed after it was\n"
    "signed is always refused; the signer, or that there is none, is shown.\n";

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, int& exitCode) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      exitCode = flash_exit::kUpdated;
      return false;
    }
    if (arg == "--version") {
      std::printf("quorel-flash %s\n", QUOREL_VERSION_TEXT);
      exitCode = flash_exit::kUpdated;
      return false;
    }
    if (arg == "--yes") {
      options.yes = true;
    } else if (arg == "--reboot") {
      options.reboot = true;
    } else if (arg == "--dump") {
      options.dump = true;
    } else if (arg == "--check") {
      options.check = true;
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg == "--log" && i + 1 < argc) {
      options.log = argv[++i];
    } else if (arg == "--trust" && i + 1 < argc) {
      options.trust.push_back(argv[++i]);
    } else if (arg == "--require-signature") {
      options.requireSignature = true;
    } else if (arg == "--drive" && i + 1 < argc) {
      options.drives.push_back(argv[++i]);
    } else if (arg.rfind("-", 0) != 0 && options.flasher.empty()) {
      options.flasher = arg;
    } else {
      std::fprintf(stderr, "quorel-flash: unexpected argument %s\n\n%s", arg.c_str(), kUsage);
      exitCode = flash_exit::kUsage;
      return false;
    }
  }
  if (options.json && !options.list && !options.check) {
    std::fprintf(stderr, "quorel-flash: --json goes with --list or --check\n\n%s", kUsage);
    exitCode = flash_exit::kUsage;
    return false;
  }
  if (options.flasher.empty()) {
    std::fputs(kUsage, stderr);
    exitCode = flash_exit::kUsage;
    return false;
  }
  return true;
}

}  // namespace quorel::flash_tool
