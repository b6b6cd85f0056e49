// One copy of the program at a time: a named mutex held for the program's life.
#pragma once

#include <windows.h>

namespace quorel {

// The name shared by every copy. Global: the drives are the machine's, whichever session runs
// the program.
constexpr char kInstanceMutexName[] = "Global\\Quorel.Flasher";

class SingleInstance {
 public:
  explicit SingleInstance(const char* name = kInstanceMutexName);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when another copy holds the name.
  bool AlreadyRunning() const { return alreadyRunning_; }

 private:
  HANDLE mutex_ = nullptr;
  bool alreadyRunning_ = false;
};

}  // namespace quorel
