#pragma once
// The console the command line runs in. Ctrl-C (and SIGTERM on POSIX) asks
// every running operation to stop after its current block, so that the target
// is powered off and the port released; a second one ends the program at
// once. Before any adapter is touched there is nothing to switch off, so the
// first one already ends the program, whatever it waits for. One
// implementation per system: CliSignalsPosix.cpp, CliSignalsWin32.cpp.

#include <atomic>
#include <cstdio>

namespace lindprog::cli {

// Call before any other thread starts: the stop signals are then delivered to
// one watcher thread only, and no blocking call elsewhere is interrupted.
void WatchStopSignals();

// Call right before the first adapter is touched: from then on the first
// stop signal only asks the operations to stop.
void DeferStopsToOperations();

// Set once a stop signal has come in.
const std::atomic<bool>& StopRequested();

// Whether `stream` shows on a terminal, where progress is redrawn in place.
bool IsTerminal(std::FILE* stream);

// The width of the terminal `stream` shows on, in columns; 0 when unknown.
int TerminalColumns(std::FILE* stream);

// Bytes through `stream` as they are: Windows would turn "\n" into "\r\n"
// and stop reading at ^Z in text mode; POSIX streams are bytes already.
void UseBinaryMode(std::FILE* stream);

} // namespace lindprog::cli
