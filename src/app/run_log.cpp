#include "app/run_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/texts.h"

namespace quorel {

RunLog::RunLog(Clock clock, Failure failure)
    : clock_(std::move(clock)), failure_(std::move(failure)) {}

RunLog::~RunLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RunLog::Open(const std::string& path) {
  path_ = path;
  file_ = std::fopen(path.c_str(), "a");
  if (file_ == nullptr) Fail("cannot be opened");
  return file_ != nullptr;
}

void RunLog::Header(const char* program, const char* version, const std::string& commandLine) {
  char line[64];
  std::snprintf(line, sizeof line, text::kLogProgram, program, version);
  Line(line);
  Line(text::kLogCommandLine + commandLine);
}

void RunLog::Footer(int exitCode) {
  char line[32];
  std::snprintf(line, sizeof line, text::kLogExitCode, exitCode);
  Line(line);
}

void RunLog::Line(const std::string& text) {
  if (file_ == nullptr || failed_) return;
  std::string line = clock_ ? clock_() : std::string();
  line += ' ';
  for (const char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  // Flushed line by line: a run that is cut off keeps what it logged so far.
  if (std::fputs(line.c_str(), file_) < 0 || std::fflush(file_) != 0) Fail("cannot be written");
}

void RunLog::Fail(const char* what) {
  const int error = errno;
  failed_ = true;
  if (failure_) failure_("The log " + path_ + " " + what + ": " + std::strerror(error));
}

}  // namespace quorel
