#pragma once
// The adapter's frame: 27, sequence, payload length (16-bit big-endian), 14,
// payload, XOR check byte over everything before it. No escaping: only the
// length delimits the payload.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace lindprog {

constexpr std::uint8_t FrameStart = 27;
constexpr std::uint8_t FrameHeaderMark = 14;
constexpr std::size_t FrameHeaderSize = 5;
constexpr std::size_t MaxPayload = 4096;
constexpr std::size_t MaxFrameSize = FrameHeaderSize + MaxPayload + 1;

// Builds a request frame into `frame` (cleared first): the payload is the
// request bytes followed by the extra bytes.
void BuildFrame(std::vector<std::uint8_t>& frame, std::uint8_t sequence, std::span<const std::uint8_t> request,
                std::span<const std::uint8_t> extra);

// The receive state machine. Since nothing but the length delimits a frame,
// one burst of line noise that looks like a header can claim the replies
// behind it as its payload. So a frame that fails the header mark, the length
// limit or the check byte is dropped and the bytes after its start byte are
// searched again for the next start: a real reply among them is still found.
// A frame that stops half way is dropped the same way once the line has been
// quiet for clearly longer than its missing bytes need, since the adapter
// sends a reply in one go and the host waits for it before it asks again.
class TFrameReceiver {
public:
    // Runs for every frame that completes with a good check byte, while
    // Buffer(), Length() and Frame() hold it.
    using TOnFrame = std::function<void()>;

    // onFrame must not feed this machine.
    explicit TFrameReceiver(TOnFrame onFrame);

    // Bytes in the order the line delivered them, in pieces of any size.
    void Feed(std::span<const std::uint8_t> bytes);
    // The line has carried nothing for `idle` since the last byte fed.
    void LineIdle(std::chrono::nanoseconds idle);
    void Reset() { State = 0; }
    // How many more bytes the frame being received needs at least (0 when no
    // frame is under way); lets the receiver wait for a whole frame at once.
    std::size_t BytesToCompleteFrame() const;
    // How long the line may stay quiet inside a frame that still needs
    // `missing` bytes: twice their time on the line, and never less than
    // 50 ms, as serial bridges and busy hosts hand bytes on in bursts.
    static std::chrono::nanoseconds IdleLimit(std::size_t missing);

    int Length() const { return ReceiveLength; }
    // The whole receive buffer: bytes past Length() keep what earlier, longer
    // frames left there.
    const std::array<std::uint8_t, MaxPayload>& Buffer() const { return ReceiveBuffer; }
    // The frame as the line delivered it, start byte to check byte.
    std::span<const std::uint8_t> Frame() const { return std::span(FrameBytes).first(FrameCount); }
    // The sequence byte of the frame just completed.
    std::uint8_t Sequence() const { return FrameBytes[1]; }

private:
    enum class TStep { More, Complete, Failed };
    TStep Step(std::uint8_t byte);
    // After a frame failed: feeds the bytes after its start byte once more.
    void Resynchronise();

    TOnFrame OnFrame;
    std::uint8_t State = 0;
    std::uint8_t Check = 0;
    int ReceiveLength = 0;
    int ReceiveCount = 0;
    std::array<std::uint8_t, MaxPayload> ReceiveBuffer{};
    // The frame under way from its start byte on, kept for the search after
    // it fails.
    std::array<std::uint8_t, MaxFrameSize> FrameBytes{};
    std::size_t FrameCount = 0;
    std::vector<std::uint8_t> Rescan;
};

} // namespace lindprog
