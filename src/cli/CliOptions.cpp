#include "cli/CliOptions.h"

#include "cli/CliCompletion.h"
#include "core/base/Suggestion.h"
#include "core/ops/ExitCode.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <string_view>
#include <utility>

namespace lindprog::cli {

namespace {

struct TCommandEntry {
    TCliCommand Command;
    const char* Name;
    const char* Synopsis;
    const char* Summary;
};

constexpr std::array<TCommandEntry, 21> Commands{{
    {TCliCommand::Ports, "ports", "[--json]", "list the serial ports, numbered as the window numbers them"},
    {TCliCommand::Info, "info", "[PORT OPTIONS] [--json]",
     "identity, firmware, mode, key, and every device and region the adapter offers"},
    {TCliCommand::Read, "read", "[PORT OPTIONS] [TARGET OPTIONS] FILE", "read the region into FILE"},
    {TCliCommand::Write, "write", "[PORT OPTIONS] [TARGET OPTIONS] FILE", "erase the region, then write FILE into it"},
    {TCliCommand::Verify, "verify", "[PORT OPTIONS] [TARGET OPTIONS] FILE", "compare the region with FILE"},
    {TCliCommand::Program, "program", "[PORT OPTIONS] [TARGET OPTIONS] FILE",
     "erase, blank check, write FILE and verify it"},
    {TCliCommand::Erase, "erase", "[PORT OPTIONS] [TARGET OPTIONS]", "erase the region"},
    {TCliCommand::BlankCheck, "blank-check", "[PORT OPTIONS] [TARGET OPTIONS]", "check that the region is erased"},
    {TCliCommand::Unlock, "unlock", "[PORT OPTIONS] [TARGET OPTIONS]", "unlock the device (erases all of it)"},
    {TCliCommand::Detect, "detect", "[PORT OPTIONS]", "scan the JTAG chain"},
    {TCliCommand::Key, "key", "[PORT OPTIONS]", "print the adapter's key"},
    {TCliCommand::UpdateFirmware, "update-firmware", "[PORT OPTIONS] FILE", "replace the adapter's firmware with FILE"},
    {TCliCommand::Compare, "compare", "[PORT OPTIONS] [TARGET OPTIONS] FILE",
     "read the region and compare it with FILE on the computer, naming every difference"},
    {TCliCommand::Completion, "completion", "bash|zsh|fish", "print the shell's completion script"},
    {TCliCommand::Run, "run", "JOB.toml [PORT OPTIONS] [TARGET OPTIONS] [JOB OPTIONS]",
     "run a production job on each board, once or in a loop"},
    {TCliCommand::JobCheck, "job check", "JOB.toml [-p PORT]",
     "check a job file and its images and print its plan; with -p against the adapter"},
    {TCliCommand::DbExport, "db export", "--db FILE|URI [--since TIME] [--csv|--json]",
     "print the unit database's records"},
    {TCliCommand::DbStats, "db stats", "--db FILE|URI [--since TIME] [--by station] [--json]",
     "units, passes, failures by step and units per hour; per station and for the line"},
    {TCliCommand::DbImport, "db import", "--from FILE --db URI",
     "add a station's SQLite records to a line's shared database (twice adds nothing)"},
    {TCliCommand::Backup, "backup", "[PORT OPTIONS] [-d DEVICE] [--ignore-read-errors] DIR",
     "read every readable region of the device into DIR, with a manifest to restore it from"},
    {TCliCommand::Restore, "restore", "DIR/manifest.toml [PORT OPTIONS] [--yes]",
     "check a backup's files, then program the writable regions that differ from it and verify the others"},
}};

constexpr const char* PortOptionsHelp = R"(PORT OPTIONS
  -p, --port PORT       COM<N> as the window numbers ports (LINDPROG_COM<N> included),
                        or a device path. Repeat to run on several adapters at once.
                        Without -p: the one serial port there is.
  -q                    print errors only
  -v                    also print the link's trace
  --json                JSON Lines on stdout, one object per event
  --log FILE            append the full trace with time stamps to FILE, whatever is shown
)";

constexpr const char* WriteOptionsHelp = R"(WRITE OPTIONS
  --full                write and verify every block of the region
  --sparse              raw FILE too: only blocks holding data (HEX, S-record and ELF
                        files always, unless --full); the rest is proven blank
  --preverify           verify first; a region that already equals FILE is left unchanged
)";

