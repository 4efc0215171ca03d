#include "LinePacer.h"

#include <algorithm>
#include <cstdint>

namespace lindprog::sim {

namespace {

constexpr std::uint64_t kBaud = 921600;
constexpr std::uint64_t kBitsPerByte = 10;

} // namespace

TLinePacer::Clock::duration TLinePacer::LineTime(std::size_t bytes)
{
    // Computed from the byte count each time, never summed per byte, so
    // rounding cannot drift over a long transfer.
    const std::uint64_t nanos
        = static_cast<std::uint64_t>(bytes) * kBitsPerByte * 1'000'000'000ull / kBaud;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanos));
}

TLinePacer::Clock::time_point TLinePacer::Incoming(
    Clock::time_point first_arrival, std::size_t bytes)
{
    if (!pace_)
        return first_arrival;
    const auto start = std::max(first_arrival, in_busy_until_);
    in_busy_until_ = start + LineTime(bytes);
    return in_busy_until_;
}

std::vector<TLinePacer::TPacket> TLinePacer::Outgoing(Clock::time_point ready, std::size_t bytes)
{
    const auto start = std::max(ready, out_busy_until_);
    if (!pace_) {
        // Still first in, first out: a delayed reply holds back the ones behind it.
        out_busy_until_ = start;
        return {TPacket{bytes, start}};
    }
    std::vector<TPacket> packets;
    for (std::size_t end = 0; end < bytes;) {
        end = std::min(end + kPacketSize, bytes);
        packets.push_back({end, start + LineTime(end)});
    }
    out_busy_until_ = start + LineTime(bytes);
    return packets;
}

void TLinePacer::Reset()
{
    in_busy_until_ = {};
    out_busy_until_ = {};
}

} // namespace lindprog::sim
