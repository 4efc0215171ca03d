#pragma once
// The command line of lindprog-cli: which command, on which ports, with which
// target and file. Parsing never touches a port or a file, so a usage error is
// reported before anything else happens.

#include "core/buffer/ImageFile.h"
#include "core/production/UnitLoop.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lindprog::cli {

enum class TCliCommand {
    Ports,
    Info,
    Read,
    Write,
    Verify,
    Program,
    Erase,
    BlankCheck,
    Unlock,
    Detect,
    Key,
    UpdateFirmware,
    Compare,
    Completion,
    // Production: a job file run on each board (CliJob)
    Run,
    JobCheck,
    DbExport,
    DbStats,
    DbImport,
    // A whole device into a folder and back (CliBackup)
    Backup,
    Restore
};

// The production commands' own options; the file's values give way to the
// command line's, so the target options that were given are marked.
struct TJobOptions {
    std::string Station;
    std::optional<std::string> Database; // a file's path or a server's URI
    std::string Since;
    std::string ImportFrom; // db import: the station's SQLite file
    bool ByStation = false; // db stats --by station
    bool Csv = false;
    bool Loop = false;
    TTrigger Trigger = TTrigger::Scan;
    std::string TriggerText = "scan"; // as given
    std::optional<std::int64_t> Count;
    std::optional<std::int64_t> MaxFailures;
    bool JtagDelayGiven = false;
    bool PowerOffGiven = false;
    bool Yes = false; // restore: erase without asking
};

struct TCliOptions {
    TCliCommand Command = TCliCommand::Ports;
    std::vector<std::string> Ports; // as given with -p, in order
    std::optional<std::string> Device;
    std::optional<std::string> Region;
    std::optional<std::string> Voltage;
    std::int32_t JtagDelay = 4;
    bool IgnoreReadErrors = false;
    bool PowerOff = true;
    bool Pad = false;
    bool Json = false;
    bool Quiet = false;
    bool Verbose = false;
    std::chrono::milliseconds Pause{0};
    // Where the region starts in the target's address space, for HEX,
    // S-record and ELF files; unset: the default rule.
    std::optional<std::uint64_t> Base;
    std::string File;
    // FILE "-": standard input or output, whose format has no name to come
    // from; raw bytes unless --format names another.
    std::optional<TImageFormat> StreamFormat;
    TJobOptions Job;
    // write/program: which blocks are sent. An image file sends only the
    // blocks holding data unless --full; raw bytes only with --sparse.
    bool Sparse = false;
    bool Full = false;
    bool Preverify = false; // verify first; an equal region is left alone
    std::string LogFile;    // --log: the full trace with time stamps, appended
};

// FILE "-" stands for standard input (write, verify, program, compare) or
// standard output (read).
inline constexpr const char* StandardStream = "-";

// What the arguments ask for: options to run, or a text to print and exit
// with (help and version: 0; a usage error: 1, the text for stderr).
struct TParsedCommandLine {
    std::optional<TCliOptions> Options;
    std::string Text;
    int ExitCode = 0;
};

TParsedCommandLine ParseCommandLine(std::span<const std::string> args);

// The command's name as typed ("blank-check").
std::string CommandName(TCliCommand command);
bool TakesFile(TCliCommand command);
bool NeedsTarget(TCliCommand command);

// Every command, in the order help lists them.
std::vector<TCliCommand> AllCommands();

std::string MainHelp();
std::string CommandHelp(TCliCommand command);

} // namespace lindprog::cli