constexpr const char* TargetOptionsHelp = R"(TARGET OPTIONS
  -d, --device NAME|INDEX   device as the adapter lists it (exact name), or its index from 0
  -r, --region NAME|INDEX   region of that device, likewise
  -V, --voltage 3.3|5.0|3+5 output voltage (default: the device's first)
  --jtag-delay N            JTAG delay, 4..2000 (default 4)
  --ignore-read-errors      skip blocks that fail to read instead of failing
  --[no-]power-off          switch the target's power off afterwards (default on)
  --pause MS                pause between blocks, for adapters that need one
  --pad                     a raw FILE shorter than the region is padded with 0xFF
  --base ADDR               address of the region's first byte, for HEX, S-record and
                            ELF files (0x... hexadecimal, or decimal); read: where the
                            saved records start (default 0)
  --format raw|hex|srec|elf the format of FILE - (standard input; read: standard output,
                            raw, hex or srec; default raw)

FILE  Intel HEX, S-record and ELF files are read by their content, anything else as
      raw bytes; read writes Intel HEX for .hex/.ihex, S-record for .srec .s19 .s28
      .s37 .mot, else raw bytes. FILE - is standard input, for read standard output
      (the log then goes to stderr).
)";

constexpr const char* BackupOptionsHelp = R"(BACKUP OPTIONS
  --ignore-read-errors  backup: skip blocks that fail to read; the manifest lists
                        them and restore leaves their regions out
  --yes                 restore: erase and program without asking

backup writes DIR/<region>.bin for every readable region and DIR/manifest.toml
last (none when a read fails); it never overwrites a file. The manifest is a
job file. restore checks every file's CRC-32 and SHA-256 before it touches the
adapter and refuses a device whose name or regions differ from the backup's.
)";

constexpr const char* ExitCodesHelp = R"(EXIT CODES
  0 success   1 usage error   2 no adapter (port missing, cannot be opened, no answer)
  3 the adapter refused or the operation failed   4 verify mismatch or blank check not blank
  5 file error   6 the unit database's server cannot be reached or went away
  130 interrupted. With several ports: the highest code of any of them.
)";

constexpr const char* JobOptionsHelp = R"(JOB OPTIONS
  --station NAME        the station's name in the unit records
  --db FILE|URI         the unit database: a SQLite file, or a line's PostgreSQL
                        server as postgresql://USER@HOST/DBNAME (libpq's URI; the
                        PG* variables fill in the rest) (default: the job's
                        serial.db, else JOB.db beside the job file)
  --loop                run the job again and again, one board after the other
  --trigger scan|enter  loop: wait for a target on the JTAG chain (default), or for Enter
  --count N             loop: stop after N units on each port
  --max-failures N      loop: stop after N failures in a row
  --full                run: program and write send every block, not only those
                        holding data (erased blocks are otherwise proven blank)
  --since TIME          db: the units started at or after TIME (2026-12-08, 2026-12-08T14:00)
  --csv                 db export: CSV (the default; --json gives JSON Lines)
  --by station          db stats: each station's counts, then the line's
  --from FILE           db import: the station's SQLite file to add

A job's images are read and checked before any adapter is touched; an error
names the file, the step and the key and exits with 5 (a device the adapter
does not offer: 1). A unit that fails exits as its failed step would.
)";

const TCommandEntry* FindCommand(const std::string& name)
{
    for (const auto& entry : Commands)
        if (name == entry.Name)
            return &entry;
    return nullptr;
}

const TCommandEntry& EntryOf(TCliCommand command)
{
    for (const auto& entry : Commands)
        if (entry.Command == command)
            return entry;
    return Commands.front();
}

