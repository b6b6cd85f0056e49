#include "drive_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorel::flash_tool {
namespace {

// How long an update waits for a lock a check holds: 5 s in steps of 100 ms.
constexpr int kCheckWaitSteps = 50;
constexpr useconds_t kCheckWaitStepMicroseconds = 100000;

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

DriveGuard::DriveGuard(const std::string& devicePath, const std::string& lockDirectory, Mode mode) {
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
    // A check holds the lock shared for a second or two: an update waits that long for it
    // rather than skip the drive.
    const int operation = mode == Mode::Check ? LOCK_SH : LOCK_EX;
    int waits = mode == Mode::Check ? 0 : kCheckWaitSteps;
    int result;
    for (;;) {
      result = flock(lockFd_, operation | LOCK_NB);
      if (result == 0 || (errno != EINTR && (errno != EWOULDBLOCK || waits-- <= 0))) break;
      if (errno == EWOULDBLOCK) usleep(kCheckWaitStepMicroseconds);
    }
    if (result != 0 && errno == EWOULDBLOCK) {
      state_ = State::Busy;
      return;
    }
    locked = result == 0;
  }

  if (mode == Mode::Update && S_ISBLK(device.st_mode)) {
    exclusiveFd_ = OpenRetrying(devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL);
    if (exclusiveFd_ < 0 && errno == EBUSY) {
      state_ = State::Busy;
      return;
    }
  }
  state_ = locked || exclusiveFd_ >= 0 ? State::Held : State::Unguarded;
}

namespace {

// The attribute's value without its line end; false when it cannot be read.
bool ReadAttribute(const std::string& path, std::string& value) {
  const int fd = OpenRetrying(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  char text[32];
  const ssize_t got = read(fd, text, sizeof text - 1);
  const int readError = got < 0 ? errno : ENODATA;
  close(fd);
  if (got <= 0) {
    errno = readError;
    return false;
  }
  value.assign(text, static_cast<size_t>(got));
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
  return !value.empty();
}

bool WriteAttribute(const std::string& path, const std::string& value) {
  const int fd = OpenRetrying(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  const bool written = write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
  return close(fd) == 0 && written;
}

}  // namespace

MediaPollPause::MediaPollPause(const std::string& devicePath, const std::string& sysfsRoot) {
  struct stat device {};
  if (stat(devicePath.c_str(), &device) != 0 || !S_ISBLK(device.st_mode)) {
    note_ = "The media poll of " + devicePath + " was left as it is: not a block device.";
    return;
  }
  attribute_ = sysfsRoot + "/dev/block/" + std::to_string(major(device.st_rdev)) + ":" +
               std::to_string(minor(device.st_rdev)) + "/events_poll_msecs";
  std::string old;
  if (!ReadAttribute(attribute_, old)) {
    note_ = "The media poll of " + devicePath + " was left as it is: " + attribute_ +
            " cannot be read (" + std::strerror(errno) + ").";
    return;
  }
  // Every write makes the kernel check the drive at once, sending its own commands: none when
  // the poll is off already.
  if (old == "0") {
    note_ = "The media poll of " + devicePath + " is off already.";
    return;
  }
  if (!WriteAttribute(attribute_, "0")) {
    note_ = "The media poll of " + devicePath + " was left on: " + attribute_ +
            " cannot be written (" + std::strerror(errno) + "). A reset's unit attention may be" +
            " taken by the kernel before the update sees it.";
    return;
  }
  oldValue_ = old;
  note_ = "The media poll of " + devicePath + " is off for the update (it was " + old +
          "; restored afterwards).";
}

MediaPollPause::~MediaPollPause() {
  if (!oldValue_.empty()) WriteAttribute(attribute_, oldValue_);
}

DriveGuard::~DriveGuard() {
  if (exclusiveFd_ >= 0) close(exclusiveFd_);
  if (lockFd_ >= 0) close(lockFd_);  // lets the lock go
}

}  // namespace quorel::flash_tool
