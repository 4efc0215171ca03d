#pragma once

// Timing of the 921600 baud line (8N1: ten bit times per byte) between host
// and adapter. Without pacing everything is due at once; with it, requests are
// taken up only once they could have fully arrived and reply bytes leave in
// 64-byte packets no earlier than the line could have carried them, the way a
// USB serial bridge hands them to the host.

#include <chrono>
#include <cstddef>
#include <vector>

namespace lindprog::sim {

class TLinePacer {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t PacketSize = 64;
    static Clock::duration LineTime(std::size_t bytes);

    struct TPacket {
        std::size_t End = 0; // offset one past the packet's last byte
        Clock::time_point Due{};
    };

    explicit TLinePacer(bool pace) : Pace(pace) {}

    bool Pacing() const { return Pace; }

    // When the adapter can act on bytes whose first one arrived at firstArrival.
    // Incoming bytes queue behind each other on the line.
    Clock::time_point Incoming(Clock::time_point firstArrival, std::size_t bytes);

    // Packets for a reply of `bytes` bytes that is ready at `ready`; replies
    // queue behind the ones still on the line.
    std::vector<TPacket> Outgoing(Clock::time_point ready, std::size_t bytes);

    // The line is idle again (the host closed the port).
    void Reset();

private:
    bool Pace;
    Clock::time_point InBusyUntil{};
    Clock::time_point OutBusyUntil{};
};

} // namespace lindprog::sim