bool ParseInteger(const std::string& text, std::int64_t& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

TParsedCommandLine UsageError(const std::string& text)
{
    return {std::nullopt, "lindprog-cli: " + text + "\nTry 'lindprog-cli --help'.\n", ExitCode::Usage};
}

bool AcceptsPortOptions(TCliCommand command)
{
    return command != TCliCommand::Ports && command != TCliCommand::DbExport && command != TCliCommand::DbStats &&
           command != TCliCommand::DbImport && command != TCliCommand::Completion;
}

bool Writes(TCliCommand command)
{
    return command == TCliCommand::Write || command == TCliCommand::Program;
}

bool IsProduction(TCliCommand command)
{
    return command >= TCliCommand::Run;
}

// Parses the options after the command word; returns an error text or "".
class TOptionParser {
public:
    TOptionParser(std::span<const std::string> args, TCliOptions& options) : Args(args), Options(options) {}

    std::string Run()
    {
        std::vector<std::string> positional;
        for (Index = 0; Index < Args.size(); ++Index) {
            const std::string& arg = Args[Index];
            if (arg.size() > 1 && arg[0] == '-') {
                if (std::string error = Option(arg); !error.empty())
                    return error;
            } else {
                positional.push_back(arg);
            }
        }
        return Positional(positional);
    }

private:
    std::string Option(const std::string& arg)
    {
        const TCliCommand command = Options.Command;
        const bool target = NeedsTarget(command);
        if (arg == "--json")
            Options.Json = true;
        else if (arg == "-q" || arg == "--quiet")
            Options.Quiet = true;
        else if (arg == "-v" || arg == "--verbose")
            Options.Verbose = true;
        else if ((arg == "-p" || arg == "--port") && AcceptsPortOptions(command))
            return Value(arg, [this](const std::string& v) { Options.Ports.push_back(v); });
        else if ((arg == "-d" || arg == "--device") && target)
            return Value(arg, [this](const std::string& v) { Options.Device = v; });
        else if ((arg == "-r" || arg == "--region") && target)
            return Value(arg, [this](const std::string& v) { Options.Region = v; });
        else if ((arg == "-V" || arg == "--voltage") && target)
            return Value(arg, [this](const std::string& v) { Options.Voltage = v; });
        else if (arg == "--jtag-delay" && target)
            return Number(arg, 4, 2000, [this](std::int64_t v) {
                Options.JtagDelay = static_cast<std::int32_t>(v);
                Options.Job.JtagDelayGiven = true;
            });
        else if (arg == "--pause" && target)
            return Number(arg, 0, 60000, [this](std::int64_t v) { Options.Pause = std::chrono::milliseconds(v); });
        else if (arg == "--ignore-read-errors" && target)
            Options.IgnoreReadErrors = true;
        else if ((arg == "--power-off" || arg == "--no-power-off") && target)
            Options.PowerOff = Options.Job.PowerOffGiven = arg == "--power-off";
        else if (arg == "--pad" && target)
            Options.Pad = true;
        else if (arg == "--base" && target)
            return Address(arg);
        else if (arg == "--format" && target && TakesFile(command))
            return StreamFormat(arg);
        else if (arg == "--full" && command == TCliCommand::Run)
            Options.Full = true;
        else if ((arg == "--sparse" || arg == "--full" || arg == "--preverify") && Writes(command))
            (arg == "--sparse" ? Options.Sparse : arg == "--full" ? Options.Full : Options.Preverify) = true;
        else if (arg == "--log" && AcceptsPortOptions(command))
            return Value(arg, [this](const std::string& v) { Options.LogFile = v; });
        else if (IsProduction(command))
            return JobOption(arg);
        else
            return "unknown option '" + arg + "' for " + CommandName(command);
        return {};
    }

    std::string JobOption(const std::string& arg)
    {
        const TCliCommand command = Options.Command;
        const bool run = command == TCliCommand::Run;
        const bool db =
            command == TCliCommand::DbExport || command == TCliCommand::DbStats || command == TCliCommand::DbImport;
        TJobOptions& job = Options.Job;
        if (arg == "--station" && run)
            return Value(arg, [&job](const std::string& v) { job.Station = v; });
        if (arg == "--db" && (run || db))
            return Value(arg, [&job](const std::string& v) { job.Database = v; });
        if (arg == "--since" && db && command != TCliCommand::DbImport)
            return Value(arg, [&job](const std::string& v) { job.Since = v; });
        if (arg == "--from" && command == TCliCommand::DbImport)
            return Value(arg, [&job](const std::string& v) { job.ImportFrom = v; });
        if (arg == "--by" && command == TCliCommand::DbStats) {
            std::string error = Value(arg, [&job](const std::string& v) { job.ByStation = v == "station"; });
            return error.empty() && !job.ByStation ? "--by takes station, not '" + Args[Index] + "'" : error;
        }
        if (arg == "--yes" && command == TCliCommand::Restore)
            return (job.Yes = true), std::string();
        if (arg == "--csv" && command == TCliCommand::DbExport)
            return (job.Csv = true), std::string();
        if (arg == "--loop" && run)
            return (job.Loop = true), std::string();
        if (arg == "--count" && run)
            return Number(arg, 1, 1000000000, [&job](std::int64_t v) { job.Count = v; });
        if (arg == "--max-failures" && run)
            return Number(arg, 1, 1000000000, [&job](std::int64_t v) { job.MaxFailures = v; });
        if (arg == "--trigger" && run)
            return Value(arg, [&job](const std::string& v) {
                job.Trigger = v == "enter" ? TTrigger::Enter : TTrigger::Scan;
                job.TriggerText = v;
            });
        return "unknown option '" + arg + "' for " + CommandName(command);
    }

    template <typename TSet>
    std::string Value(const std::string& arg, TSet set)
    {
        if (Index + 1 >= Args.size())
            return arg + " needs a value";
        set(Args[++Index]);
        return {};
    }

    template <typename TSet>
    std::string Number(const std::string& arg, std::int64_t low, std::int64_t high, TSet set)
    {
        std::string error = Value(arg, [](const std::string&) {});
        if (!error.empty())
            return error;
        std::int64_t value = 0;
        if (!ParseInteger(Args[Index], value) || value < low || value > high)
            return arg + " takes a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not '" +
                   Args[Index] + "'";
        set(value);
        return {};
    }

    std::string Address(const std::string& arg)
    {
        std::string error = Value(arg, [](const std::string&) {});
        if (!error.empty())
            return error;
        const std::string& text = Args[Index];
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const char* first = text.data() + (hex ? 2 : 0);
        const char* last = text.data() + text.size();
        std::uint64_t value = 0;
        const auto [end, parsed] = std::from_chars(first, last, value, hex ? 16 : 10);
        if (parsed != std::errc() || end != last || first == last || value > 0xFFFFFFFFull)
            return arg + " takes an address up to 0xFFFFFFFF (0x... or decimal), not '" + text + "'";
        Options.Base = value;
        return {};
    }

    std::string StreamFormat(const std::string& arg)
    {
        std::string error = Value(arg, [](const std::string&) {});
        if (!error.empty())
            return error;
        const std::string& text = Args[Index];
        const bool read = Options.Command == TCliCommand::Read;
        const std::pair<const char*, TImageFormat> formats[] = {{"raw", TImageFormat::Raw},
                                                                {"hex", TImageFormat::IntelHex},
                                                                {"srec", TImageFormat::SRecord},
                                                                {"elf", TImageFormat::Elf}};
        for (const auto& [name, format] : formats)
            if (text == name && !(read && format == TImageFormat::Elf)) {
                Options.StreamFormat = format;
                return {};
            }
        return arg + " takes " + (read ? "raw, hex or srec" : "raw, hex, srec or elf") + ", not '" + text + "'";
    }

    std::string Positional(const std::vector<std::string>& positional)
    {
        const bool wantsFile = TakesFile(Options.Command);
        if (wantsFile && positional.size() == 1) {
            Options.File = positional.front();
            // A named file's format comes from its content, or for a read its name.
            if (Options.StreamFormat && Options.File != StandardStream)
                return "--format is for FILE - (standard input or output); " + Options.File + " names its own format";
            return UnusableFile();
        }
        if (wantsFile)
            return CommandName(Options.Command) + " takes one FILE";
        if (!positional.empty())
            return CommandName(Options.Command) + " takes no FILE ('" + positional.front() + "')";
        return {};
    }

    // A FILE no file can have: nothing, or for a read, a folder's name.
    std::string UnusableFile() const
    {
        const std::string& file = Options.File;
        if (file.empty())
            return CommandName(Options.Command) + " takes a FILE, not an empty name";
        const std::filesystem::path last = std::filesystem::path(file).filename();
        if (Options.Command == TCliCommand::Read && (last.empty() || last == "." || last == ".."))
            return "read needs a FILE to create, not the folder '" + file + "'";
        return {};
    }

    std::span<const std::string> Args;
    TCliOptions& Options;
    std::size_t Index = 0;
};

} // namespace

