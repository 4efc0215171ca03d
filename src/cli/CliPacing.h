#pragma once
// How the command line paces a plan on the runner: the first stop signal
// cancels the stage at its next step (the target is then powered off), the
// port's notices are handled after every step, and --pause waits between
// blocks. Every command that runs a plan runs it so.

#include "core/base/UiDispatcher.h"
#include "core/ops/OperationRunner.h"

#include <chrono>

namespace lindprog::cli {

TRunPacing CommandLinePacing(TQueueDispatcher& dispatcher, std::chrono::milliseconds pause);

} // namespace lindprog::cli
