#include "core/link/Frame.h"

#include "core/link/AdapterCommands.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <numeric>
#include <vector>

namespace lindprog {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t sequence, const Bytes& payload)
{
    Bytes frame;
    BuildFrame(frame, sequence, payload, {});
    return frame;
}

// A receiver that keeps the payload of every frame it completes.
struct TCollector {
    std::vector<Bytes> Frames;
    TFrameReceiver Receiver{
        [this] { Frames.emplace_back(Receiver.Buffer().begin(), Receiver.Buffer().begin() + Receiver.Length()); }};

    // Feeds one byte at a time, as a slow line may hand them over, and gives
    // the frames they completed.
    std::vector<Bytes> Feed(const Bytes& bytes)
    {
        Frames.clear();
        for (const std::uint8_t& byte : bytes)
            Receiver.Feed(std::span(&byte, 1));
        return Frames;
    }
    std::vector<Bytes> Idle(std::chrono::milliseconds idle)
    {
        Frames.clear();
        Receiver.LineIdle(idle);
        return Frames;
    }
};

Bytes Joined(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

TEST(Frame, GoldenRequestAndReply)
{
    EXPECT_EQ(Frame(1, {0x01}), (Bytes{0x1B, 0x01, 0x00, 0x01, 0x0E, 0x01, 0x14}));
    EXPECT_EQ(Frame(2, {0x03, 0x00, 0x01, 0x12}), (Bytes{0x1B, 0x02, 0x00, 0x04, 0x0E, 0x03, 0x00, 0x01, 0x12, 0x03}));

    // Request bytes and extra bytes form one payload; the length is big-endian.
    Bytes frame;
    const Bytes head(7, 0xA3);
    const Bytes data(300, 0x55);
    BuildFrame(frame, 9, head, data);
    ASSERT_EQ(frame.size(), 5u + 307u + 1u);
    EXPECT_EQ(frame[2], 0x01);
    EXPECT_EQ(frame[3], 0x33);
    EXPECT_EQ(frame[5 + 7], 0x55);
}

TEST(Frame, GoldenReplyIsReceived)
{
    TCollector receiver;
    const auto frames = receiver.Feed({0x1B, 0x02, 0x00, 0x04, 0x0E, 0x03, 0x00, 0x01, 0x12, 0x03});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0x03, 0x00, 0x01, 0x12}));
}

TEST(Frame, LengthLimitIs4096)
{
    TCollector receiver;
    Bytes largest(4096);
    for (std::size_t i = 0; i < largest.size(); ++i)
        largest[i] = static_cast<std::uint8_t>(i * 7);
    auto frames = receiver.Feed(Frame(1, largest));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], largest);

    // 4097 is dropped at its header; its payload is hunted through for a
    // start byte, and the frame after it still arrives.
    Bytes oversize(4097, 0x11);
    Bytes stream = Frame(2, oversize);
    const Bytes next = Frame(3, {0x01, 0x00, 0x03});
    stream.insert(stream.end(), next.begin(), next.end());
    frames = receiver.Feed(stream);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0x01, 0x00, 0x03}));
}

TEST(Frame, BadHeaderMarkAndBadCheckResynchronise)
{
    TCollector receiver;
    Bytes badMark = Frame(1, {0x02, 0x00, 'x'});
    badMark[4] = 0x0F;
    Bytes badCheck = Frame(2, {0x02, 0x00, 'y'});
    badCheck.back() ^= 0xFF;
    Bytes stream = {0x00, 0x42, 0x0E};
    stream.insert(stream.end(), badMark.begin(), badMark.end());
    stream.insert(stream.end(), badCheck.begin(), badCheck.end());
    const Bytes good = Frame(3, {0x02, 0x00, 'z'});
    stream.insert(stream.end(), good.begin(), good.end());
    const auto frames = receiver.Feed(stream);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0x02, 0x00, 'z'}));
}

TEST(Frame, PayloadBytes27And14AreNotSpecial)
{
    TCollector receiver;
    const Bytes payload = {0xA1, 0x00, 0x1B, 0x0E, 0x1B, 0x1B, 0x0E, 0x00, 0x1B};
    const auto frames = receiver.Feed(Frame(0x1B, payload));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], payload);
}

TEST(Frame, ShorterFrameLeavesTheRestOfTheBuffer)
{
    TCollector receiver;
    receiver.Feed(Frame(1, {0xA1, 0x00, 1, 2, 3, 4, 5, 6}));
    receiver.Feed(Frame(2, {0x01, 0x00, 3}));
    EXPECT_EQ(receiver.Receiver.Length(), 3);
    EXPECT_EQ(receiver.Receiver.Buffer()[3], 2);
    EXPECT_EQ(receiver.Receiver.Buffer()[7], 6);
}

TEST(Frame, EmptyPayloadCompletesWithLengthZero)
{
    TCollector receiver;
    receiver.Feed(Frame(1, {0x01, 0x00, 3}));
    const auto frames = receiver.Feed(Frame(2, {}));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(receiver.Receiver.Length(), 0);
}

