#include "flash/parser.h"

#include <atomic>
#include <stdexcept>
#include <utility>

#include "platform/threads.h"

namespace quorel {
namespace {
std::atomic<int> g_running{0};
}  // namespace

int Parser::Running() {
  return g_running.load(std::memory_order_acquire);
}

Parser::Parser(const FlashJob& job, TerminateCallback onTerminate) {
  engine = nullptr;
  this->job = job;
  engine = this->job.engine;
  onTerminate_ = std::move(onTerminate);
  // Everything the thread reads is in place before it starts; nothing touches this object on
  // the creating thread afterwards, since the worker may already have deleted it.
  g_running.fetch_add(1, std::memory_order_relaxed);
  if (!StartThread(&Parser::ThreadMain, this)) {
    g_running.fetch_sub(1, std::memory_order_relaxed);
    throw std::runtime_error("The worker thread cannot be started.");
  }
}

void Parser::ThreadMain(void* self) {
  auto* const worker = static_cast<Parser*>(self);
  try {
    worker->Work();
  } catch (...) {
    // Any other escape from the body is a failed download too, never a success.
    worker->engine->FlashResult = kFlashFailed;
  }
  if (worker->onTerminate_) {
    uiDispatcher().RunOnUiThread([worker] { worker->onTerminate_(worker); });
  }
  delete worker;
  g_running.fetch_sub(1, std::memory_order_release);
}

void Parser::Work() {
  engine->FlashResult = 0;
  bool ok = false;
  try {
    ok = FlashDrive();
  } catch (const ErrCodeException&) {
    ok = false;
  }
  if (!ok) engine->FlashResult = kFlashFailed;
}

bool Parser::FlashDrive() {
  if (engine->DownloadFirmware(job.image, job.size, job.bootCode)) return true;
  if (!engine->RetryFlag()) return false;
  throw ErrCodeException(kFlashFailed);
}

}  // namespace quorel
