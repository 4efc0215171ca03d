#include "core/link/Frame.h"

namespace lindprog {

void BuildFrame(std::vector<std::uint8_t>& frame, std::uint8_t sequence, std::span<const std::uint8_t> request,
                std::span<const std::uint8_t> extra)
{
    const std::size_t length = request.size() + extra.size();
    frame.clear();
    frame.reserve(FrameHeaderSize + length + 1);
    frame.push_back(FrameStart);
    frame.push_back(sequence);
    frame.push_back(static_cast<std::uint8_t>(length >> 8));
    frame.push_back(static_cast<std::uint8_t>(length));
    frame.push_back(FrameHeaderMark);
    frame.insert(frame.end(), request.begin(), request.end());
    frame.insert(frame.end(), extra.begin(), extra.end());
    std::uint8_t check = 0;
    for (const std::uint8_t byte : frame)
        check ^= byte;
    frame.push_back(check);
}

std::size_t TFrameReceiver::BytesToCompleteFrame() const
{
    switch (State) {
    case 0: return 0;
    case 1: return 4 + 1;
    case 2: return 3 + 1;
    case 3: return 2 + 1;
    case 4: return 1 + static_cast<std::size_t>(ReceiveLength) + 1;
    case 5: return static_cast<std::size_t>(ReceiveLength - ReceiveCount) + 1;
    default: return 1;
    }
}

bool TFrameReceiver::FeedByte(std::uint8_t byte)
{
    bool complete = false;
    switch (State) {
    case 0: // wait for start
        if (byte == FrameStart) {
            Check = 0;
            State = 1;
        }
        break;
    case 1: // sequence: not used to accept or reject a reply
        State = 2;
        break;
    case 2:
        ReceiveLength = byte * 256;
        State = 3;
        break;
    case 3:
        ReceiveLength += byte;
        State = ReceiveLength > static_cast<int>(MaxPayload) ? 0 : 4;
        break;
    case 4:
        if (byte == FrameHeaderMark) {
            ReceiveCount = 0;
            State = ReceiveLength > 0 ? 5 : 6;
        } else {
            State = 0;
        }
        break;
    case 5:
        ReceiveBuffer[static_cast<std::size_t>(ReceiveCount++)] = byte;
        if (ReceiveCount >= ReceiveLength)
            State = 6;
        break;
    default: // 6: check byte
        complete = byte == Check;
        State = 0;
        break;
    }
    Check ^= byte;
    return complete;
}

} // namespace lindprog
