// Commands, records and framing, checked byte for byte over the real pty.

#include "RawPort.h"

#include <gtest/gtest.h>

namespace lindprog::sim::test {
namespace {

using nlohmann::json;

json Adapter()
{
    auto scenario = json::parse(R"({
      "identity": "Corvane JTAG/Nexus Programmer",
      "version": [1, 18],
      "key": "0xA1B2C3D4",
      "devices": [
        {"name": "", "voltages": 5, "reserved": "0xDEADBEEF", "regions": [
          {"name": "", "flags": 15, "size": 4096},
          {"name": "Shadow", "flags": 3, "size": 256}]},
        {"name": "Liar", "region_count": 7}
      ],
      "jtag": {"count": 25, "ir_length": 125, "ids": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12]}
    })");
    // Exactly 64 characters, and a name with a zero at byte 5 (and after).
    scenario["devices"][0]["name"] = std::string(64, 'M');
    scenario["devices"][0]["regions"][0]["name"] = std::string("Flash") + std::string(5, '\0') + "X";
    return scenario;
}

TEST(SimProtocol, ModeRequestFromTheDocumentedBytes)
{
    THarness harness(Adapter());
    harness.Port().Write(TBytes{0x1B, 0x01, 0x00, 0x01, 0x0E, 0x01, 0x14});
    const auto reply = harness.Port().ReadFrame();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Raw, MakeFrame(1, TBytes{1, 0, 3}));
    EXPECT_EQ(reply->Raw, (TBytes{0x1B, 0x01, 0x00, 0x03, 0x0E, 0x01, 0x00, 0x03, 0x15}));
}

TEST(SimProtocol, VersionReplyIsExactlyTheDocumentedFrame)
{
    THarness harness(Adapter());
    harness.Port().Write(MakeFrame(2, TBytes{3}));
    const auto reply = harness.Port().ReadFrame();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Raw, (TBytes{0x1B, 0x02, 0x00, 0x04, 0x0E, 0x03, 0x00, 0x01, 0x12, 0x03}));
}

TEST(SimProtocol, IdentityKeyAndDeviceCount)
{
    THarness harness(Adapter());
    const std::string identity = "Corvane JTAG/Nexus Programmer";
    TBytes expected(identity.begin(), identity.end());
    expected.push_back(0);
    EXPECT_EQ(harness.Call({2}).Data(), expected);
    EXPECT_EQ(harness.Call({6}).Data(), (TBytes{0xD4, 0xC3, 0xB2, 0xA1}));
    EXPECT_EQ(harness.Call({128}).Data(), (TBytes{2}));
    const auto off = harness.Call({175});
    EXPECT_EQ(off.Status(), 0);
    EXPECT_TRUE(off.Data().empty());
    harness.Call({175});
    EXPECT_EQ(harness.Sim().RequestCount(175), 2);
}

TEST(SimProtocol, UnknownCommandsAndWrongSizes)
{
    THarness harness(Adapter());
    EXPECT_EQ(harness.Call({99}).Status(), 2);
    EXPECT_EQ(harness.Call({34, 0}).Status(), 2); // bootloader only
    EXPECT_EQ(harness.Call({3, 0}).Status(), 5);
    EXPECT_EQ(harness.Call({178}).Status(), 5);
    EXPECT_EQ(harness.Call({179, 0}).Status(), 5);
    // An empty payload has no command to echo.
    harness.Port().Write(MakeFrame(harness.NextSequence(), TBytes{}));
    const auto reply = harness.Port().ReadFrame();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Payload, (TBytes{0, 5}));
}

TEST(SimProtocol, DeviceRecordByteForByte)
{
    THarness harness(Adapter());
    const auto data = harness.Call({178, 0}).Data();
    ASSERT_EQ(data.size(), 76u);
    EXPECT_EQ(TBytes(data.begin(), data.begin() + 64), TBytes(64, 'M')); // no terminator
    EXPECT_EQ(LittleU32(data, 64), 5u);
    EXPECT_EQ(LittleU32(data, 68), 0xDEADBEEFu);
    EXPECT_EQ(LittleU32(data, 72), 2u);
    const auto liar = harness.Call({178, 1}).Data();
    EXPECT_EQ(TBytes(liar.begin(), liar.begin() + 5), (TBytes{'L', 'i', 'a', 'r', 0}));
    EXPECT_EQ(LittleU32(liar, 72), 7u);
    EXPECT_EQ(harness.Call({178, 2}).Status(), 3);
    EXPECT_EQ(harness.Call({179, 1, 0}).Status(), 3); // the lie does not make regions exist
}

