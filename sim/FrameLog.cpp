#include "FrameLog.h"

#include "Wire.h"

#include <cstdio>

namespace lindprog::sim {

std::string FormatLogLine(std::chrono::steady_clock::duration sinceStart, std::string_view direction,
                          std::span<const std::uint8_t> bytes)
{
    const double ms = std::chrono::duration<double, std::milli>(sinceStart).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f", ms);
    std::string line = std::string(stamp) + " " + std::string(direction);
    if (!bytes.empty())
        line += " " + HexBytes(bytes);
    return line;
}

bool TFrameLog::OpenTranscript(const std::string& path, std::string& error)
{
    if (path.empty())
        return true;
    Transcript.open(path, std::ios::out | std::ios::trunc);
    if (!Transcript) {
        error = "cannot write transcript " + path;
        return false;
    }
    return true;
}

void TFrameLog::Emit(const std::string& line)
{
    if (Transcript.is_open()) {
        // Flushed per line: a test or a person tailing the file sees each frame
        // as it happens, and nothing is lost if the process is killed.
        Transcript << line << '\n' << std::flush;
    }
    if (Sink)
        Sink(line);
}

void TFrameLog::Frame(std::string_view direction, std::span<const std::uint8_t> bytes)
{
    Emit(FormatLogLine(std::chrono::steady_clock::now() - StartTime, direction, bytes));
}

void TFrameLog::Note(std::string_view text)
{
    const auto line = FormatLogLine(std::chrono::steady_clock::now() - StartTime, "---", {});
    Emit(line + " " + std::string(text));
}

} // namespace lindprog::sim
