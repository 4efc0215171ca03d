#include "FrameParser.h"

#include "Wire.h"

#include <algorithm>

namespace lindprog::sim {

void TFrameParser::Feed(std::span<const std::uint8_t> bytes, Clock::time_point arrival)
{
    if (bytes.empty())
        return;
    // Compact lazily so a long session does not keep growing the buffer.
    if (Head > 0 && Head * 2 >= Buffer.size()) {
        Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<std::ptrdiff_t>(Head));
        Head = 0;
    }
    Buffer.insert(Buffer.end(), bytes.begin(), bytes.end());
    Marks.push_back({Consumed + Buffered(), arrival});
}

std::span<const std::uint8_t> TFrameParser::Pending() const
{
    return std::span<const std::uint8_t>(Buffer).subspan(Head);
}

TFrameParser::TExamined TFrameParser::Examine() const
{
    const auto bytes = Pending();
    if (bytes.empty())
        return {TStep::NeedMore, 0};
    if (bytes[0] != FrameStart) {
        const auto next = std::find(bytes.begin() + 1, bytes.end(), FrameStart);
        return {TStep::Skip, static_cast<std::size_t>(next - bytes.begin())};
    }
    if (bytes.size() < HeaderSize)
        return {TStep::NeedMore, 0};
    // A start byte followed by a bad header, an impossible length or a wrong
    // check is not a frame: drop only that start byte, because the real frame
    // may begin inside what looked like this one.
    if (bytes[4] != HeaderMark)
        return {TStep::Skip, 1};
    const std::size_t length = (static_cast<std::size_t>(bytes[2]) << 8) | bytes[3];
    if (length > MaxPayload)
        return {TStep::Skip, 1};
    const std::size_t total = length + FrameOverhead;
    if (bytes.size() < total)
        return {TStep::NeedMore, 0};
    if (XorCheck(bytes.first(total - 1)) != bytes[total - 1])
        return {TStep::Skip, 1};
    return {TStep::Frame, total};
}

void TFrameParser::Consume(std::size_t count)
{
    Head += count;
    Consumed += count;
    while (!Marks.empty() && Marks.front().End <= Consumed)
        Marks.pop_front();
    if (Head == Buffer.size()) {
        Buffer.clear();
        Head = 0;
    }
}

Clock::time_point TFrameParser::ArrivalOf(std::uint64_t absoluteIndex) const
{
    for (const auto& mark : Marks) {
        if (mark.End > absoluteIndex)
            return mark.Time;
    }
    return Marks.empty() ? Clock::time_point{} : Marks.back().Time;
}

TParsedItem TFrameParser::TakeDiscarded()
{
    TParsedItem item;
    item.Kind = TParsedItem::TKind::Discarded;
    item.Raw = std::move(Discarded);
    item.FirstArrival = DiscardedArrival;
    Discarded.clear();
    return item;
}

TParsedItem TFrameParser::TakeFrame(std::size_t length)
{
    const auto bytes = Pending().first(length);
    TParsedItem item;
    item.Kind = TParsedItem::TKind::Frame;
    item.Raw.assign(bytes.begin(), bytes.end());
    item.Sequence = bytes[1];
    item.Payload.assign(bytes.begin() + HeaderSize, bytes.end() - 1);
    item.FirstArrival = ArrivalOf(Consumed);
    Consume(length);
    return item;
}

std::optional<TParsedItem> TFrameParser::Next()
{
    for (;;) {
        const TExamined examined = Examine();
        if (examined.Step == TStep::Skip) {
            if (Discarded.empty())
                DiscardedArrival = ArrivalOf(Consumed);
            const auto skipped = Pending().first(examined.Length);
            Discarded.insert(Discarded.end(), skipped.begin(), skipped.end());
            Consume(examined.Length);
            continue;
        }
        // Report a discarded run before the frame (or the wait) that ends it.
        if (!Discarded.empty())
            return TakeDiscarded();
        if (examined.Step == TStep::NeedMore)
            return std::nullopt;
        return TakeFrame(examined.Length);
    }
}

std::vector<std::uint8_t> TFrameParser::Reset()
{
    std::vector<std::uint8_t> dropped = std::move(Discarded);
    const auto rest = Pending();
    dropped.insert(dropped.end(), rest.begin(), rest.end());
    Buffer.clear();
    Head = 0;
    Consumed = 0;
    Marks.clear();
    Discarded.clear();
    return dropped;
}

} // namespace lindprog::sim
