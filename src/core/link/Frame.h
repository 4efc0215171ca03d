#pragma once
// The adapter's frame: 27, sequence, payload length (16-bit big-endian), 14,
// payload, XOR check byte over everything before it. No escaping: only the
// length delimits the payload.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lindprog {

constexpr std::uint8_t FrameStart = 27;
constexpr std::uint8_t FrameHeaderMark = 14;
constexpr std::size_t FrameHeaderSize = 5;
constexpr std::size_t MaxPayload = 4096;

// Builds a request frame into `frame` (cleared first): the payload is the
// request bytes followed by the extra bytes.
void BuildFrame(std::vector<std::uint8_t>& frame, std::uint8_t sequence, std::span<const std::uint8_t> request,
                std::span<const std::uint8_t> extra);

// The receive state machine. Bytes are fed one at a time; a frame that fails
// the header mark, the length limit or the check byte is dropped and the
// machine looks for the next start byte.
class TFrameReceiver {
public:
    // True when this byte completed a frame with a good check byte; the frame's
    // payload is then Buffer()[0 .. Length()).
    bool FeedByte(std::uint8_t byte);
    void Reset() { State = 0; }
    // How many more bytes the frame being received needs at least (0 when no
    // frame is under way); lets the receiver wait for a whole frame at once.
    std::size_t BytesToCompleteFrame() const;

    int Length() const { return ReceiveLength; }
    // The whole receive buffer: bytes past Length() keep what earlier, longer
    // frames left there.
    const std::array<std::uint8_t, MaxPayload>& Buffer() const { return ReceiveBuffer; }

private:
    std::uint8_t State = 0;
    std::uint8_t Check = 0;
    int ReceiveLength = 0;
    int ReceiveCount = 0;
    std::array<std::uint8_t, MaxPayload> ReceiveBuffer{};
};

} // namespace lindprog
