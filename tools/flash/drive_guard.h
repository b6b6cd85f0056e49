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

  // Update: the lock file taken exclusively (waiting a few seconds for a check that holds it) and
  // the exclusive open. Check: the lock file shared, no exclusive open, so that an update
  // holding the drive is seen without opening it and one that starts meanwhile waits briefly.
  enum class Mode { Update, Check };

  // lockDirectory: where the lock files are; empty for /run/lock (or /tmp without it).
  explicit DriveGuard(const std::string& devicePath, const std::string& lockDirectory = "",
                      Mode mode = Mode::Update);
  ~DriveGuard();
  DriveGuard(const DriveGuard&) = delete;
  DriveGuard& operator=(const DriveGuard&) = delete;

  State state() const { return state_; }

 private:
  int lockFd_ = -1;
  int exclusiveFd_ = -1;
  State state_ = State::Unguarded;
};

// Turns the kernel's media-event poll of a drive off while it is updated, and back to what it was
// when destroyed. The poll sends GET EVENT STATUS NOTIFICATION or TEST UNIT READY every few
// seconds, and would take a reset's unit attention before the update sees it; with the poll off,
// the update's next command gets it and the attempt starts over.
class MediaPollPause {
 public:
  // sysfsRoot: where sysfs is mounted (tests give another folder).
  explicit MediaPollPause(const std::string& devicePath, const std::string& sysfsRoot = "/sys");
  ~MediaPollPause();
  MediaPollPause(const MediaPollPause&) = delete;
  MediaPollPause& operator=(const MediaPollPause&) = delete;

  // One line for the log: what was done, or why it could not be.
  const std::string& note() const { return note_; }

 private:
  std::string attribute_;
  std::string oldValue_;  // empty: nothing to restore
  std::string note_;
};

}  // namespace quorel::flash_tool