TEST(Frame, FailedFrameIsSearchedAgainForTheReplyItSwallowed)
{
    const Bytes reply = Frame(1, {0x01, 0x00, 0x03});
    // Noise announcing three bytes takes the reply's head as payload and its
    // length byte as check byte; a broken header whose mark is the reply's
    // start byte.
    for (const Bytes& noise : {Bytes{0x1B, 0x00, 0x00, 0x03, 0x0E}, Bytes{0x1B, 0x00, 0x00, 0x01}}) {
        TCollector receiver;
        const auto frames = receiver.Feed(Joined({noise, reply, Frame(2, {0x03, 0x00, 0x01, 0x12})}));
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0], (Bytes{0x01, 0x00, 0x03}));
        EXPECT_EQ(frames[1], (Bytes{0x03, 0x00, 0x01, 0x12}));
    }
}

TEST(Frame, QuietLineDropsAFrameStuckHalfWayAndFindsTheReplyInIt)
{
    TCollector receiver;
    EXPECT_TRUE(receiver.Feed(Joined({{0x1B, 0x07, 0x10, 0x00, 0x0E}, Frame(1, {0x01, 0x00, 0x03})})).empty());
    // Most of 4 KiB still to come: a pause shorter than that takes on the
    // line is no reason to give up.
    EXPECT_TRUE(receiver.Idle(std::chrono::milliseconds(60)).empty());
    const auto frames = receiver.Idle(std::chrono::milliseconds(200));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0x01, 0x00, 0x03}));
    EXPECT_EQ(receiver.Receiver.BytesToCompleteFrame(), 0u);

    // A real reply that pauses briefly still arrives whole.
    const Bytes reply = Frame(2, {0x03, 0x00, 0x01, 0x12});
    EXPECT_TRUE(receiver.Feed(Bytes(reply.begin(), reply.end() - 2)).empty());
    EXPECT_TRUE(receiver.Idle(std::chrono::milliseconds(40)).empty());
    EXPECT_EQ(receiver.Feed(Bytes(reply.end() - 2, reply.end())).size(), 1u);
    // One with just two bytes missing is dropped after 60 ms.
    receiver.Feed(Bytes(reply.begin(), reply.end() - 2));
    EXPECT_TRUE(receiver.Idle(std::chrono::milliseconds(60)).empty());
    EXPECT_TRUE(receiver.Feed(Bytes(reply.end() - 2, reply.end())).empty());
}

TEST(AdapterCommands, BlockHeadIsLittleEndian)
{
    const auto head = BuildBlockHead(Cmd::ReadBlock, 512, 4);
    EXPECT_EQ(Bytes(head.begin(), head.end()), (Bytes{0xA1, 0x00, 0x02, 0x00, 0x00, 0x04, 0x00}));
    const auto big = BuildBlockHead(Cmd::WriteBlock, 0x12345678, 0xABCD);
    EXPECT_EQ(Bytes(big.begin(), big.end()), (Bytes{0xA2, 0x78, 0x56, 0x34, 0x12, 0xCD, 0xAB}));
}

TEST(AdapterCommands, StartOperationIs73BytesEndingIn64Zeros)
{
    const auto payload = BuildStartOperation(2, 1, TOperation::BlankCheck, 2000, 3);
    ASSERT_EQ(payload.size(), 73u);
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 9), (Bytes{0xA0, 2, 1, 4, 0xD0, 0x07, 0x00, 0x00, 3}));
    for (std::size_t i = 9; i < 73; ++i)
        EXPECT_EQ(payload[i], 0) << "byte " << i;
}

