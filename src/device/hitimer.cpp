#include "device/hitimer.h"

#include "platform/platform.h"

namespace quorel {

namespace {
// Without a counter, Wait sleeps in steps this long between message checks.
constexpr uint32_t kWaitStepMilliseconds = 10;

int64_t ReadCounter() {
  int64_t ticks = 0;
  platform().QueryPerformanceCounter(&ticks);
  return ticks;
}
}  // namespace

HiTimer::HiTimer() {
  if (!platform().QueryPerformanceFrequency(&frequency) || frequency == 0) {
    frequency = 0;
    unavailable = true;
  } else {
    // One back-to-back start/stop, with overhead still 0, gives the cost of a run.
    startCount = ReadCounter();
    Stop();
    overhead = accumulated;
  }
  startCount = 0;
  stopCount = 0;
  accumulated = 0;
}

HiTimer::~HiTimer() {
  if (!unavailable && Running()) Stop();
}

void HiTimer::Start(bool reset) {
  if (unavailable) return;
  if (reset) Reset();
  startCount = ReadCounter();
}

void HiTimer::Stop() {
  if (unavailable || !Running()) return;
  stopCount = ReadCounter();
  accumulated += stopCount - startCount - overhead;
  startCount = 0;
}

void HiTimer::Reset() {
  if (unavailable) return;
  if (Running()) Stop();
  accumulated = 0;
}

double HiTimer::Elapsed() {
  if (unavailable || !Running()) return 0.0;
  stopCount = ReadCounter();
  return static_cast<double>(stopCount - startCount - overhead) / static_cast<double>(frequency);
}

double HiTimer::Total() const {
  if (unavailable) return 0.0;
  if (!Running()) return static_cast<double>(accumulated) / static_cast<double>(frequency);
  return static_cast<double>(accumulated + stopCount - startCount - overhead) /
         static_cast<double>(frequency);
}

void HiTimer::Wait(double seconds) {
  if (unavailable) {
    // No counter to watch: sleep the time away in short steps, still serving window messages.
    double remainingMilliseconds = seconds * 1000.0;
    while (remainingMilliseconds > 0.0) {
      platform().ProcessMessages();
      uint32_t const step = remainingMilliseconds < kWaitStepMilliseconds
                                ? static_cast<uint32_t>(remainingMilliseconds + 0.999)
                                : kWaitStepMilliseconds;
      platform().Sleep(step);
      remainingMilliseconds -= step;
    }
    return;
  }
  Start(true);
  while (Elapsed() < seconds) platform().ProcessMessages();
  Stop();
}

}  // namespace quorel
