// lindprog-cli: the command-line programmer. Parses the command line, reads
// the input file once, resolves the ports, and runs one session per adapter,
// each on a thread of its own when there are several.

#include "cli/CliJob.h"
#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/CliPorts.h"
#include "cli/CliSession.h"
#include "cli/CliSignals.h"
#include "core/buffer/BufferFile.h"
#include "core/buffer/ImageFile.h"
#include "core/link/PortNames.h"
#include "core/ops/Connection.h"
#include "core/ops/ExitCode.h"
#include "core/update/FirmwareImage.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

using namespace lindprog;
using namespace lindprog::cli;

namespace {

constexpr const char* PortPlaceholder = "{port}";

static_assert(MaxRegionBytes == TConnection::MaxRegionSize, "an input file is read up to the largest region");

struct TInputFile {
    std::vector<std::uint8_t> Bytes;
    std::optional<TImage> Image; // when the bytes are a HEX, S-record or ELF file
    std::string Error;
    int ExitCode = ExitCode::FileError;
};

// FILE - : standard input to its end, as raw bytes or the format --format
// names; nothing is guessed from the content, as a pipe has no name to check it by.
TInputFile ReadStandardInput(const TCliOptions& options)
{
    TInputFile input;
    UseBinaryMode(stdin);
    char chunk[65536];
    while (input.Bytes.size() <= MaxRegionBytes) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, stdin);
        input.Bytes.insert(input.Bytes.end(), chunk, chunk + got);
        if (got < sizeof chunk)
            break;
    }
    if (std::ferror(stdin)) {
        input.Error = std::string("cannot read standard input: ") + std::strerror(errno);
        return input;
    }
    if (input.Bytes.size() > MaxRegionBytes) {
        input.Error = "standard input holds more than the largest region";
        return input;
    }
    const TImageFormat format = options.StreamFormat.value_or(TImageFormat::Raw);
    if (format == TImageFormat::Raw) {
        if (options.Base) {
            input.Error = "--base applies to HEX, S-record and ELF files; standard input is raw bytes without "
                          "--format";
            input.ExitCode = ExitCode::Usage;
        }
        return input;
    }
    if (DetectImageFormat(input.Bytes) != format) {
        input.Error = "standard input is not the format --format names";
        return input;
    }
    try {
        input.Image = ParseImage(input.Bytes);
    } catch (const TImageError& error) {
        input.Error = std::string("standard input: ") + error.what();
    }
    return input;
}

// The file is read once, before any adapter is touched, by the core's one
// rule for input files; a HEX, S-record or ELF file is parsed there too. Raw
// bytes stay bytes, sized against the region later.
TInputFile ReadInputFile(const TCliOptions& options)
{
    if (options.File == StandardStream)
        return ReadStandardInput(options);
    TInputFile input;
    if (options.Command == TCliCommand::UpdateFirmware) {
        try {
            input.Bytes = ReadWholeFile(options.File, MaxRegionBytes);
        } catch (const TFileError& error) {
            input.Error = error.what();
            return input;
        }
        if (!TFirmwareImage::IsValidSize(input.Bytes.size()))
            input.Error = "Invalid file size: " + options.File + " is no firmware update file";
        return input;
    }
    try {
        TCommandFile file = ReadCommandFile(options.File);
        input.Bytes = std::move(file.Bytes);
        input.Image = std::move(file.Image);
    } catch (const TFileError& error) {
        input.Error = error.what();
        return input;
    }
    if (!input.Image && options.Base) {
        input.Error = "--base applies to HEX, S-record and ELF files; " + options.File + " is raw bytes";
        input.ExitCode = ExitCode::Usage;
    }
    return input;
}

// The file a read from `port` goes to.
std::string OutputPathFor(const std::string& pattern, const TPortChoice& port)
{
    std::string path = pattern;
    for (std::size_t at = path.find(PortPlaceholder); at != std::string::npos; at = path.find(PortPlaceholder, at))
        path.replace(at, std::strlen(PortPlaceholder), FileNamePart(port));
    return path;
}

