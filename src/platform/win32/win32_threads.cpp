// The Windows binding of threads and locks: CreateThread with a thread-id pointer (Windows 9x
// fails the call without one), critical sections and an event. Nothing here needs more than
// Windows 95 or NT 3.51.
#include <windows.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <utility>

#include "platform/threads.h"

namespace quorel {
namespace {

// The runtime sets up its exception handling on first use (the sorted unwind tables, the
// per-thread exception globals) under locks whose semaphores Windows 9x cannot create, since
// the runtime asks for them with CreateSemaphoreW. Throwing once on the thread that starts the
// first worker does that set-up while it is still the only thread; afterwards those paths only
// read.
std::atomic<bool> g_runtimePrepared{false};

[[gnu::noinline]] void ThrowOnce() {
  throw std::runtime_error("first exception of the process");
}

void PrepareRuntimeForThreads() {
  if (g_runtimePrepared.exchange(true)) return;
  try {
    ThrowOnce();
  } catch (const std::runtime_error&) {
  }
}

struct StartRequest {
  void (*body)(void*);
  void* context;
};

DWORD WINAPI RunDetached(LPVOID parameter) {
  const StartRequest request = *static_cast<StartRequest*>(parameter);
  delete static_cast<StartRequest*>(parameter);
  request.body(request.context);
  return 0;
}

}  // namespace

ThreadId CurrentThreadId() {
  return GetCurrentThreadId();
}

bool StartThread(void (*body)(void* context), void* context) {
  PrepareRuntimeForThreads();
  auto* request = new (std::nothrow) StartRequest{body, context};
  if (request == nullptr) return false;
  DWORD id = 0;
  const HANDLE thread = CreateThread(nullptr, 0, RunDetached, request, 0, &id);
  if (thread == nullptr) {
    delete request;
    return false;
  }
  CloseHandle(thread);
  return true;
}

struct Thread::Impl {
  std::function<void()> body;
  HANDLE handle = nullptr;

  static DWORD WINAPI Run(LPVOID parameter) {
    static_cast<Impl*>(parameter)->body();
    return 0;
  }
};

Thread::Thread(std::function<void()> body) : impl_(new Impl{std::move(body)}) {
  PrepareRuntimeForThreads();
  DWORD id = 0;
  impl_->handle = CreateThread(nullptr, 0, &Impl::Run, impl_, 0, &id);
  if (impl_->handle == nullptr) {
    delete impl_;
    throw std::runtime_error("CreateThread failed");
  }
}

Thread::Thread(Thread&& other) noexcept : impl_(std::exchange(other.impl_, nullptr)) {}

Thread::~Thread() {
  if (impl_ == nullptr) return;
  Join();
  delete impl_;
}

void Thread::Join() {
  if (impl_ == nullptr || impl_->handle == nullptr) return;
  WaitForSingleObject(impl_->handle, INFINITE);
  CloseHandle(impl_->handle);
  impl_->handle = nullptr;
}

struct Lock::Impl {
  CRITICAL_SECTION section;
};

Lock::Lock() : impl_(new Impl) {
  InitializeCriticalSection(&impl_->section);
}
Lock::~Lock() {
  DeleteCriticalSection(&impl_->section);
  delete impl_;
}
void Lock::lock() {
  EnterCriticalSection(&impl_->section);
}
void Lock::unlock() {
  LeaveCriticalSection(&impl_->section);
}

// An auto-reset event wakes one waiter per notification; the others find their predicate on
// their own, since a wait lasts at most kWaitSliceMilliseconds. Windows before Vista has no
// condition variable, and this is all the tests and the program need.
constexpr DWORD kWaitSliceMilliseconds = 5;

struct Condition::Impl {
  HANDLE event = nullptr;
};

Condition::Condition() : impl_(new Impl) {
  impl_->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}
Condition::~Condition() {
  if (impl_->event != nullptr) CloseHandle(impl_->event);
  delete impl_;
}
void Condition::Wait(Lock& held) {
  WaitFor(held, kWaitSliceMilliseconds);
}
void Condition::WaitFor(Lock& held, uint32_t timeoutMilliseconds) {
  const DWORD limit =
      timeoutMilliseconds < kWaitSliceMilliseconds ? timeoutMilliseconds : kWaitSliceMilliseconds;
  held.unlock();
  // Without an event (creation failed) the wait is a plain sleep: still a bounded wait.
  if (impl_->event != nullptr) {
    WaitForSingleObject(impl_->event, limit);
  } else {
    Sleep(limit);
  }
  held.lock();
}
void Condition::NotifyAll() {
  if (impl_->event != nullptr) SetEvent(impl_->event);
}

}  // namespace quorel
