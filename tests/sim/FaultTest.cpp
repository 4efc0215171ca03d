// Every fault kind, seen on the wire as the client would see it.

#include "RawPort.h"

#include <gtest/gtest.h>

namespace lindprog::sim::test {
namespace {

using nlohmann::json;

// GetVersion (3) is the victim; the correct reply payload is 3 0 1 18.
json WithFault(json fault)
{
    fault["command"] = 3;
    return json{{"version", {1, 18}}, {"faults", json::array({fault})}};
}

const TBytes VersionPayload{3, 0, 1, 18};

std::optional<TRawFrame> AskVersion(THarness& harness, std::uint8_t& sequence)
{
    sequence = harness.NextSequence();
    harness.Port().Write(MakeFrame(sequence, TBytes{3}));
    return harness.Port().ReadFrame();
}

TEST(SimFaults, NoAnswerSendsNothingForThatRequest)
{
    THarness harness(WithFault({{"kind", "no_answer"}}));
    harness.Send({3});
    const auto next = harness.Call({1}); // would fail on the sequence if anything came first
    EXPECT_EQ(next.Data(), (TBytes{3}));
    EXPECT_EQ(harness.Call({3}).Payload, VersionPayload); // times defaults to 1
    EXPECT_EQ(harness.Sim().RequestCount(3), 2);
}

TEST(SimFaults, WrongCheck)
{
    THarness harness(WithFault({{"kind", "wrong_check"}}));
    std::uint8_t sequence = 0;
    const auto reply = AskVersion(harness, sequence);
    ASSERT_TRUE(reply);
    EXPECT_FALSE(reply->CheckOk);
    EXPECT_EQ(reply->Payload, VersionPayload);
    EXPECT_EQ(reply->Sequence, sequence);
}

TEST(SimFaults, WrongEchoAndWrongSequence)
{
    THarness echo(WithFault({{"kind", "wrong_echo"}}));
    std::uint8_t sequence = 0;
    auto reply = AskVersion(echo, sequence);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->CheckOk);
    EXPECT_NE(reply->Echo(), 3);
    EXPECT_EQ(reply->Data(), (TBytes{1, 18}));

    THarness seq(WithFault({{"kind", "wrong_sequence"}}));
    reply = AskVersion(seq, sequence);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->CheckOk);
    EXPECT_NE(reply->Sequence, sequence);
    EXPECT_EQ(reply->Payload, VersionPayload);
}

TEST(SimFaults, BadHeaderIsFollowedAtOnceByTheCorrectReply)
{
    THarness harness(WithFault({{"kind", "bad_header"}}));
    std::uint8_t sequence = 0;
    const auto broken = AskVersion(harness, sequence);
    ASSERT_TRUE(broken);
    EXPECT_NE(broken->Mark, 14);
    const auto correct = harness.Port().ReadFrame();
    ASSERT_TRUE(correct);
    EXPECT_EQ(correct->Raw, MakeFrame(sequence, VersionPayload));
}

TEST(SimFaults, OversizeAnnounces4097BytesAndSendsThemWithAValidCheck)
{
    THarness harness(WithFault({{"kind", "oversize"}}));
    std::uint8_t sequence = 0;
    const auto reply = AskVersion(harness, sequence);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Length, 4097u);
    EXPECT_EQ(reply->Payload.size(), 4097u);
    EXPECT_TRUE(reply->CheckOk);
    EXPECT_EQ(harness.Call({1}).Data(), (TBytes{3})); // nothing else followed
}

TEST(SimFaults, EchoOnlyAndStatusReplacement)
{
    THarness echoOnly(WithFault({{"kind", "echo_only"}}));
    std::uint8_t sequence = 0;
    auto reply = AskVersion(echoOnly, sequence);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Payload, (TBytes{3}));

    THarness status(WithFault({{"kind", "status"}, {"status", 18}}));
    reply = AskVersion(status, sequence);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Payload, (TBytes{3, 18, 1, 18}));
}

