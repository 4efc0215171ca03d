#pragma once
// Everything lindprog-cli prints goes through here, from any adapter's thread:
// log lines with their time stamp on stdout (or JSON Lines with --json), a
// progress line redrawn in place on stderr when stderr is a terminal, errors
// on stderr, and the summary of a run on several ports.

#include "core/buffer/Difference.h"

#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace lindprog::cli {

enum class TVerbosity { Quiet, Normal, Verbose };

struct TProgress {
    std::string Stage; // "Writing", ...
    int Percent = 0;
    std::uint32_t Bytes = 0;
    std::uint32_t Total = 0;
    double KBps = 0.0;
    double SecondsLeft = 0.0;
};

struct TResult {
    std::string Command;
    bool Ok = false;
    int ExitCode = 0;
    int Status = 0; // the adapter's or the endpoint's status byte; 0 when none applies
    std::string Message;
    bool HasCrc = false;
    std::uint32_t Crc = 0;
    // What the command moved: written by write, program and a job's units
    // (a loop's in all), else read, compared or checked.
    std::uint64_t Bytes = 0;
    double Seconds = 0.0; // from the port's connect to its close
    // write/program of only the blocks holding data: how many were written,
    // and how many were left out and proven blank.
    bool Sparse = false;
    std::uint32_t BlocksWritten = 0;
    std::uint32_t BlocksBlank = 0;
    bool Unchanged = false; // --preverify found the region equal to the image
    // The message says what no log line said (the blocks every stage of a
    // Program or Write sent or proved blank): the default output ends with
    // it on success too.
    bool Summarizes = false;
    // The message was printed already as the command's own output (a unit's
    // verdict on stdout): a failure is not told a second time on stderr.
    bool Reported = false;
};

class TCliOutput {
public:
    struct TStreams {
        std::FILE* Out = stdout;
        std::FILE* Err = stderr;
        bool ErrIsTerminal = false;
        bool OutIsTerminal = false;      // log lines carry the date when they go elsewhere
        std::function<int()> ErrColumns; // the terminal's width now; none or 0: 80
    };

    TCliOutput(bool json, TVerbosity verbosity, bool severalPorts, TStreams streams);

    // A log line; a detail line reaches the screen only with -v (the log
    // file and JSON get every line), with the time it was logged at.
    void Log(const std::string& port, const std::string& text);
    void Log(const std::string& port, const std::string& text, bool detail, std::chrono::system_clock::time_point when);
    void Trace(const std::string& port, const std::string& text);
    void Error(const std::string& port, const std::string& text);
    void Progress(const std::string& port, const TProgress& progress);
    // The port's stage has ended: its progress goes from the terminal.
    void EndProgress(const std::string& port);
    void Result(const std::string& port, const TResult& result);
    // A report that is the command's output itself (info, ports, key): human
    // text, or the JSON object for --json (begun with JsonEvent).
    void Report(const std::string& port, const std::string& humanText, const nlohmann::ordered_json& jsonObject);
    void Summary(const std::vector<std::pair<std::string, TResult>>& rows);
    // A failure before any adapter is touched: an error line, or in JSON
    // mode the result object every run ends with. Returns exitCode.
    int EarlyFailure(const std::string& command, int exitCode, const std::string& message);
    // An object only JSON shows: the text it stands for was logged already.
    void Event(const nlohmann::ordered_json& jsonObject);
    // --log: every log, trace and error line, with the date, is appended to
    // the file whatever the screen shows. An error text, or "".
    std::string OpenLogFile(const std::string& path);

    bool Json() const { return JsonMode; }

private:
    void WriteLine(std::FILE* stream, const std::string& line);
    void WriteJson(const nlohmann::ordered_json& object);
    void ClearProgress();
    void DrawProgress();
    int Columns() const;
    std::string Prefix(const std::string& port) const;
    void WriteLogFile(const std::string& port, std::chrono::system_clock::time_point when, const std::string& text);

    std::mutex Mutex;
    const bool JsonMode;
    const TVerbosity Verbosity;
    const bool SeveralPorts;
    const TStreams Streams;
    std::map<std::string, std::string> ProgressText; // per port, while a stage runs
    std::size_t ProgressLines = 0;                   // lines of the progress block on the terminal
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> LogFile{nullptr, &std::fclose};
    std::chrono::steady_clock::time_point LastDrawn{};
};

// The version of the JSON Lines' schema, carried by every line as "v". It
// changes only when a field is renamed, removed or changes its type; new
// fields may come without it.
inline constexpr int JsonSchemaVersion = 1;

// Every JSON line starts so: {"event": event, "v": JsonSchemaVersion}. Its
// fields follow in the order they are added.
nlohmann::ordered_json JsonEvent(const char* event);

// "HH:MM:SS" as the window's log shows it, and the ISO form for JSON.
std::string ClockTime(std::chrono::system_clock::time_point when);
std::string IsoTime(std::chrono::system_clock::time_point when);
// A log line's stamp: the time on a terminal, which is read as it happens;
// in a file or a pipe, kept for later, the ISO date and time to the second.
std::string LogLineTime(std::chrono::system_clock::time_point when, bool terminal);

// The terminal text that replaces a progress block of `shownLines` lines
// (the cursor at the end of its last one) by `lines`, one per port, each cut
// to `columns` - 1 characters so that none wraps and the block keeps its
// height; no lines clear the block.
std::string RedrawProgress(std::size_t shownLines, const std::vector<std::string>& lines, int columns);

// The `diff` event of a compare: the count, the merged ranges (the first
// 20), the first differing bytes with both values, and the erased hint.
nlohmann::ordered_json DifferenceJson(const std::string& port, const TDifferences& differences,
                                      std::span<const std::uint8_t> expected, std::span<const std::uint8_t> read);

} // namespace lindprog::cli
