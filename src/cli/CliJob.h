#pragma once
// The production commands: `run` (a job file on each board, once or in a
// loop), `job check`, `db export` and `db stats`. The job and its images are
// read and checked before any adapter is touched; each port then runs its
// units on a thread of its own, recording them in one unit database.
// The production library is not built for Windows; there these commands say
// so (CliJobUnavailable.cpp).

#include "cli/CliOptions.h"
#include "cli/CliOutput.h"

namespace lindprog::cli {

bool IsProductionCommand(TCliCommand command);

// Runs one of the production commands; returns the exit code.
int RunProductionCommand(const TCliOptions& options, TCliOutput& output);

} // namespace lindprog::cli
