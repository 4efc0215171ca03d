#pragma once
// lindprog-cli backup and restore: a device's whole contents into a folder
// with a manifest, and back, on one adapter.

#include "cli/CliOptions.h"
#include "cli/CliOutput.h"

namespace lindprog::cli {

bool IsBackupCommand(TCliCommand command);
// Runs backup or restore; the exit code.
int RunBackupCommand(const TCliOptions& options, TCliOutput& output);

} // namespace lindprog::cli
