// The switches of quorel.exe for deployment tools, and its exit codes then, in the conventions of
// Windows installers that such tools already map.
#pragma once

#include <string>

namespace quorel {

// Exit codes once a switch is given (without switches the window ends with 0 as ever).
namespace exit_code {
inline constexpr int kUpdated = 0;      // updated (or nothing needed), no restart needed
inline constexpr int kFailed = 1603;    // an update failed, on any drive
inline constexpr int kDeclined = 1602;  // the notice or a question was answered no
inline constexpr int kAlreadyRunning = 1618;
inline constexpr int kPackageUnusable = 1620;  // damaged, invalid, seal, no firmware
inline constexpr int kBadSwitches = 1639;
inline constexpr int kRestartStarted = 1641;
inline constexpr int kNoDrive = 1642;  // no drive may be updated
inline constexpr int kRestartNeeded = 3010;
}  // namespace exit_code

struct Switches {
  bool silent = false;  // /S or /quiet
  bool force = false;
  bool reboot = false;
  bool help = false;  // /?
  std::string logPath;
  bool any = false;   // at least one switch was given
  std::string error;  // the first argument not understood; empty when all were
};

// Reads a command line (without the program's name): switches begin with / or -, case does not
// matter, and double quotes keep blanks ("/log=C:\My logs\q.log" or /log="...").
Switches ParseSwitches(const std::string& commandLine);

}  // namespace quorel
