#include "drive_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

namespace quorel::flash_tool {
namespace {

std::string LockDirectory(const std::string& chosen) {
  if (!chosen.empty()) return chosen;
  struct stat info {};
  return stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode) ? "/run/lock" : "/tmp";
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

DriveGuard::DriveGuard(const std::string& devicePath, const std::string& lockDirectory) {
  struct stat device {};
  if (stat(devicePath.c_str(), &device) != 0) return;  // the drive's own open will fail

  // By device number, so that /dev/sr0 and a link to it share one lock. Read-only will do for
  // the lock when another user created the file.
  const dev_t number =
      S_ISBLK(device.st_mode) || S_ISCHR(device.st_mode) ? device.st_rdev : device.st_ino;
  const std::string lockPath = LockDirectory(lockDirectory) + "/quorel-flash." +
                               std::to_string(major(number)) + "-" + std::to_string(minor(number)) +
                               ".lock";
  lockFd_ = OpenRetrying(lockPath.c_str(), O_RDWR | O_CREAT, 0644);
  if (lockFd_ < 0) lockFd_ = OpenRetrying(lockPath.c_str(), O_RDONLY);
  bool locked = false;
  if (lockFd_ >= 0) {
    int result;
    do {
      result = flock(lockFd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno == EWOULDBLOCK) {
      state_ = State::Busy;
      return;
    }
    locked = result == 0;
  }

  if (S_ISBLK(device.st_mode)) {
    exclusiveFd_ = OpenRetrying(devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL);
    if (exclusiveFd_ < 0 && errno == EBUSY) {
      state_ = State::Busy;
      return;
    }
  }
  state_ = locked || exclusiveFd_ >= 0 ? State::Held : State::Unguarded;
}

DriveGuard::~DriveGuard() {
  if (exclusiveFd_ >= 0) close(exclusiveFd_);
  if (lockFd_ >= 0) close(lockFd_);  // lets the lock go
}

}  // namespace quorel::flash_tool