std::string CommandName(TCliCommand command)
{
    return EntryOf(command).Name;
}

bool TakesFile(TCliCommand command)
{
    switch (command) {
    case TCliCommand::Read:
    case TCliCommand::Write:
    case TCliCommand::Verify:
    case TCliCommand::Program:
    case TCliCommand::Compare:
    case TCliCommand::UpdateFirmware:
    case TCliCommand::Run:
    case TCliCommand::JobCheck:
    case TCliCommand::Backup:
    case TCliCommand::Restore: return true;
    default: return false;
    }
}

bool NeedsTarget(TCliCommand command)
{
    switch (command) {
    case TCliCommand::Read:
    case TCliCommand::Write:
    case TCliCommand::Verify:
    case TCliCommand::Program:
    case TCliCommand::Compare:
    case TCliCommand::Erase:
    case TCliCommand::BlankCheck:
    case TCliCommand::Unlock:
    case TCliCommand::Run:
    case TCliCommand::Backup:
    case TCliCommand::Restore: return true;
    default: return false;
    }
}

std::vector<TCliCommand> AllCommands()
{
    std::vector<TCliCommand> commands;
    for (const auto& entry : Commands)
        commands.push_back(entry.Command);
    return commands;
}

std::string MainHelp()
{
    std::string text = "usage: lindprog-cli COMMAND [OPTIONS]\n"
                       "       lindprog-cli --help | --version | COMMAND --help\n\n"
                       "The command-line programmer of the Corvane adapter.\n\nCOMMANDS\n";
    for (const auto& entry : Commands) {
        std::string name = entry.Name;
        name.resize(17, ' ');
        text += "  " + name + entry.Summary + "\n";
    }
    return text + "\n" + PortOptionsHelp + "\n" + TargetOptionsHelp + "\n" + WriteOptionsHelp + "\n" + JobOptionsHelp +
           "\n" + BackupOptionsHelp + "\n" + ExitCodesHelp;
}

