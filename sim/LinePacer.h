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

    static constexpr std::size_t kPacketSize = 64;
    static Clock::duration LineTime(std::size_t bytes);

    struct TPacket {
        std::size_t end = 0; // offset one past the packet's last byte
        Clock::time_point due{};
    };

    explicit TLinePacer(bool pace)
        : pace_(pace)
    {
    }

    bool Pacing() const { return pace_; }

    // When the adapter can act on bytes whose first one arrived at first_arrival.
    // Incoming bytes queue behind each other on the line.
    Clock::time_point Incoming(Clock::time_point first_arrival, std::size_t bytes);

    // Packets for a reply of `bytes` bytes that is ready at `ready`; replies
    // queue behind the ones still on the line.
    std::vector<TPacket> Outgoing(Clock::time_point ready, std::size_t bytes);

    // The line is idle again (the host closed the port).
    void Reset();

private:
    bool pace_;
    Clock::time_point in_busy_until_{};
    Clock::time_point out_busy_until_{};
};

} // namespace lindprog::sim
