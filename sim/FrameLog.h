#pragma once

// One line per frame on the line, for the transcript file and the console:
//   "   12.345 H>A 1B 01 00 01 0E 01 14"
// Directions: H>A request, A>H reply, A>H! deliberately corrupted reply bytes,
// H>A? bytes the adapter's parser threw away; "---" lines note events such as
// the host closing the port.

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace lindprog::sim {

std::string FormatLogLine(std::chrono::steady_clock::duration sinceStart, std::string_view direction,
                          std::span<const std::uint8_t> bytes);

class TFrameLog {
public:
    using TSink = std::function<void(const std::string&)>;

    TFrameLog(std::chrono::steady_clock::time_point start, TSink sink) : StartTime(start), Sink(std::move(sink)) {}

    // Opens (truncates) the transcript file; an empty path means none.
    bool OpenTranscript(const std::string& path, std::string& error);

    void Frame(std::string_view direction, std::span<const std::uint8_t> bytes);
    void Note(std::string_view text);

private:
    void Emit(const std::string& line);

    std::chrono::steady_clock::time_point StartTime;
    TSink Sink;
    std::ofstream Transcript;
};

} // namespace lindprog::sim