// Two ports whose names give the same file would each report "Saved" and
// leave one file; an error text or "". A {key} pattern is told apart by the
// adapters' keys, which are known only once they answer.
std::string SharedOutputFile(const std::string& pattern, const std::vector<TPortChoice>& ports)
{
    if (pattern.find("{key}") != std::string::npos)
        return {};
    std::map<std::string, std::string> portOfFile;
    for (const auto& port : ports) {
        const std::string file = std::filesystem::absolute(OutputPathFor(pattern, port)).lexically_normal().string();
        if (const auto [known, added] = portOfFile.emplace(file, port.Name); !added)
            return "ports " + known->second + " and " + port.Name + " would both read into " + file +
                   "; {port} must tell them apart";
    }
    return {};
}

// Checks what can be checked before any adapter is touched; an error text or "".
std::string CheckOutputFolder(const std::string& path)
{
    std::error_code error;
    const auto folder = std::filesystem::absolute(path, error).parent_path();
    if (error || !std::filesystem::is_directory(folder, error))
        return "cannot create file " + path + ": folder " + folder.string() + " does not exist";
    return {};
}

TVerbosity VerbosityOf(const TCliOptions& options)
{
    if (options.Quiet)
        return TVerbosity::Quiet;
    return options.Verbose ? TVerbosity::Verbose : TVerbosity::Normal;
}

int Run(const TCliOptions& options)
{
    WatchStopSignals();
    // A read to standard output keeps stdout for the region's bytes alone.
    const bool dataOnStdout = options.Command == TCliCommand::Read && options.File == StandardStream;
    std::FILE* const out = dataOnStdout ? stderr : stdout;
    TCliOutput output(options.Json, VerbosityOf(options), options.Ports.size() > 1,
                      {out, stderr, IsTerminal(stderr), IsTerminal(out), [] { return TerminalColumns(stderr); }});
    if (!options.LogFile.empty())
        if (const std::string error = output.OpenLogFile(options.LogFile); !error.empty())
            return output.EarlyFailure(CommandName(options.Command), ExitCode::FileError, error);
    TPortNames names(TPortNames::DefaultAssignmentsFile());
    if (options.Command == TCliCommand::Ports) {
        output.Report("", PortsText(names), PortsJson(names));
        return ExitCode::Ok;
    }
    if (IsProductionCommand(options.Command))
        return RunProductionCommand(options, output);

    TInputFile input;
    if (TakesFile(options.Command) && options.Command != TCliCommand::Read) {
        input = ReadInputFile(options);
        if (!input.Error.empty())
            return output.EarlyFailure(CommandName(options.Command), input.ExitCode, input.Error);
    }

    const TPortSelection selection = SelectPorts(options.Ports, names);
    if (!selection.Error.empty())
        return output.EarlyFailure(CommandName(options.Command), selection.ExitCode, selection.Error);
    const auto& ports = selection.Ports;
    if (options.Command == TCliCommand::Read) {
        if (ports.size() > 1 && options.File.find(PortPlaceholder) == std::string::npos &&
            options.File.find("{key}") == std::string::npos)
            return output.EarlyFailure(CommandName(options.Command), ExitCode::Usage,
                                       "reading from several ports needs {port} or {key} in FILE (image.{port}.bin)");
        if (const std::string error = CheckOutputFolder(options.File); !error.empty())
            return output.EarlyFailure(CommandName(options.Command), ExitCode::FileError, error);
        if (const std::string error = SharedOutputFile(options.File, ports); !error.empty())
            return output.EarlyFailure(CommandName(options.Command), ExitCode::Usage, error);
    }

    DeferStopsToOperations();
    std::vector<TResult> results(ports.size());
    const auto runOne = [&](std::size_t k) {
        TSessionInput sessionInput{input.Bytes, input.Image ? &*input.Image : nullptr, options.File,
                                   OutputPathFor(options.File, ports[k])};
        TCliSession session(ports[k], options, sessionInput, output);
        results[k] = session.Run();
        // info and key print their one object; a failure still gets its result.
        const bool reported = options.Command == TCliCommand::Info || options.Command == TCliCommand::Key;
        if (!reported || !results[k].Ok)
            output.Result(ports[k].Name, results[k]);
    };
    return RunOnEachPort(ports, runOne, results, output);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const TParsedCommandLine parsed = ParseCommandLine(args);
    if (!parsed.Options) {
        std::fputs(parsed.Text.c_str(), parsed.ExitCode == ExitCode::Ok ? stdout : stderr);
        return parsed.ExitCode;
    }
    return Run(*parsed.Options);
}
