// One run of quorel-flash: the flasher read, its drives held, the window's logic in a terminal.
#pragma once

#include <string>

#include "app/run_log.h"
#include "options.h"

namespace quorel::flash_tool {

// The run's exit code; every event goes to `log`.
int Run(const Options& options, RunLog& log);

// The local time as the log's lines carry it.
std::string LocalTimeStamp();

}  // namespace quorel::flash_tool
