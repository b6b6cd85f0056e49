// quorel-flash's command line.
#pragma once

#include <string>
#include <vector>

namespace quorel::flash_tool {

struct Options {
  std::string flasher;
  std::vector<std::string> drives;
  bool yes = false;
  bool reboot = false;
  bool dump = false;
  bool force = false;
  bool check = false;
  bool list = false;
  bool json = false;
  std::string log;
  std::vector<std::string> trust;  // PEM files of trust anchors; none: the system's CAs
  bool requireSignature = false;
};

// Reads the command line. False when the program ends here (help, version, a usage error), with
// the exit code in exitCode and its text already printed.
bool ParseOptions(int argc, char** argv, Options& options, int& exitCode);

}  // namespace quorel::flash_tool
