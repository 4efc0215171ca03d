// The receiver's frame assembly, fed as the receiver thread feeds it: the
// line's bytes in pieces of any size, with quiet spells of any length between
// some of them. The first input byte chooses the pieces and the quiet spells,
// the rest is the line.
//
// Rules: every frame handed on is one the line carried, whole and in order
// after the one before it, with a good check byte and a length that matches
// its header and its payload; after a long quiet spell no frame is under way;
// and a good frame sent after any noise is found, unless a frame that the
// noise began ended inside it with a good check byte.

#include "core/link/AdapterCommands.h"
#include "core/link/Frame.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lindprog::fuzz {
namespace {

using namespace std::chrono_literals;

class TFrameChecker {
public:
    void Feed(std::span<const std::uint8_t> bytes)
    {
        // Appended first: a frame completes while its last byte is fed.
        Line.insert(Line.end(), bytes.begin(), bytes.end());
        Receiver.Feed(bytes);
    }
    void Idle(std::chrono::nanoseconds idle) { Receiver.LineIdle(idle); }

    const TFrameReceiver& Machine() const { return Receiver; }
    std::size_t Delivered() const { return Frames; }
    bool Saw(std::span<const std::uint8_t> frame) const { return std::ranges::equal(LastFrame, frame); }

private:
    void Check()
    {
        const auto frame = Receiver.Frame();
        const auto length = static_cast<std::size_t>(Receiver.Length());
        Expect(length <= MaxPayload, "a payload of at most 4096 bytes");
        Expect(frame.size() == FrameHeaderSize + length + 1, "the frame is as long as its length says");
        Expect(frame[0] == FrameStart && frame[4] == FrameHeaderMark, "start byte and header mark");
        Expect(static_cast<std::size_t>(frame[2] << 8 | frame[3]) == length, "the length field is the length");
        std::uint8_t check = 0;
        for (const std::uint8_t byte : frame)
            check ^= byte;
        Expect(check == 0, "the check byte is the XOR of the bytes before it");
        Expect(std::equal(frame.begin() + FrameHeaderSize, frame.end() - 1, Receiver.Buffer().begin()),
               "the payload is the frame's payload");
        // The earliest place the frame can have come from; a later one would
        // only make the next frame's search more lenient.
        const auto from = Line.begin() + static_cast<std::ptrdiff_t>(NextFrom);
        const auto at = std::search(from, Line.end(), frame.begin(), frame.end());
        Expect(at != Line.end(), "the frame came off the line, after the one before it");
        NextFrom = static_cast<std::size_t>(at - Line.begin()) + frame.size();
        LastFrame.assign(frame.begin(), frame.end());
        ++Frames;
    }

    std::vector<std::uint8_t> Line;
    std::size_t NextFrom = 0;
    std::size_t Frames = 0;
    std::vector<std::uint8_t> LastFrame;
    TFrameReceiver Receiver{[this] { Check(); }};
};

// Deterministic choices from the control byte, so a saved input replays alike.
class TChoices {
public:
    explicit TChoices(std::uint8_t control) : State(control * 0x9E3779B1u + 1) {}
    std::uint32_t Next()
    {
        State ^= State << 13;
        State ^= State >> 17;
        State ^= State << 5;
        return State;
    }

private:
    std::uint32_t State;
};

std::chrono::nanoseconds QuietSpell(int kind, TChoices& choices)
{
    // Below the shortest limit, around it, and far beyond any.
    static constexpr std::chrono::nanoseconds Spells[] = {0ms, 10ms, 49ms, 51ms, 60ms, 95ms, 200ms, 1s};
    switch (kind) {
    case 1: return 10ms;
    case 2: return 1s;
    default: return Spells[choices.Next() % std::size(Spells)];
    }
}

} // namespace
} // namespace lindprog::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace lindprog;
    using namespace lindprog::fuzz;
    if (size == 0)
        return 0;
    const std::uint8_t control = data[0];
    const std::span<const std::uint8_t> line(data + 1, size - 1);
    const std::size_t longestPiece = std::size_t{1} << (control & 7);
    const int quiet = (control >> 3) & 3;
    TChoices choices(control);

    TFrameChecker checker;
    for (std::size_t done = 0; done < line.size();) {
        const std::size_t piece = std::min<std::size_t>(1 + choices.Next() % longestPiece, line.size() - done);
        checker.Feed(line.subspan(done, piece));
        done += piece;
        if (quiet != 0 && choices.Next() % 4 == 0)
            checker.Idle(QuietSpell(quiet, choices));
    }

    const std::size_t beforeGood = checker.Delivered();
    std::vector<std::uint8_t> good;
    const std::uint8_t payload[] = {Cmd::GetVersion, 0x00, 0x01, 0x12};
    BuildFrame(good, 0x5A, payload, {});
    checker.Feed(good);
    checker.Idle(1s);
    Expect(checker.Machine().BytesToCompleteFrame() == 0, "no frame under way after a long quiet spell");
    Expect(checker.Saw(good) || checker.Delivered() > beforeGood,
           "a good frame after noise arrives, unless a frame the noise began took it in");
    return 0;
}
