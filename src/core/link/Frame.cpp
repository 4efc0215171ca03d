#include "core/link/Frame.h"

#include "core/link/Com.h"

#include <algorithm>

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

TFrameReceiver::TFrameReceiver(TOnFrame onFrame) : OnFrame(std::move(onFrame))
{
    Rescan.reserve(MaxFrameSize);
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

std::chrono::nanoseconds TFrameReceiver::IdleLimit(std::size_t missing)
{
    constexpr std::chrono::nanoseconds Floor = std::chrono::milliseconds(50);
    const std::chrono::nanoseconds lineTime(static_cast<std::int64_t>(missing) * 1'000'000'000LL * TCom::BitsPerByte /
                                            TCom::BaudRate);
    return std::max(Floor, 2 * lineTime);
}

void TFrameReceiver::Feed(std::span<const std::uint8_t> bytes)
{
    for (const std::uint8_t byte : bytes) {
        switch (Step(byte)) {
        case TStep::Complete: OnFrame(); break;
        case TStep::Failed: Resynchronise(); break;
        case TStep::More: break;
        }
    }
}

void TFrameReceiver::LineIdle(std::chrono::nanoseconds idle)
{
    // What the search leaves under way came in before the quiet spell too.
    while (State != 0 && idle > IdleLimit(BytesToCompleteFrame())) {
        State = 0;
        Resynchronise();
    }
}

void TFrameReceiver::Resynchronise()
{
    // Only the failed frame's own start byte is known to start nothing; any
    // later byte of it, the bad header mark and check byte included, may be
    // the start of the reply the noise ran into.
    Rescan.assign(FrameBytes.begin() + 1, FrameBytes.begin() + static_cast<std::ptrdiff_t>(FrameCount));
    std::size_t next = 0;
    while (next < Rescan.size()) {
        switch (Step(Rescan[next++])) {
        case TStep::Complete: OnFrame(); break;
        case TStep::Failed:
            // That frame started inside Rescan and took its bytes in order up
            // to here: go on from the byte after its start.
            next -= FrameCount - 1;
            break;
        case TStep::More: break;
        }
    }
}

TFrameReceiver::TStep TFrameReceiver::Step(std::uint8_t byte)
{
    TStep step = TStep::More;
    switch (State) {
    case 0: // wait for start
        if (byte != FrameStart)
            return TStep::More;
        Check = 0;
        FrameCount = 0;
        State = 1;
        break;
    case 1: // sequence: the endpoint decides what it is worth
        State = 2;
        break;
    case 2:
        ReceiveLength = byte * 256;
        State = 3;
        break;
    case 3:
        ReceiveLength += byte;
        if (ReceiveLength > static_cast<int>(MaxPayload)) {
            State = 0;
            step = TStep::Failed;
        } else {
            State = 4;
        }
        break;
    case 4:
        if (byte == FrameHeaderMark) {
            ReceiveCount = 0;
            State = ReceiveLength > 0 ? 5 : 6;
        } else {
            State = 0;
            step = TStep::Failed;
        }
        break;
    case 5:
        ReceiveBuffer[static_cast<std::size_t>(ReceiveCount++)] = byte;
        if (ReceiveCount >= ReceiveLength)
            State = 6;
        break;
    default: // 6: check byte
        step = byte == Check ? TStep::Complete : TStep::Failed;
        State = 0;
        break;
    }
    FrameBytes[FrameCount++] = byte;
    Check ^= byte;
    return step;
}

} // namespace lindprog
