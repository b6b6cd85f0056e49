// Holds a drive for one quorel-flash run, so that two runs never write it at once (a deployment
// loop started twice, a second terminal): a lock file per device, by its device number, that
// every quorel-flash takes, and the kernel's exclusive open of the block device where it grants
// one, which keeps other exclusive openers (mount among them) away as well.
#pragma once

#include <string>

namespace quorel::flash_tool {

class DriveGuard {
 public:
  enum class State {
    Held,       // this run holds the drive
    Busy,       // another run, or another exclusive opener, holds it
    Unguarded,  // neither the lock file nor the exclusive open could be had
  };

  // lockDirectory: where the lock files are; empty for /run/lock (or /tmp without it).
  explicit DriveGuard(const std::string& devicePath, const std::string& lockDirectory = "");
  ~DriveGuard();
  DriveGuard(const DriveGuard&) = delete;
  DriveGuard& operator=(const DriveGuard&) = delete;

  State state() const { return state_; }

 private:
  int lockFd_ = -1;
  int exclusiveFd_ = -1;
  State state_ = State::Unguarded;
};

}  // namespace quorel::flash_tool
