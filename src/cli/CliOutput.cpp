#include "cli/CliOutput.h"

#include "core/base/AdapterText.h"
#include "core/base/Passwords.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace lindprog::cli {

namespace {

constexpr auto RedrawInterval = std::chrono::milliseconds(100);

std::tm LocalTime(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return local;
}

std::string FormatTime(const char* format, std::chrono::system_clock::time_point when)
{
    const std::tm local = LocalTime(when);
    char text[40];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

std::string ProgressLine(const TProgress& progress)
{
    char text[160];
    if (progress.Total == 0) {
        std::snprintf(text, sizeof text, "%s...", progress.Stage.c_str());
        return text;
    }
    std::snprintf(text, sizeof text, "%s %3d%% %u/%u bytes %.1f kB/s %.0f s left", progress.Stage.c_str(),
                  progress.Percent, progress.Bytes, progress.Total, progress.KBps, progress.SecondsLeft);
    return text;
}

// Seconds and rates to the millisecond: more digits would only be noise.
double Rounded(double value)
{
    return std::round(value * 1000.0) / 1000.0;
}

// The first `columns` characters of a line; a UTF-8 sequence counts once and
// is never split.
std::string CutToColumns(const std::string& text, std::size_t columns)
{
    std::size_t shown = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool continuation = (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
        if (!continuation && shown++ == columns)
            return text.substr(0, at);
    }
    return text;
}

} // namespace

std::string RedrawProgress(std::size_t shownLines, const std::vector<std::string>& lines, int columns)
{
    // Up to the block's first line, clearing each line on the way.
    std::string text = shownLines > 0 ? "\r\033[K" : "";
    for (std::size_t k = 1; k < shownLines; ++k)
        text += "\033[1A\033[K";
    // The last column left free: a terminal that wraps there would push the
    // block down a line.
    const std::size_t width = static_cast<std::size_t>(columns > 1 ? columns - 1 : 79);
    for (std::size_t k = 0; k < lines.size(); ++k)
        text += (k == 0 ? "" : "\n") + CutToColumns(lines[k], width);
    return text;
}

nlohmann::ordered_json JsonEvent(const char* event)
{
    return {{"event", event}, {"v", JsonSchemaVersion}};
}

std::string ClockTime(std::chrono::system_clock::time_point when)
{
    return FormatTime("%H:%M:%S", when);
}

std::string IsoTime(std::chrono::system_clock::time_point when)
{
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis));
    return FormatTime("%Y-%m-%dT%H:%M:%S", when) + fraction;
}

std::string LogLineTime(std::chrono::system_clock::time_point when, bool terminal)
{
    return terminal ? ClockTime(when) : FormatTime("%Y-%m-%dT%H:%M:%S", when);
}

nlohmann::ordered_json DifferenceJson(const std::string& port, const TDifferences& differences,
                                      std::span<const std::uint8_t> expected, std::span<const std::uint8_t> read)
{
    constexpr std::size_t MaxRanges = 20;
    constexpr std::size_t MaxBytes = 8;
    auto ranges = nlohmann::ordered_json::array();
    auto bytes = nlohmann::ordered_json::array();
    for (const TDifferenceRange& range : differences.Ranges) {
        if (ranges.size() < MaxRanges)
            ranges.push_back({{"start", range.Start}, {"end", range.End}});
        for (std::uint32_t at = range.Start; at < range.End && bytes.size() < MaxBytes; ++at)
            bytes.push_back({{"offset", at},
                             {"expected", at < expected.size() ? nlohmann::ordered_json(expected[at]) : nullptr},
                             {"read", at < read.size() ? nlohmann::ordered_json(read[at]) : nullptr}});
    }
    auto object = JsonEvent("diff");
    object["port"] = port;
    object["count"] = differences.Count;
    object["range_count"] = differences.Ranges.size();
    object["ranges"] = std::move(ranges);
    object["bytes"] = std::move(bytes);
    object["hint"] = differences.OnlySetsBits ? "looks not erased/not written" : "";
    return object;
}

TCliOutput::TCliOutput(bool json, TVerbosity verbosity, bool severalPorts, TStreams streams)
    : JsonMode(json), Verbosity(verbosity), SeveralPorts(severalPorts), Streams(streams)
{
}

std::string TCliOutput::Prefix(const std::string& port) const
{
    return SeveralPorts && !port.empty() ? port + ": " : "";
}

