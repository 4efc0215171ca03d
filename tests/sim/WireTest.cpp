#include "sim/Wire.h"

#include "sim/FrameParser.h"

#include <gtest/gtest.h>

namespace lindprog::sim {
namespace {

using TBytes = std::vector<std::uint8_t>;

std::vector<TParsedItem> ParseAll(TFrameParser& parser, const TBytes& bytes)
{
    parser.Feed(bytes, Clock::now());
    std::vector<TParsedItem> items;
    while (auto item = parser.Next())
        items.push_back(std::move(*item));
    return items;
}

TBytes Concat(std::initializer_list<TBytes> parts)
{
    TBytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(SimWire, EncodesTheDocumentedExampleFrames)
{
    EXPECT_EQ(EncodeFrame(1, TBytes{1}), (TBytes{0x1B, 0x01, 0x00, 0x01, 0x0E, 0x01, 0x14}));
    EXPECT_EQ(EncodeFrame(2, TBytes{3, 0, 1, 18}),
              (TBytes{0x1B, 0x02, 0x00, 0x04, 0x0E, 0x03, 0x00, 0x01, 0x12, 0x03}));
}

TEST(SimWire, LengthIsBigEndianAndIntegersLittleEndian)
{
    const TBytes payload(0x0123, 0xAA);
    const auto frame = EncodeFrame(9, payload);
    EXPECT_EQ(frame[2], 0x01);
    EXPECT_EQ(frame[3], 0x23);
    TBytes out;
    AppendU32(out, 0x08004000);
    AppendU16(out, 0x0800);
    EXPECT_EQ(out, (TBytes{0x00, 0x40, 0x00, 0x08, 0x00, 0x08}));
    EXPECT_EQ(ReadU32(out, 0), 0x08004000u);
    EXPECT_EQ(ReadU16(out, 4), 0x0800);
}

TEST(SimWire, HexRoundTripAndRejectsBadDigits)
{
    EXPECT_EQ(HexBytes(TBytes{0x1B, 0x0E, 0xFF}), "1B 0E FF");
    EXPECT_EQ(ParseHexBytes("a1B2 c3"), (TBytes{0xA1, 0xB2, 0xC3}));
    EXPECT_FALSE(ParseHexBytes("ABC"));
    EXPECT_FALSE(ParseHexBytes("G0"));
}

TEST(SimFrameParser, FrameFedOneByteAtATime)
{
    TFrameParser parser;
    const auto frame = EncodeFrame(7, TBytes{161, 0, 0, 0, 0, 4, 0});
    for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
        parser.Feed(std::span(frame).subspan(i, 1), Clock::now());
        EXPECT_FALSE(parser.Next()) << "frame reported after " << i + 1 << " bytes";
    }
    parser.Feed(std::span(frame).last(1), Clock::now());
    const auto item = parser.Next();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->Kind, TParsedItem::TKind::Frame);
    EXPECT_EQ(item->Sequence, 7);
    EXPECT_EQ(item->Payload, (TBytes{161, 0, 0, 0, 0, 4, 0}));
    EXPECT_EQ(item->Raw, frame);
    EXPECT_EQ(parser.Buffered(), 0u);
}

TEST(SimFrameParser, StartAndMarkBytesInsidePayloadAreData)
{
    TFrameParser parser;
    const TBytes payload{162, 27, 14, 27, 27, 14};
    const auto items = ParseAll(parser, Concat({EncodeFrame(1, payload), EncodeFrame(2, TBytes{1})}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Payload, payload);
    EXPECT_EQ(items[1].Sequence, 2);
}

TEST(SimFrameParser, NoiseBeforeAFrameIsReportedAsOneDiscardedRun)
{
    TFrameParser parser;
    const TBytes noise{0x00, 0x55, 0xAA, 0x0E};
    const auto items = ParseAll(parser, Concat({noise, EncodeFrame(3, TBytes{2})}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Kind, TParsedItem::TKind::Discarded);
    EXPECT_EQ(items[0].Raw, noise);
    EXPECT_EQ(items[1].Kind, TParsedItem::TKind::Frame);
    EXPECT_EQ(items[1].Sequence, 3);
}

TEST(SimFrameParser, BadHeaderMarkIsDroppedAndTheNextFrameFound)
{
    TFrameParser parser;
    const auto broken = EncodeFrameWithMark(4, 15, TBytes{1});
    const auto items = ParseAll(parser, Concat({broken, EncodeFrame(5, TBytes{1})}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Raw, broken);
    EXPECT_EQ(items[1].Sequence, 5);
}

TEST(SimFrameParser, WrongCheckIsDroppedAndTheNextFrameFound)
{
    TFrameParser parser;
    auto broken = EncodeFrame(4, TBytes{3});
    broken.back() ^= 0x01;
    const auto items = ParseAll(parser, Concat({broken, EncodeFrame(6, TBytes{3})}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Kind, TParsedItem::TKind::Discarded);
    EXPECT_EQ(items[0].Raw, broken);
    EXPECT_EQ(items[1].Sequence, 6);
}

TEST(SimFrameParser, OversizeAnnouncementIsDroppedWithoutWaitingForItsBytes)
{
    TFrameParser parser;
    const TBytes oversize{27, 1, 0x10, 0x01, 14}; // announces 4097 payload bytes
    const auto items = ParseAll(parser, Concat({oversize, EncodeFrame(8, TBytes{1})}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Raw, oversize);
    EXPECT_EQ(items[1].Sequence, 8);
}

TEST(SimFrameParser, LargestPayloadIsAccepted)
{
    TFrameParser parser;
    const TBytes payload(MaxPayload, 0x27);
    const auto items = ParseAll(parser, EncodeFrame(1, payload));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].Payload.size(), MaxPayload);
}

TEST(SimFrameParser, FrameHiddenInsideAFalseStartIsFound)
{
    // A lone start byte whose "length" would swallow the real frame must not
    // cost us that frame once its check fails.
    TFrameParser parser;
    const auto real = EncodeFrame(9, TBytes{1});
    const TBytes falseStart{27, 0, 0, 3, 14};
    auto items = ParseAll(parser, Concat({falseStart, real, TBytes{0, 0, 0}}));
    ASSERT_GE(items.size(), 2u);
    const auto frame = std::find_if(items.begin(), items.end(),
                                    [](const auto& item) { return item.Kind == TParsedItem::TKind::Frame; });
    ASSERT_NE(frame, items.end());
    EXPECT_EQ(frame->Raw, real);
}

TEST(SimFrameParser, ResetHandsBackThePartialFrame)
{
    TFrameParser parser;
    const auto frame = EncodeFrame(1, TBytes{1, 2, 3});
    parser.Feed(std::span(frame).first(4), Clock::now());
    EXPECT_FALSE(parser.Next());
    EXPECT_EQ(parser.Reset(), TBytes(frame.begin(), frame.begin() + 4));
    EXPECT_EQ(parser.Buffered(), 0u);
    const auto items = ParseAll(parser, EncodeFrame(2, TBytes{1}));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].Sequence, 2);
}

TEST(SimFrameParser, ArrivalIsTheReadTimeOfTheFirstByte)
{
    TFrameParser parser;
    const auto frame = EncodeFrame(1, TBytes{1, 2, 3, 4});
    const auto first = Clock::time_point(std::chrono::seconds(100));
    const auto second = first + std::chrono::milliseconds(5);
    const auto filler = EncodeFrame(9, TBytes{1});
    parser.Feed(filler, first - std::chrono::milliseconds(1));
    parser.Feed(std::span(frame).first(3), first);
    parser.Feed(std::span(frame).subspan(3), second);
    ASSERT_TRUE(parser.Next()); // the filler
    const auto item = parser.Next();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->FirstArrival, first);
}

} // namespace
} // namespace lindprog::sim