TEST(SimProtocol, RegionRecordByteForByte)
{
    THarness harness(Adapter());
    const auto data = harness.Call({179, 0, 0}).Data();
    ASSERT_EQ(data.size(), 72u);
    TBytes name{'F', 'l', 'a', 's', 'h', 0, 0, 0, 0, 0, 'X'};
    name.resize(64, 0);
    EXPECT_EQ(TBytes(data.begin(), data.begin() + 64), name);
    EXPECT_EQ(LittleU32(data, 64), 15u);
    EXPECT_EQ(LittleU32(data, 68), 4096u);
    EXPECT_EQ(LittleU32(harness.Call({179, 0, 1}).Data(), 68), 256u);
    EXPECT_EQ(harness.Call({179, 0, 2}).Status(), 3);
    EXPECT_EQ(harness.Call({179, 5, 0}).Status(), 3);
}

TEST(SimProtocol, JtagScanReportsAtMostTenIds)
{
    THarness harness(Adapter());
    const auto data = harness.Call({176}).Data();
    ASSERT_EQ(data.size(), 8u + 40u);
    EXPECT_EQ(LittleU32(data, 0), 25u);
    EXPECT_EQ(LittleU32(data, 4), 125u);
    for (std::uint32_t k = 0; k < 10; ++k)
        EXPECT_EQ(LittleU32(data, 8 + 4 * k), k + 1);
}

TEST(SimProtocol, BrokenRequestFramesAreSkippedAndTheNextOneAnswered)
{
    THarness harness(Adapter());
    auto badCheck = MakeFrame(1, TBytes{1});
    badCheck.back() ^= 0x40;
    auto badHeader = MakeFrame(2, TBytes{1});
    badHeader[4] = 0x0F;
    const TBytes oversize{27, 3, 0x10, 0x01, 14, 1, 2, 3};
    const TBytes noise{0x00, 0x0E, 0x55};
    TBytes line;
    for (const auto& part : {noise, badCheck, badHeader, oversize, MakeFrame(4, TBytes{3})}) {
        line.insert(line.end(), part.begin(), part.end());
    }
    harness.Port().Write(line);
    const auto reply = harness.Port().ReadFrame();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Sequence, 4);
    EXPECT_EQ(reply->Payload, (TBytes{3, 0, 1, 18}));
    EXPECT_EQ(harness.Sim().RequestTotal(), 1u);
    EXPECT_EQ(harness.Call({1}).Data(), (TBytes{3}));
}

TEST(SimProtocol, FrameSplitAcrossWritesIsReassembled)
{
    THarness harness(Adapter());
    const auto frame = MakeFrame(9, TBytes{178, 0});
    harness.Port().Write(std::span(frame).first(3));
    ASSERT_TRUE(harness.Port().Read(1, 20ms).empty());
    harness.Port().Write(std::span(frame).subspan(3));
    const auto reply = harness.Port().ReadFrame();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Sequence, 9);
    EXPECT_EQ(reply->Payload.size(), 78u);
}

TEST(SimProtocol, LargestFramesBothWays)
{
    THarness harness(OneRegion(8192));
    ASSERT_EQ(harness.Call(StartOperation(0, 0, 1)).Status(), 0);
    TBytes data(4089);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7);
    const auto request = Block(162, 100, 4089, data);
    ASSERT_EQ(request.size(), 4096u);
    EXPECT_EQ(harness.Call(request).Status(), 0);
    ASSERT_EQ(harness.Call(StartOperation(0, 0, 0)).Status(), 0);
    const auto reply = harness.Call(Block(161, 100, 4094));
    EXPECT_EQ(reply.Length, 4096u);
    const auto read = reply.Data();
    ASSERT_EQ(read.size(), 4094u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), read.begin()));
    EXPECT_EQ(harness.Call(Block(161, 0, 4095)).Status(), 3);
}

} // namespace
} // namespace lindprog::sim::test
