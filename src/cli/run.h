#pragma once

#include "arguments.h"

namespace tarvek::cli {

// Runs the subcommand on every file the settings name and returns the exit
// status: 0 when all succeeded, 1 when any failed, 2 when an output would
// overwrite an input. SIGINT or SIGTERM lets the photos under way finish,
// then ends the process by the same signal.
int runCommand(const Settings& settings);

}  // namespace tarvek::cli
