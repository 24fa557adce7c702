// torvane-cli monitor and recover.
#pragma once

#include "CliSession.h"

#include <atomic>

namespace cli {

// Records the --slot quantities every --interval until --duration has passed
// or `running` is cleared (Ctrl+C, SIGTERM), then saves the history file
// (--out) and/or has printed every sample as CSV (--format csv).
int CmdMonitor(const Options& o, const std::atomic<bool>& running);
// Writes the journals named (or every one left behind in the history folder)
// as history files and removes them.
int CmdRecover(const Options& o);

}  // namespace cli
