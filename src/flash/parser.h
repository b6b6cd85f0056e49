// The flash worker: one thread per drive being updated.
#pragma once

#include <cstdint>
#include <functional>

#include "device/atapi_device.h"

namespace quorel {

class TQuorelMain;

// A worker's parameters. The worker uses the engine but does not own it.
struct FlashJob {
  AtapiDevice* engine = nullptr;
  const uint8_t* image = nullptr;  // points into the package block
  int32_t size = 0;                // bytes
  uint8_t bootCode = 0;            // 0 or 1
  TQuorelMain* window = nullptr;   // carried, not used by the worker
};

// The worker's internal failure; never leaves the worker.
class ErrCodeException {
 public:
  explicit ErrCodeException(uint8_t code) : code_(code) {}
  uint8_t Code() const { return code_; }

 private:
  uint8_t code_;
};

class Parser {
 public:
  using TerminateCallback = std::function<void(Parser* sender)>;

  // Copies the job, attaches the callback and starts the thread. The caller keeps no
  // ownership: after the callback has run on the window thread the worker deletes itself.
  Parser(const FlashJob& job, TerminateCallback onTerminate);

  // Workers whose thread has not finished yet. After its callback a worker still leaves the
  // dispatcher and deletes itself (it no longer touches its engine), so code that destroys the
  // window-thread dispatcher while the process goes on, such as a test, waits for 0 first.
  static int Running();

 private:
  ~Parser() = default;
  void Work();
  bool FlashDrive();
  static void ThreadMain(void* self);

  FlashJob job;
  AtapiDevice* engine = nullptr;
  TerminateCallback onTerminate_;
};

constexpr uint8_t kFlashFailed = 42;

}  // namespace quorel
