#include "FrameParser.h"

#include <algorithm>

#include "Wire.h"

namespace lindprog::sim {

void TFrameParser::Feed(std::span<const std::uint8_t> bytes, Clock::time_point arrival)
{
    if (bytes.empty())
        return;
    // Compact lazily so a long session does not keep growing the buffer.
    if (head_ > 0 && head_ * 2 >= buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    marks_.push_back({consumed_ + Buffered(), arrival});
}

std::span<const std::uint8_t> TFrameParser::Pending() const
{
    return std::span<const std::uint8_t>(buffer_).subspan(head_);
}

TFrameParser::TExamined TFrameParser::Examine() const
{
    const auto bytes = Pending();
    if (bytes.empty())
        return {EStep::NeedMore, 0};
    if (bytes[0] != kFrameStart) {
        const auto next = std::find(bytes.begin() + 1, bytes.end(), kFrameStart);
        return {EStep::Skip, static_cast<std::size_t>(next - bytes.begin())};
    }
    if (bytes.size() < kHeaderSize)
        return {EStep::NeedMore, 0};
    // A start byte followed by a bad header, an impossible length or a wrong
    // check is not a frame: drop only that start byte, because the real frame
    // may begin inside what looked like this one.
    if (bytes[4] != kHeaderMark)
        return {EStep::Skip, 1};
    const std::size_t length = (static_cast<std::size_t>(bytes[2]) << 8) | bytes[3];
    if (length > kMaxPayload)
        return {EStep::Skip, 1};
    const std::size_t total = length + kFrameOverhead;
    if (bytes.size() < total)
        return {EStep::NeedMore, 0};
    if (XorCheck(bytes.first(total - 1)) != bytes[total - 1])
        return {EStep::Skip, 1};
    return {EStep::Frame, total};
}

void TFrameParser::Consume(std::size_t count)
{
    head_ += count;
    consumed_ += count;
    while (!marks_.empty() && marks_.front().end <= consumed_)
        marks_.pop_front();
    if (head_ == buffer_.size()) {
        buffer_.clear();
        head_ = 0;
    }
}

Clock::time_point TFrameParser::ArrivalOf(std::uint64_t absolute_index) const
{
    for (const auto& mark : marks_) {
        if (mark.end > absolute_index)
            return mark.time;
    }
    return marks_.empty() ? Clock::time_point{} : marks_.back().time;
}

TParsedItem TFrameParser::TakeDiscarded()
{
    TParsedItem item;
    item.kind = TParsedItem::EKind::Discarded;
    item.raw = std::move(discarded_);
    item.first_arrival = discarded_arrival_;
    discarded_.clear();
    return item;
}

TParsedItem TFrameParser::TakeFrame(std::size_t length)
{
    const auto bytes = Pending().first(length);
    TParsedItem item;
    item.kind = TParsedItem::EKind::Frame;
    item.raw.assign(bytes.begin(), bytes.end());
    item.sequence = bytes[1];
    item.payload.assign(bytes.begin() + kHeaderSize, bytes.end() - 1);
    item.first_arrival = ArrivalOf(consumed_);
    Consume(length);
    return item;
}

std::optional<TParsedItem> TFrameParser::Next()
{
    for (;;) {
        const TExamined examined = Examine();
        if (examined.step == EStep::Skip) {
            if (discarded_.empty())
                discarded_arrival_ = ArrivalOf(consumed_);
            const auto skipped = Pending().first(examined.length);
            discarded_.insert(discarded_.end(), skipped.begin(), skipped.end());
            Consume(examined.length);
            continue;
        }
        // Report a discarded run before the frame (or the wait) that ends it.
        if (!discarded_.empty())
            return TakeDiscarded();
        if (examined.step == EStep::NeedMore)
            return std::nullopt;
        return TakeFrame(examined.length);
    }
}

std::vector<std::uint8_t> TFrameParser::Reset()
{
    std::vector<std::uint8_t> dropped = std::move(discarded_);
    const auto rest = Pending();
    dropped.insert(dropped.end(), rest.begin(), rest.end());
    buffer_.clear();
    head_ = 0;
    consumed_ = 0;
    marks_.clear();
    discarded_.clear();
    return dropped;
}

} // namespace lindprog::sim
