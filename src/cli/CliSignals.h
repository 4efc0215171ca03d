#pragma once
// Ctrl-C and SIGTERM ask every running operation to stop after its current
// block, so that the target is powered off and the port released; a second
// one ends the program at once.

#include <atomic>

namespace lindprog::cli {

// Call before any other thread starts: the stop signals are then delivered to
// one watcher thread only, and no blocking call elsewhere is interrupted.
void WatchStopSignals();

// Set once a stop signal has come in.
const std::atomic<bool>& StopRequested();

} // namespace lindprog::cli
