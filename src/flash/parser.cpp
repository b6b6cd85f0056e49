#include "flash/parser.h"

#include <atomic>
#include <utility>

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
  try {
    std::thread(&Parser::ThreadMain, this).detach();
  } catch (...) {
    g_running.fetch_sub(1, std::memory_order_relaxed);
    throw;
  }
}

void Parser::ThreadMain() {
  try {
    Work();
  } catch (...) {
    // Any other escape from the body is a failed download too, never a success.
    engine->FlashResult = kFlashFailed;
  }
  if (onTerminate_) {
    uiDispatcher().RunOnUiThread([this] { onTerminate_(this); });
  }
  delete this;
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
