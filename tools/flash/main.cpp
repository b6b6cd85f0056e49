// quorel-flash: updates a drive natively from Linux with the package a packed flasher carries,
// through the kernel's SCSI pass-through (SG_IO), with the window's own logic and texts in a
// terminal.
#include <cstdio>
#include <exception>
#include <string>

#include "app/exit_codes.h"
#include "app/run_log.h"
#include "app/texts.h"
#include "options.h"
#include "run.h"

int main(int argc, char** argv) {
  using namespace quorel;
  using namespace quorel::flash_tool;
  Options options;
  int exitCode = flash_exit::kUsage;
  if (!ParseOptions(argc, argv, options, exitCode)) return exitCode;

  // Reported once; the run goes on without it.
  RunLog log(LocalTimeStamp, [](const std::string& message) {
    std::fprintf(stderr, "quorel-flash: %s\n", message.c_str());
  });
  if (!options.log.empty() && log.Open(options.log)) {
    std::string command;
    for (int i = 1; i < argc; ++i) command += (i > 1 ? " " : "") + std::string(argv[i]);
    log.Header("quorel-flash", QUOREL_VERSION_TEXT, command);
  }
  try {
    exitCode = Run(options, log);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quorel-flash: %s\n", error.what());
    log.Line(text::kLogError + std::string(error.what()));
    exitCode = flash_exit::kFailed;
  }
  log.Footer(exitCode);
  return exitCode;
}