TEST(AdapterCommands, ProgramPageCarriesTheRecordUnchanged)
{
    Bytes record(FirmwarePageSize);
    for (std::size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
    const Bytes request = BuildProgramPage(record);
    ASSERT_EQ(request.size(), 2057u);
    EXPECT_EQ(request[0], 34);
    EXPECT_TRUE(std::equal(record.begin(), record.end(), request.begin() + 1));
}

Bytes StartReplyWithText(const std::string& text)
{
    return Joined({{1, 0, 0, 0, 2, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE},
                   Bytes(text.begin(), text.end()),
                   {0}});
}

TEST(AdapterCommands, StartOperationReplyTextSplitsAtEveryBar)
{
    EXPECT_EQ(ParseStartOperationReply(StartReplyWithText("Flash|Locked")).InfoLines,
              (std::vector<std::string>{"Flash", "Locked"}));
    EXPECT_EQ(ParseStartOperationReply(StartReplyWithText("One line")).InfoLines,
              (std::vector<std::string>{"One line"}));
    EXPECT_TRUE(ParseStartOperationReply(StartReplyWithText("")).InfoLines.empty());
    EXPECT_EQ(ParseStartOperationReply(StartReplyWithText("a|b|")).InfoLines, (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(FormatJtagDetect(ParseStartOperationReply(StartReplyWithText(""))),
              "JTAG/Nexus detect: 1/2/12345678/DEADBEEF");
}

TEST(AdapterCommands, ReplyTextWithoutTerminatorStopsAtTheEndOfTheArea)
{
    const Bytes area = {'A', 'B', 'C'};
    EXPECT_EQ(ReadReplyText(std::span(area).first(2)), "AB");
    const Bytes withNul = {'A', 0, 'C'};
    EXPECT_EQ(ReadReplyText(withNul), "A");
    EXPECT_EQ(ReadReplyText({}), "");
}

TEST(AdapterCommands, JtagScanListsAtMostTenIds)
{
    Bytes data = {25, 0, 0, 0, 100, 0, 0, 0};
    for (std::uint8_t k = 0; k < 25; ++k) {
        data.push_back(k);
        data.push_back(0);
        data.push_back(0);
        data.push_back(0x40);
    }
    const auto reply = CheckReply(TJtagScan{}, PortStatus::Ok, data).Value;
    EXPECT_EQ(reply.DeviceCount, 25u);
    EXPECT_EQ(reply.IrLength, 100u);
    ASSERT_EQ(reply.Ids.size(), 10u);
    EXPECT_EQ(reply.Ids[9], 0x40000009u);

    const Bytes none = {0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(CheckReply(TJtagScan{}, PortStatus::Ok, none).Value.Ids.empty());
}

bool SameValue(const auto& a, const auto& b)
{
    return a == b;
}
bool SameValue(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b)
{
    return std::ranges::equal(a, b);
}

// Every reply sits in a block of exactly its size, so AddressSanitizer sees a
// read past the bytes it carried. One byte short, or refused, reads nothing.
template <typename TCommand>
void ExpectCheckedReply(const TCommand& command, const Bytes& whole, const typename TCommand::TValue& expected)
{
    SCOPED_TRACE(static_cast<int>(TCommand::Id));
    const auto exact = CheckReply(command, PortStatus::Ok, whole);
    EXPECT_TRUE(exact.Ok() && SameValue(exact.Value, expected));
    const auto cut = CheckReply(command, PortStatus::Ok, Bytes(whole.begin(), whole.end() - 1));
    EXPECT_EQ(cut.Status, PortStatus::BadReplyLength);
    EXPECT_TRUE(SameValue(cut.Value, typename TCommand::TValue{}));
    const auto refused = CheckReply(command, PortStatus::DeviceNotFound, whole);
    EXPECT_EQ(refused.Status, PortStatus::DeviceNotFound);
    EXPECT_TRUE(SameValue(refused.Value, typename TCommand::TValue{}));
}

TEST(AdapterCommands, CheckedRepliesReadOnlyAWholeAcceptedReply)
{
    TDeviceRecord device;
    TRegionRecord region;
    std::iota(device.begin(), device.end(), std::uint8_t{1});
    std::iota(region.begin(), region.end(), std::uint8_t{7});
    const Bytes block = {9, 8, 7, 6};
    ExpectCheckedReply(TGetMode{}, {3}, 3);
    ExpectCheckedReply(TGetVersion{}, {1, 18}, {1, 18});
    ExpectCheckedReply(TGetKey{}, {0xEF, 0xBE, 0xAD, 0xDE}, "DEADBEEF");
    ExpectCheckedReply(TGetDeviceCount{}, {2}, 2);
    ExpectCheckedReply(TGetDeviceRecord{}, Bytes(device.begin(), device.end()), device);
    ExpectCheckedReply(TGetRegionRecord{}, Bytes(region.begin(), region.end()), region);
    ExpectCheckedReply(TJtagScan{}, {2, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0x11, 2, 0, 0, 0x22},
                       {2, 9, {0x11000001, 0x22000002}});
    ExpectCheckedReply(TEnterBootloader{}, {0x00, 0x40, 0x00, 0x08, 0xFF, 0xFF, 0x03, 0x08, 0x00, 0x08},
                       {0x08004000, 0x0803FFFF, 2048});
    ExpectCheckedReply(TReadBlock{0, 4}, block, block);
}

TEST(AdapterCommands, StartReplyIsReadFromEveryAnswer)
{
    const Bytes whole = StartReplyWithText("Flash|Locked");
    const TStartOperationReply read{{1, 2, 0x12345678, 0xDEADBEEF}, {"Flash", "Locked"}};
    EXPECT_EQ(CheckReply(TStartOperation{}, PortStatus::DeviceLocked, whole).Value, read);
    // Accepted but cut in its values: failed, with what it carried.
    const auto cut = CheckReply(TStartOperation{}, PortStatus::Ok, Bytes(whole.begin(), whole.begin() + 15));
    EXPECT_EQ(cut.Status, PortStatus::BadReplyLength);
    EXPECT_EQ(cut.Value, (TStartOperationReply{{1, 2, 0x12345678, 0}, {}}));
}

} // namespace
} // namespace lindprog
