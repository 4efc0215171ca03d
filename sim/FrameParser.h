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
    enum class EKind { Frame, Discarded };
    EKind kind = EKind::Frame;
    // Every byte of the frame (header to check byte), or the discarded bytes.
    std::vector<std::uint8_t> raw;
    std::uint8_t sequence = 0;
    std::vector<std::uint8_t> payload;
    // When the chunk holding the first byte was read.
    Clock::time_point first_arrival{};
};

class TFrameParser {
public:
    void Feed(std::span<const std::uint8_t> bytes, Clock::time_point arrival);

    // Next frame or discarded run, or nullopt when more bytes are needed.
    std::optional<TParsedItem> Next();

    // Forgets everything buffered (the host closed the port); returns the bytes
    // of the incomplete frame that was dropped.
    std::vector<std::uint8_t> Reset();

    std::size_t Buffered() const { return buffer_.size() - head_; }

private:
    enum class EStep { NeedMore, Skip, Frame };
    struct TExamined {
        EStep step = EStep::NeedMore;
        std::size_t length = 0;
    };
    struct TArrivalMark {
        std::uint64_t end = 0; // absolute index one past the chunk's last byte
        Clock::time_point time{};
    };

    TExamined Examine() const;
    std::span<const std::uint8_t> Pending() const;
    void Consume(std::size_t count);
    Clock::time_point ArrivalOf(std::uint64_t absolute_index) const;
    TParsedItem TakeDiscarded();
    TParsedItem TakeFrame(std::size_t length);

    std::vector<std::uint8_t> buffer_;
    std::size_t head_ = 0;
    std::uint64_t consumed_ = 0; // absolute index of buffer_[head_]
    std::deque<TArrivalMark> marks_;
    std::vector<std::uint8_t> discarded_;
    Clock::time_point discarded_arrival_{};
};

} // namespace lindprog::sim
