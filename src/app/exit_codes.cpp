#include "app/exit_codes.h"

namespace quorel {
namespace {

struct Row {
  Outcome outcome;
  int windows;
  int flash;
};

constexpr Row kRows[] = {
    // Start-up ended ready and no update ran: the window was closed, or nothing was chosen.
    {Outcome::Running, exit_code::kDeclined, flash_exit::kNoDrive},
    {Outcome::PackageUnusable, exit_code::kPackageUnusable, flash_exit::kPackage},
    {Outcome::NoDrive, exit_code::kNoDrive, flash_exit::kNoDrive},
    {Outcome::DriveNotAllowed, exit_code::kNoDrive, flash_exit::kNoDrive},
    {Outcome::Declined, exit_code::kDeclined, flash_exit::kDeclined},
    {Outcome::NothingToDo, exit_code::kUpdated, flash_exit::kUpdated},
    {Outcome::UpdateApplies, exit_code::kUpdateApplies, flash_exit::kUpdateApplies},
    {Outcome::Updated, exit_code::kUpdated, flash_exit::kUpdated},
    {Outcome::Failed, exit_code::kFailed, flash_exit::kFailed},
};

}  // namespace

int ExitCodeOf(FrontEnd frontEnd, Outcome outcome, RestartState restart) {
  int code = exit_code::kFailed;
  for (const Row& row : kRows) {
    if (row.outcome == outcome) code = frontEnd == FrontEnd::Flash ? row.flash : row.windows;
  }
  // Both also say whether the package's restart was done.
  if (outcome != Outcome::Updated || restart == RestartState::NotAsked) return code;
  if (frontEnd == FrontEnd::Flash) {
    return restart == RestartState::NotDone ? flash_exit::kRestartNeeded : code;
  }
  return restart == RestartState::Started ? exit_code::kRestartStarted : exit_code::kRestartNeeded;
}

}  // namespace quorel