std::string CommandHelp(TCliCommand command)
{
    const TCommandEntry& entry = EntryOf(command);
    std::string text =
        std::string("usage: lindprog-cli ") + entry.Name + " " + entry.Synopsis + "\n\n" + entry.Summary + ".\n";
    if (AcceptsPortOptions(command))
        text += std::string("\n") + PortOptionsHelp;
    if (NeedsTarget(command))
        text += std::string("\n") + TargetOptionsHelp;
    if (command == TCliCommand::Backup || command == TCliCommand::Restore)
        text += std::string("\n") + BackupOptionsHelp;
    else if (IsProduction(command))
        text += std::string("\n") + JobOptionsHelp;
    if (Writes(command))
        text += std::string("\n") + WriteOptionsHelp;
    return text + "\n" + ExitCodesHelp;
}

namespace {

// What a first word may be: a command, a group of commands ("job", "db"),
// or one of the options that stand alone.
std::vector<std::string_view> FirstWords()
{
    std::vector<std::string_view> words{"--help", "--version"};
    for (const auto& entry : Commands) {
        const std::string_view name = entry.Name;
        const std::string_view word = name.substr(0, name.find(' '));
        if (std::find(words.begin(), words.end(), word) == words.end())
            words.push_back(word);
    }
    return words;
}

// The commands of a group ("job check", "db export"), one line each; empty
// when `word` names no group.
std::string GroupCommands(const std::string& word)
{
    std::string lines;
    for (const auto& entry : Commands)
        if (std::string_view(entry.Name).starts_with(word + " "))
            lines += std::string("  lindprog-cli ") + entry.Name + " " + entry.Synopsis + "\n";
    return lines;
}

} // namespace

TParsedCommandLine ParseCommandLine(std::span<const std::string> args)
{
    if (args.empty())
        return UsageError("no command given");
    const std::string& first = args.front();
    if (first == "--help" || first == "-h")
        return {std::nullopt, MainHelp(), ExitCode::Ok};
    if (first == "--version")
        return {std::nullopt, std::string("lindprog-cli ") + LINDPROG_VERSION + "\n", ExitCode::Ok};
    const TCommandEntry* entry = FindCommand(first);
    std::size_t words = 1;
    // "job check", "db export": a group's word and the command's
    if (entry == nullptr && args.size() > 1 && (entry = FindCommand(first + " " + args[1])) != nullptr)
        words = 2;
    if (entry == nullptr) {
        const std::string group = GroupCommands(first);
        if (group.empty())
            return UsageError("unknown command '" + first + "'" + DidYouMean(first, FirstWords()));
        if (args.size() > 1 && (args[1] == "--help" || args[1] == "-h"))
            return {std::nullopt, "usage:\n" + group + "\nTry 'lindprog-cli " + first + " COMMAND --help'.\n",
                    ExitCode::Ok};
        return UsageError(first + " needs one of its commands:\n" + group);
    }
    const auto rest = args.subspan(words);
    for (const auto& arg : rest)
        if (arg == "--help" || arg == "-h")
            return {std::nullopt, CommandHelp(entry->Command), ExitCode::Ok};

    if (entry->Command == TCliCommand::Completion) {
        const auto script = rest.size() == 1 ? CompletionScript(rest.front()) : std::nullopt;
        if (!script)
            return UsageError("completion takes one shell: bash, zsh or fish");
        return {std::nullopt, *script, ExitCode::Ok};
    }
    TCliOptions options;
    options.Command = entry->Command;
    if (const std::string error = TOptionParser(rest, options).Run(); !error.empty())
        return UsageError(error);
    if (options.Quiet && options.Verbose)
        return UsageError("-q and -v exclude each other");
    if (options.Job.TriggerText != "scan" && options.Job.TriggerText != "enter")
        return UsageError("--trigger takes scan or enter, not '" + options.Job.TriggerText + "'");
    return {std::move(options), "", ExitCode::Ok};
}

} // namespace lindprog::cli
