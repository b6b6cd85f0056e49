// How each front end reports the run's outcome: quorel.exe with switches in the installer codes
// that deployment tools know, quorel-flash in its own. One table for both, so that they are read
// side by side. Exits that come before the logic runs (bad switches, another instance, usage, an
// unreadable file, a signal) are each front end's own.
#pragma once

#include "app/quorel_main.h"

namespace quorel {

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
inline constexpr int kUpdateApplies = 100;  // a check: at least one drive would be updated
}  // namespace exit_code

namespace flash_exit {
inline constexpr int kUpdated = 0;
inline constexpr int kUsage = 1;    // usage, an unreadable file, no drive chosen
inline constexpr int kPackage = 2;  // the package cannot be used
inline constexpr int kNoDrive = 3;  // no drive may be updated
inline constexpr int kFailed = 4;   // the update failed, or the drives could not be listed
inline constexpr int kDeclined = 5;
inline constexpr int kBusy = 6;             // every drive is busy with another run: try again later
inline constexpr int kRestartNeeded = 7;    // updated; the package asks for a restart not done
inline constexpr int kUpdateApplies = 100;  // a check: at least one drive would be updated
inline constexpr int kSignalBase = 128;     // ended by signal N before any drive was written
}  // namespace flash_exit

enum class FrontEnd : uint8_t { WindowsSwitches, Flash };

// The exit code of a run that went through the logic.
int ExitCodeOf(FrontEnd frontEnd, Outcome outcome, RestartState restart);

}  // namespace quorel
