// torvane-cli flash: a firmware download from a script, with the download
// view's own classes (package opening, model check, mode switches, the
// download sequence and its transcript).
#pragma once

#include "CliSession.h"

#include <atomic>
#include <functional>
#include <string>

namespace cli {

// The message of exit code kInBootloader.
extern const char* const kLeftInBootloaderText;

// Opens the package, checks the drive against it and downloads (or with
// --dry-run prints the plan). `running` is cleared by Ctrl+C: the run stops
// at its next step. `noReply` says why a station did not answer.
int CmdFlash(const Options& o, std::atomic<bool>& running,
             const std::function<std::string(Session&, int station)>& noReply);

}  // namespace cli