TEST(SimFaults, DelayHoldsTheReplyAndTheOnesBehindIt)
{
    THarness harness(WithFault({{"kind", "delay"}, {"delay_ms", 120}}));
    const auto start = std::chrono::steady_clock::now();
    std::uint8_t sequence = 0;
    harness.Port().Write(MakeFrame(sequence = harness.NextSequence(), TBytes{3}));
    const std::uint8_t second = harness.NextSequence();
    harness.Port().Write(MakeFrame(second, TBytes{1}));
    const auto firstReply = harness.Port().ReadFrame();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(firstReply);
    EXPECT_EQ(firstReply->Sequence, sequence);
    EXPECT_GE(elapsed, 120ms);
    const auto secondReply = harness.Port().ReadFrame();
    ASSERT_TRUE(secondReply);
    EXPECT_EQ(secondReply->Sequence, second);
}

TEST(SimFaults, GarbageComesBeforeTheReply)
{
    THarness harness(WithFault({{"kind", "garbage"}, {"bytes", "00 0E 55 AA"}}));
    std::uint8_t sequence = harness.NextSequence();
    harness.Port().Write(MakeFrame(sequence, TBytes{3}));
    EXPECT_EQ(harness.Port().Read(4), (TBytes{0x00, 0x0E, 0x55, 0xAA}));
    const auto reply = harness.Port().ReadFrame();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Raw, MakeFrame(sequence, VersionPayload));
}

TEST(SimFaults, TruncateKeepsEchoStatusAndTheFirstDataBytes)
{
    THarness harness(WithFault({{"kind", "truncate"}, {"bytes", 1}, {"times", 2}}));
    std::uint8_t sequence = 0;
    const auto reply = AskVersion(harness, sequence);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->CheckOk);
    EXPECT_EQ(reply->Length, 3u);
    EXPECT_EQ(reply->Raw, MakeFrame(sequence, TBytes{3, 0, 1}));
    EXPECT_EQ(harness.Call({1}).Data(), (TBytes{3})) << "other commands untouched";
    EXPECT_EQ(harness.Call({3}).Payload, (TBytes{3, 0, 1}));
    EXPECT_EQ(harness.Call({3}).Payload, VersionPayload);

    // Keeping as much as the reply has, or more, sends it as it is.
    THarness whole(WithFault({{"kind", "truncate"}, {"bytes", 2}}));
    EXPECT_EQ(whole.Call({3}).Payload, VersionPayload);
}

TEST(SimFaults, TruncateNeedsACountOfDataBytes)
{
    const auto error = [](json fault) -> std::string {
        try {
            ParseScenario(json{{"faults", json::array({std::move(fault)})}});
        } catch (const TScenarioError& failure) {
            return failure.what();
        }
        return "";
    };
    EXPECT_EQ(error({{"kind", "truncate"}}), "faults[0].bytes: missing");
    EXPECT_EQ(error({{"kind", "truncate"}, {"bytes", 4095}}).rfind("faults[0].bytes: ", 0), 0u);
    EXPECT_EQ(error({{"kind", "truncate"}, {"bytes", "01 02"}}).rfind("faults[0].bytes: ", 0), 0u);
    EXPECT_EQ(error({{"kind", "status"}, {"status", 1}, {"bytes", 1}}), "faults[0].bytes: unknown key");
    const auto longest = ParseScenario(json{{"faults", {{{"kind", "truncate"}, {"bytes", 4094}}}}});
    EXPECT_EQ(longest.Faults[0].KeptData, 4094u);
}

TEST(SimFaults, SkipTimesAndCommandFilter)
{
    THarness harness(json{
        {"faults", json::array({{{"command", 3}, {"kind", "status"}, {"status", 4}, {"skip", 1}, {"times", 2}}})}});
    std::vector<int> statuses;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(harness.Call({1}).Status(), 0);
        statuses.push_back(harness.Call({3}).Status());
    }
    EXPECT_EQ(statuses, (std::vector<int>{0, 4, 4, 0, 0}));
}

TEST(SimFaults, AnyCommandForever)
{
    THarness harness(json{{"faults", json::array({{{"kind", "wrong_sequence"}, {"times", -1}}})}});
    for (std::uint8_t code : {1, 2, 3, 6, 128}) {
        const std::uint8_t sequence = harness.NextSequence();
        harness.Port().Write(MakeFrame(sequence, TBytes{code}));
        const auto reply = harness.Port().ReadFrame();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Sequence, static_cast<std::uint8_t>(sequence + 1));
    }
}

} // namespace
} // namespace lindprog::sim::test
