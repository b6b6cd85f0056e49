// The log of a run for deployment tools: appended plain text, one time-stamped line per event.
// The window's logic writes the events; the front end opens it and adds its own lines (version,
// command line, system, exit code). Used on the window thread only.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace quorel {

class RunLog {
 public:
  // The time stamp of a line ("2026-12-09 13:10:02"), the front end's clock.
  using Clock = std::function<std::string()>;
  // Called once, with the path and the system's reason, when the log cannot be written.
  using Failure = std::function<void(const std::string& message)>;

  RunLog(Clock clock, Failure failure);
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Opens `path` for appending; false (after reporting it) when that fails.
  bool Open(const std::string& path);
  // Appends one line; a line break inside it becomes a blank. Does nothing without an open file
  // or after a failed write, which is reported once.
  void Line(const std::string& text);
  // The front ends' first and last lines: the program and its version, the command line; the
  // exit code.
  void Header(const char* program, const char* version, const std::string& commandLine);
  void Footer(int exitCode);

 private:
  void Fail(const char* what);

  Clock clock_;
  Failure failure_;
  std::string path_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace quorel
