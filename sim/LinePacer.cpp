#include "LinePacer.h"

#include <algorithm>
#include <cstdint>

namespace lindprog::sim {

namespace {

constexpr std::uint64_t Baud = 921600;
constexpr std::uint64_t BitsPerByte = 10;

} // namespace

TLinePacer::Clock::duration TLinePacer::LineTime(std::size_t bytes)
{
    // Computed from the byte count each time, never summed per byte, so
    // rounding cannot drift over a long transfer.
    const std::uint64_t nanos = static_cast<std::uint64_t>(bytes) * BitsPerByte * 1'000'000'000ull / Baud;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanos));
}

TLinePacer::Clock::time_point TLinePacer::Incoming(Clock::time_point firstArrival, std::size_t bytes)
{
    if (!Pace)
        return firstArrival;
    const auto start = std::max(firstArrival, InBusyUntil);
    InBusyUntil = start + LineTime(bytes);
    return InBusyUntil;
}

std::vector<TLinePacer::TPacket> TLinePacer::Outgoing(Clock::time_point ready, std::size_t bytes)
{
    const auto start = std::max(ready, OutBusyUntil);
    if (!Pace) {
        // Still first in, first out: a delayed reply holds back the ones behind it.
        OutBusyUntil = start;
        return {TPacket{bytes, start}};
    }
    std::vector<TPacket> packets;
    for (std::size_t end = 0; end < bytes;) {
        end = std::min(end + PacketSize, bytes);
        packets.push_back({end, start + LineTime(end)});
    }
    OutBusyUntil = start + LineTime(bytes);
    return packets;
}

void TLinePacer::Reset()
{
    InBusyUntil = {};
    OutBusyUntil = {};
}

} // namespace lindprog::sim
