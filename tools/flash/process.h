// What quorel-flash sets up around a run: the stop signals it notes instead of obeying, the
// programs it starts, and the system's sleep inhibitor while a drive is written.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <vector>

namespace quorel::flash_tool {

// The last stop signal caught (SIGINT, SIGTERM, SIGHUP), 0 when none; the run loop decides.
extern std::atomic<int> g_signal;
void CatchStopSignals();

// Runs a program with its output discarded; its process id, or -1.
pid_t Spawn(const std::vector<const char*>& argv);

// Keeps the computer from sleeping or shutting down while a drive is written, through the
// system's inhibitor (systemd-inhibit) where there is one; elsewhere it does nothing.
class Inhibitor {
 public:
  ~Inhibitor() { Release(); }
  void Take();
  void Release();

 private:
  pid_t pid_ = -1;
};

}  // namespace quorel::flash_tool
