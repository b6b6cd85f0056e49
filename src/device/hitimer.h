// High-resolution interval timer in seconds over the performance counter. Each run has the
// measured cost of one back-to-back Start/Stop taken off. Without a counter every operation
// does nothing and every reading is 0.0.
#pragma once

#include <cstdint>

namespace quorel {

class HiTimer {
 public:
  HiTimer();   // detects the counter and measures the start/stop overhead
  ~HiTimer();  // stops a running timer
  HiTimer(const HiTimer&) = delete;
  HiTimer& operator=(const HiTimer&) = delete;

  // Starts a run; with reset true the accumulated total is cleared first.
  void Start(bool reset);
  // Ends the running run and adds it to the total. Only on a running timer.
  void Stop();
  // Stops a running timer and clears the total.
  void Reset();
  // Seconds of the current run; 0.0 when stopped or unavailable.
  double Elapsed();
  // Seconds of all completed runs, plus the current one up to its last reading.
  double Total() const;
  // Busy-waits the given seconds, letting the thread's pending window messages be processed.
  // Without a counter it still ends: it sleeps the time away in short steps instead.
  void Wait(double seconds);

  bool Available() const { return !unavailable; }
  bool Running() const { return startCount != 0; }

 private:
  int64_t frequency = 0;
  int64_t startCount = 0;
  int64_t stopCount = 0;
  int64_t accumulated = 0;
  int64_t overhead = 0;
  bool unavailable = false;
};

}  // namespace quorel