void TCliOutput::WriteLine(std::FILE* stream, const std::string& line)
{
    ClearProgress();
    // A database's URI, a port path or a file name may carry a password.
    std::fputs(WithoutPasswords(line).c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void TCliOutput::WriteJson(const nlohmann::ordered_json& object)
{
    // File names and port paths are bytes as the system keeps them, not always
    // UTF-8; a byte that is no UTF-8 becomes U+FFFD, so every line stays JSON.
    WriteLine(Streams.Out, object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

std::string TCliOutput::OpenLogFile(const std::string& path)
{
    std::lock_guard lock(Mutex);
    LogFile.reset(std::fopen(path.c_str(), "a"));
    return LogFile ? "" : "cannot open log file " + path + ": " + std::strerror(errno);
}

void TCliOutput::WriteLogFile(const std::string& port, std::chrono::system_clock::time_point when,
                              const std::string& text)
{
    if (!LogFile)
        return;
    // The file outlives many runs, so its lines carry the date, and always the port.
    const std::string line = IsoTime(when) + " " + (port.empty() ? "" : port + ": ") + text + "\n";
    std::fputs(WithoutPasswords(line).c_str(), LogFile.get());
    std::fflush(LogFile.get());
}

void TCliOutput::Event(const nlohmann::ordered_json& jsonObject)
{
    std::lock_guard lock(Mutex);
    if (JsonMode)
        WriteJson(jsonObject);
}

void TCliOutput::Log(const std::string& port, const std::string& text)
{
    Log(port, text, false, std::chrono::system_clock::now());
}

void TCliOutput::Log(const std::string& port, const std::string& text, bool detail,
                     std::chrono::system_clock::time_point when)
{
    std::lock_guard lock(Mutex);
    WriteLogFile(port, when, text);
    if (JsonMode) {
        auto object = JsonEvent("log");
        object["port"] = port;
        object["time"] = IsoTime(when);
        object["text"] = text;
        WriteJson(object);
    } else if (Verbosity == TVerbosity::Verbose || (Verbosity == TVerbosity::Normal && !detail)) {
        WriteLine(Streams.Out,
                  Prefix(port) + LogLineTime(when, Streams.OutIsTerminal) + " " + ShowControlCharacters(text));
    }
    DrawProgress();
}

void TCliOutput::Trace(const std::string& port, const std::string& text)
{
    const auto now = std::chrono::system_clock::now();
    std::lock_guard lock(Mutex);
    WriteLogFile(port, now, text);
    if (Verbosity != TVerbosity::Verbose)
        return;
    if (JsonMode) {
        auto object = JsonEvent("trace");
        object["port"] = port;
        object["time"] = IsoTime(now);
        object["text"] = text;
        WriteJson(object);
    } else {
        WriteLine(Streams.Out, Prefix(port) + LogLineTime(now, Streams.OutIsTerminal) + " " + text);
    }
}

void TCliOutput::Error(const std::string& port, const std::string& text)
{
    std::lock_guard lock(Mutex);
    WriteLogFile(port, std::chrono::system_clock::now(), "error: " + text);
    if (JsonMode) {
        auto object = JsonEvent("error");
        object["port"] = port;
        object["text"] = text;
        WriteJson(object);
    } else {
        WriteLine(Streams.Err, "lindprog-cli: " + (port.empty() ? "" : port + ": ") + text);
    }
    DrawProgress();
}

void TCliOutput::Progress(const std::string& port, const TProgress& progress)
{
    std::lock_guard lock(Mutex);
    if (JsonMode) {
        auto object = JsonEvent("progress");
        object["port"] = port;
        object["stage"] = progress.Stage;
        object["percent"] = progress.Percent;
        object["bytes"] = progress.Bytes;
        object["total"] = progress.Total;
        object["kBps"] = Rounded(progress.KBps);
        WriteJson(object);
        return;
    }
    ProgressText[port] = Prefix(port) + ProgressLine(progress);
    const auto now = std::chrono::steady_clock::now();
    if (now - LastDrawn < RedrawInterval && progress.Percent < 100)
        return;
    LastDrawn = now;
    DrawProgress();
}

void TCliOutput::EndProgress(const std::string& port)
{
    std::lock_guard lock(Mutex);
    if (ProgressText.erase(port) == 0)
        return;
    ClearProgress();
    DrawProgress();
}

void TCliOutput::Result(const std::string& port, const TResult& result)
{
    std::lock_guard lock(Mutex);
    ProgressText.erase(port);
    WriteLogFile(port, std::chrono::system_clock::now(),
                 result.Command + ": " + (result.Ok ? "ok" : "failed") + ", exit " + std::to_string(result.ExitCode) +
                     ": " + result.Message);
    if (JsonMode) {
        auto object = JsonEvent("result");
        object["port"] = port;
        object["command"] = result.Command;
        object["ok"] = result.Ok;
        object["exit"] = result.ExitCode;
        object["status"] = result.Status;
        object["message"] = result.Message;
        if (result.HasCrc) {
            char crc[12];
            std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(result.Crc));
            object["crc32"] = crc;
        }
        object["bytes"] = result.Bytes;
        if (result.Sparse) {
            object["blocks_written"] = result.BlocksWritten;
            object["blocks_blank"] = result.BlocksBlank;
        }
        if (result.Unchanged)
            object["unchanged"] = true;
        object["seconds"] = Rounded(result.Seconds);
        WriteJson(object);
        return;
    }
    if (!result.Ok && !result.Reported)
        WriteLine(Streams.Err, "lindprog-cli: " + (port.empty() ? "" : port + ": ") + result.Message);
    else if (result.Ok && result.Summarizes && Verbosity != TVerbosity::Quiet)
        WriteLine(Streams.Out, Prefix(port) + LogLineTime(std::chrono::system_clock::now(), Streams.OutIsTerminal) +
                                   " " + result.Message);
    DrawProgress();
}

void TCliOutput::Report(const std::string& port, const std::string& humanText, const nlohmann::ordered_json& jsonObject)
{
    std::lock_guard lock(Mutex);
    // What the command was run for is printed under -q as well.
    if (JsonMode) {
        WriteJson(jsonObject);
        return;
    }
    // Every line of a report from one of several adapters says which.
    std::string text;
    std::size_t start = 0;
    while (start <= humanText.size()) {
        const std::size_t end = std::min(humanText.find('\n', start), humanText.size());
        text += (start == 0 ? "" : "\n") + Prefix(port) + humanText.substr(start, end - start);
        start = end + 1;
    }
    WriteLine(Streams.Out, text);
}

void TCliOutput::Summary(const std::vector<std::pair<std::string, TResult>>& rows)
{
    std::lock_guard lock(Mutex);
    if (JsonMode || Verbosity == TVerbosity::Quiet)
        return;
    std::size_t width = 4;
    for (const auto& [port, result] : rows)
        width = std::max(width, port.size());
    // A failed port's row says why, so the table alone tells what to redo.
    std::string table;
    char line[256];
    std::snprintf(line, sizeof line, "%-*s  %-7s  %4s  %10s  %8s  %s\n", static_cast<int>(width), "port", "result",
                  "exit", "bytes", "seconds", "reason");
    table += line;
    for (const auto& [port, result] : rows) {
        std::snprintf(line, sizeof line, "%-*s  %-7s  %4d  %10llu  %8.2f", static_cast<int>(width), port.c_str(),
                      result.Ok ? "ok" : "FAILED", result.ExitCode, static_cast<unsigned long long>(result.Bytes),
                      result.Seconds);
        table += line + (result.Ok ? std::string() : "  " + result.Message) + "\n";
    }
    table.pop_back();
    WriteLine(Streams.Out, table);
}

int TCliOutput::Columns() const
{
    const int columns = Streams.ErrColumns ? Streams.ErrColumns() : 0;
    return columns > 0 ? columns : 80;
}

void TCliOutput::ClearProgress()
{
    if (ProgressLines == 0)
        return;
    std::fputs(RedrawProgress(ProgressLines, {}, Columns()).c_str(), Streams.Err);
    std::fflush(Streams.Err);
    ProgressLines = 0;
}

void TCliOutput::DrawProgress()
{
    if (!Streams.ErrIsTerminal || JsonMode || Verbosity == TVerbosity::Quiet)
        return;
    // One line per port, redrawn where it stands: a single line holding every
    // port wrapped and left stale copies in the scrollback.
    std::vector<std::string> lines;
    for (const auto& [port, text] : ProgressText)
        lines.push_back(text);
    if (lines.empty() && ProgressLines == 0)
        return;
    std::fputs(RedrawProgress(ProgressLines, lines, Columns()).c_str(), Streams.Err);
    std::fflush(Streams.Err);
    ProgressLines = lines.size();
}

int TCliOutput::EarlyFailure(const std::string& command, int exitCode, const std::string& message)
{
    if (!Json()) {
        Error("", message);
        return exitCode;
    }
    TResult result;
    result.Command = command;
    result.ExitCode = exitCode;
    result.Message = message;
    Result("", result);
    return exitCode;
}

} // namespace lindprog::cli
