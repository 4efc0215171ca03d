#pragma once
// The exit codes of lindprog-cli, which the unit database records for each
// unit whichever front end ran it. Scripts act on them, so they never change
// meaning; with several adapters the highest code of any of them is the
// program's.

#include <cstdint>

namespace lindprog {

// The code for an operation that ended with the adapter's status.
int ExitCodeForStatus(std::uint8_t status);

namespace ExitCode {
constexpr int Ok = 0;
constexpr int Usage = 1;     // the command line, or a name the adapter does not offer
constexpr int NoAdapter = 2; // port missing, cannot be opened, or no answer
constexpr int Failed = 3;    // the adapter refused, or an operation failed
constexpr int Mismatch = 4;  // verify found a difference, blank check found data
constexpr int FileError = 5; // a file could not be read or written, or has the wrong size
constexpr int Database = 6;  // the unit database's server could not be reached, or went away
constexpr int Interrupted = 130;
} // namespace ExitCode

} // namespace lindprog
