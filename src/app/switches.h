// The switches of quorel.exe for deployment tools (its exit codes then: app/exit_codes.h).
#pragma once

#include <string>

namespace quorel {

struct Switches {
  bool silent = false;  // /S or /quiet
  bool force = false;
  bool reboot = false;
  bool check = false;  // /check: read-only, no window and no message
  bool help = false;   // /?
  std::string logPath;
  bool any = false;   // at least one switch was given
  std::string error;  // the first argument not understood; empty when all were
};

// Reads a command line (without the program's name): switches begin with / or -, case does not
// matter, and double quotes keep blanks ("/log=C:\My logs\q.log" or /log="...").
Switches ParseSwitches(const std::string& commandLine);

}  // namespace quorel
