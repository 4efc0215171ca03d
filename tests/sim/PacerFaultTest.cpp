#include "sim/Faults.h"
#include "sim/LinePacer.h"
#include "sim/Wire.h"

#include <gtest/gtest.h>

namespace lindprog::sim {
namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;
using Clock = TLinePacer::Clock;

TEST(SimLinePacer, LineTimeIsTenBitsPerByteAt921600)
{
    EXPECT_EQ(TLinePacer::LineTime(92160), std::chrono::seconds(1));
    const auto one = std::chrono::duration_cast<std::chrono::nanoseconds>(TLinePacer::LineTime(1));
    EXPECT_EQ(one.count(), 10850);
}

TEST(SimLinePacer, ReplyLeavesIn64BytePacketsAtLineSpeed)
{
    TLinePacer pacer(true);
    const auto ready = Clock::time_point(10s);
    const auto packets = pacer.Outgoing(ready, 520);
    ASSERT_EQ(packets.size(), 9u);
    for (std::size_t i = 0; i + 1 < packets.size(); ++i) {
        EXPECT_EQ(packets[i].End, (i + 1) * 64);
        EXPECT_EQ(packets[i].Due, ready + TLinePacer::LineTime((i + 1) * 64));
    }
    EXPECT_EQ(packets.back().End, 520u);
    EXPECT_EQ(packets.back().Due, ready + TLinePacer::LineTime(520));
}

TEST(SimLinePacer, RepliesQueueBehindEachOther)
{
    TLinePacer pacer(true);
    const auto ready = Clock::time_point(10s);
    pacer.Outgoing(ready, 100);
    const auto second = pacer.Outgoing(ready, 10);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].Due, ready + TLinePacer::LineTime(100) + TLinePacer::LineTime(10));
    // Once the line has gone idle a reply starts when it is ready.
    const auto later = ready + 1s;
    EXPECT_EQ(pacer.Outgoing(later, 10)[0].Due, later + TLinePacer::LineTime(10));
}

TEST(SimLinePacer, RequestIsTakenUpAfterItsWholeFrameCrossedTheLine)
{
    TLinePacer pacer(true);
    const auto arrival = Clock::time_point(5s);
    EXPECT_EQ(pacer.Incoming(arrival, 13), arrival + TLinePacer::LineTime(13));
    // A second frame read in the same chunk waits for the first.
    EXPECT_EQ(pacer.Incoming(arrival, 13), arrival + TLinePacer::LineTime(26));
    pacer.Reset();
    EXPECT_EQ(pacer.Incoming(arrival, 13), arrival + TLinePacer::LineTime(13));
}

TEST(SimLinePacer, WithoutPacingEverythingIsDueAtOnceButInOrder)
{
    TLinePacer pacer(false);
    const auto t = Clock::time_point(5s);
    EXPECT_EQ(pacer.Incoming(t, 4000), t);
    const auto delayed = pacer.Outgoing(t + 50ms, 600);
    ASSERT_EQ(delayed.size(), 1u);
    EXPECT_EQ(delayed[0].End, 600u);
    EXPECT_EQ(pacer.Outgoing(t, 10)[0].Due, t + 50ms);
}

TFaultSpec Fault(TFaultKind kind, std::optional<std::uint8_t> command, int skip = 0, int times = 1)
{
    TFaultSpec fault;
    fault.Kind = kind;
    fault.Command = command;
    fault.Skip = skip;
    fault.Times = times;
    return fault;
}

TEST(SimFaultPlan, SkipAndTimesCountOnlyMatchingRequests)
{
    TFaultPlan plan({Fault(TFaultKind::NoAnswer, 161, 2, 2)});
    std::vector<bool> hit;
    for (int i = 0; i < 6; ++i) {
        EXPECT_FALSE(plan.Pick(1)); // other commands neither hit nor count
        hit.push_back(plan.Pick(161).has_value());
    }
    EXPECT_EQ(hit, (std::vector<bool>{false, false, true, true, false, false}));
}

TEST(SimFaultPlan, ForeverAndAnyCommand)
{
    TFaultPlan plan({Fault(TFaultKind::Delay, std::nullopt, 1, -1)});
    EXPECT_FALSE(plan.Pick(3));
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(plan.Pick(static_cast<std::uint8_t>(i)));
}

TEST(SimFaultPlan, FirstDueEntryWinsAndOthersStillCount)
{
    TFaultPlan plan({Fault(TFaultKind::NoAnswer, 1), Fault(TFaultKind::WrongCheck, 1, 1)});
    EXPECT_EQ(plan.Pick(1)->Kind, TFaultKind::NoAnswer);
    EXPECT_EQ(plan.Pick(1)->Kind, TFaultKind::WrongCheck);
    EXPECT_FALSE(plan.Pick(1));
}

TEST(SimShapeReply, EachKindBendsTheReplyAsDocumented)
{
    const TBytes payload{3, 0, 1, 18};
    const auto correct = EncodeFrame(2, payload);
    auto shape = [&](TFaultKind kind) {
        auto fault = Fault(kind, std::nullopt);
        fault.Status = 9;
        fault.Garbage = {0x11, 0x22};
        return ShapeReply(2, payload, &fault).Frames;
    };
    EXPECT_EQ(ShapeReply(2, payload, nullptr).Frames[0].Bytes, correct);
    EXPECT_TRUE(shape(TFaultKind::NoAnswer).empty());
    auto frames = shape(TFaultKind::WrongCheck);
    EXPECT_EQ(frames[0].Bytes.back(), correct.back() ^ 0xFF);
    EXPECT_TRUE(frames[0].Corrupted);
    EXPECT_EQ(shape(TFaultKind::WrongEcho)[0].Bytes[5], 4);
    EXPECT_EQ(shape(TFaultKind::WrongSequence)[0].Bytes[1], 3);
    frames = shape(TFaultKind::BadHeader);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_NE(frames[0].Bytes[4], HeaderMark);
    EXPECT_EQ(frames[1].Bytes, correct);
    frames = shape(TFaultKind::Oversize);
    EXPECT_EQ(frames[0].Bytes.size(), 4097u + 6);
    EXPECT_EQ(XorCheck(std::span(frames[0].Bytes).first(frames[0].Bytes.size() - 1)), frames[0].Bytes.back());
    EXPECT_EQ(shape(TFaultKind::EchoOnly)[0].Bytes, EncodeFrame(2, TBytes{3}));
    EXPECT_EQ(shape(TFaultKind::Status)[0].Bytes, EncodeFrame(2, TBytes{3, 9, 1, 18}));
    frames = shape(TFaultKind::Garbage);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].Bytes, (TBytes{0x11, 0x22}));
    EXPECT_EQ(frames[1].Bytes, correct);
    EXPECT_EQ(shape(TFaultKind::Delay)[0].Bytes, correct);
}

} // namespace
} // namespace lindprog::sim
