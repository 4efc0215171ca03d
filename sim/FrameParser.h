#pragma once

// Incremental parser for request frames arriving on the serial line. Bytes
// come in arbitrary chunks; complete frames and runs of bytes that had to be
// thrown away while hunting for a frame start are handed out in line order.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace lindprog::sim {

using Clock = std::chrono::steady_clock;

struct TParsedItem {
    enum class TKind { Frame, Discarded };
    TKind Kind = TKind::Frame;
    // Every byte of the frame (header to check byte), or the discarded bytes.
    std::vector<std::uint8_t> Raw;
    std::uint8_t Sequence = 0;
    std::vector<std::uint8_t> Payload;
    // When the chunk holding the first byte was read.
    Clock::time_point FirstArrival{};
};

class TFrameParser {
public:
    void Feed(std::span<const std::uint8_t> bytes, Clock::time_point arrival);

    // Next frame or discarded run, or nullopt when more bytes are needed.
    std::optional<TParsedItem> Next();

    // Forgets everything buffered (the host closed the port); returns the bytes
    // of the incomplete frame that was dropped.
    std::vector<std::uint8_t> Reset();

    std::size_t Buffered() const { return Buffer.size() - Head; }

private:
    enum class TStep { NeedMore, Skip, Frame };
    struct TExamined {
        TStep Step = TStep::NeedMore;
        std::size_t Length = 0;
    };
    struct TArrivalMark {
        std::uint64_t End = 0; // absolute index one past the chunk's last byte
        Clock::time_point Time{};
    };

    TExamined Examine() const;
    std::span<const std::uint8_t> Pending() const;
    void Consume(std::size_t count);
    Clock::time_point ArrivalOf(std::uint64_t absoluteIndex) const;
    TParsedItem TakeDiscarded();
    TParsedItem TakeFrame(std::size_t length);

    std::vector<std::uint8_t> Buffer;
    std::size_t Head = 0;
    std::uint64_t Consumed = 0; // absolute index of Buffer[Head]
    std::deque<TArrivalMark> Marks;
    std::vector<std::uint8_t> Discarded;
    Clock::time_point DiscardedArrival{};
};

} // namespace lindprog::sim
