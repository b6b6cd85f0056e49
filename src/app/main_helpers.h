// What the window's logic files share: a formatted line, the updatable test and an undo on unwind.
#pragma once

#include <cstdio>
#include <exception>
#include <string>
#include <utility>

#include "device/device_entry.h"

namespace quorel::detail {

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char line[320];
  std::snprintf(line, sizeof line, format, args...);
  return line;
}

inline bool PresentAndUpdatable(const DeviceEntry* entry) {
  return entry != nullptr && entry->present == 1 && entry->updatable == 1;
}

// Runs `undo` when the scope is left by an exception, unless released first.
template <typename Undo>
class OnUnwind {
 public:
  explicit OnUnwind(Undo undo) : undo_(std::move(undo)) {}
  ~OnUnwind() {
    if (!armed_ || std::uncaught_exceptions() <= exceptions_) return;
    try {
      undo_();
    } catch (...) {
      // The exception already on its way is the one to report.
    }
  }
  OnUnwind(const OnUnwind&) = delete;
  OnUnwind& operator=(const OnUnwind&) = delete;
  void Release() { armed_ = false; }

 private:
  Undo undo_;
  bool armed_ = true;
  int exceptions_ = std::uncaught_exceptions();
};

}  // namespace quorel::detail
