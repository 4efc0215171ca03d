// The port's life cycle: bootloader hand-over across a reopen, hosts coming
// and going, the port vanishing, the transcript, and line pacing.

#include "RawPort.h"
#include "sim/LinePacer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include <unistd.h>

namespace lindprog::sim::test {
namespace {

using lindprog::test::TScratchDir;
using nlohmann::json;

json Bootloader()
{
    return json{
        {"bootloader",
         {{"app_start", "0x08004000"}, {"app_end", "0x0803FFFF"}, {"page_size", 2048}, {"page_status", {{"1", 6}}}}}};
}

TBytes Page(std::uint8_t marker)
{
    TBytes payload(2057, marker);
    payload[0] = 34;
    return payload;
}

TSimOptions Paced()
{
    TSimOptions options;
    options.Pace = true;
    return options;
}

std::vector<std::string> Lines(const std::string& path)
{
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

TEST(SimSession, BootloaderComesUpAfterTheHostReopensThePort)
{
    THarness harness(Bootloader());
    const auto enter = harness.Call({143});
    EXPECT_EQ(enter.Status(), 4);
    EXPECT_TRUE(enter.Data().empty());
    EXPECT_EQ(harness.Call({1}).Data(), (TBytes{3})); // not before the reopen

    ASSERT_TRUE(harness.Reopen());
    EXPECT_EQ(harness.Call({1}).Data(), (TBytes{1}));
    EXPECT_EQ(harness.Sim().Mode(), 1);
    const auto area = harness.Call({143});
    EXPECT_EQ(area.Status(), 0);
    EXPECT_EQ(area.Data(), (TBytes{0x00, 0x40, 0x00, 0x08, 0xFF, 0xFF, 0x03, 0x08, 0x00, 0x08}));
    EXPECT_EQ(harness.Call({161, 0, 0, 0, 0, 1, 0}).Status(), 2);
    EXPECT_EQ(harness.Call({128}).Status(), 2);
    EXPECT_EQ(harness.Call({2}).Status(), 0);

    EXPECT_EQ(harness.Call(Page(0xA0)).Status(), 0);
    EXPECT_EQ(harness.Call(Page(0xA1)).Status(), 6); // page index 1 is refused
    EXPECT_EQ(harness.Call(Page(0xA2)).Status(), 0);
    EXPECT_EQ(harness.Call({34, 1, 2}).Status(), 5);
    const auto pages = harness.Sim().ReceivedPages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0], TBytes(2056, 0xA0));
    EXPECT_EQ(pages[1], TBytes(2056, 0xA2));

    EXPECT_EQ(harness.Call({4}).Status(), 0);
    EXPECT_EQ(harness.Call({1}).Data(), (TBytes{3}));
    EXPECT_EQ(harness.Call(Page(0xA3)).Status(), 2);
}

TEST(SimSession, ImmediateCloseAndReopenIsNotMissed)
{
    for (int round = 0; round < 10; ++round) {
        THarness harness(json::object());
        EXPECT_EQ(harness.Call({143}).Status(), 4);
        harness.Port().Close();
        ASSERT_TRUE(harness.Port().Open(harness.Sim().SlavePath()));
        EXPECT_EQ(harness.Call({1}).Data(), (TBytes{1})) << "round " << round;
    }
}

TEST(SimSession, StartsInBootloaderWhenTheScenarioSaysSo)
{
    THarness harness(json{{"mode", 1}});
    EXPECT_EQ(harness.Call({1}).Data(), (TBytes{1}));
    EXPECT_EQ(harness.Call({175}).Status(), 2);
}

TEST(SimSession, SurvivesManyCloseAndReopenCycles)
{
    THarness harness(json::object());
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(harness.Reopen());
        ASSERT_EQ(harness.Call({3}).Status(), 0) << "cycle " << i;
    }
    EXPECT_TRUE(harness.Sim().WaitForHostOpens(41, ReplyTimeout)) << harness.Sim().HostOpenCount();
    harness.Port().Close();
    EXPECT_TRUE(harness.Sim().WaitForHostClosed(ReplyTimeout));
    EXPECT_FALSE(harness.Sim().HostConnected());
    EXPECT_EQ(harness.Sim().Mode(), 3);
}

TEST(SimSession, PartialFrameIsForgottenWhenTheHostCloses)
{
    THarness harness(json::object());
    const auto frame = MakeFrame(1, TBytes{3});
    harness.Port().Write(std::span(frame).first(4));
    harness.Port().Close();
    ASSERT_TRUE(harness.Sim().WaitForHostClosed(ReplyTimeout));
    ASSERT_TRUE(harness.Port().Open(harness.Sim().SlavePath()));
    EXPECT_EQ(harness.Call({1}).Data(), (TBytes{3}));
    EXPECT_EQ(harness.Sim().RequestTotal(), 1u);
}

TEST(SimSession, RepliesForAClosedSessionAreNotDeliveredToTheNextOne)
{
    // The delayed reply would be queued ahead of everything else, so if it
    // survived the close it would be the first frame the new session reads.
    THarness harness(json{{"faults", json::array({{{"command", 3}, {"kind", "delay"}, {"delay_ms", 300}}})}});
    harness.Send({3});
    ASSERT_TRUE(harness.Sim().WaitForRequests(1, ReplyTimeout));
    ASSERT_TRUE(harness.Reopen());
    EXPECT_EQ(harness.Call({1}).Data(), (TBytes{3}));
}

TEST(SimSession, VanishClosesTheLineAndStopsServing)
{
    const TScratchDir dir;
    const std::string link = (dir.Path / "vanish_link").string();
    TSimOptions options;
    options.LinkPath = link;
    THarness harness(json{{"vanish_after", 3}}, options);
    EXPECT_EQ(harness.Call({1}).Status(), 0);
    EXPECT_EQ(harness.Call({2}).Status(), 0);
    harness.Send({175});
    EXPECT_TRUE(harness.Port().WaitForHangUp(ReplyTimeout));
    EXPECT_TRUE(harness.Sim().WaitForVanished(ReplyTimeout));
    EXPECT_TRUE(harness.Sim().Vanished());
    EXPECT_EQ(harness.Sim().RequestCount(175), 1);
    EXPECT_EQ(harness.Sim().RequestTotal(), 3u);
    EXPECT_FALSE(harness.Sim().WaitForRequests(4, 10ms));
    EXPECT_NE(::access(link.c_str(), F_OK), 0) << "the link outlived the port";
    TRawPort again;
    EXPECT_FALSE(again.Open(harness.Sim().SlavePath()) && again.Write(MakeFrame(9, TBytes{1})) &&
                 again.ReadFrame(50ms));
}

TEST(SimSession, TranscriptHasALinePerFrame)
{
    const TScratchDir dir;
    const std::string path = (dir.Path / "transcript.txt").string();
    TSimOptions options;
    options.TranscriptPath = path;
    {
        THarness harness(
            json{{"version", {1, 18}}, {"faults", json::array({{{"command", 2}, {"kind", "wrong_check"}}})}}, options);
        harness.Port().Write(TBytes{0x55, 0x66});
        harness.Call({3});
        harness.Send({2});
        ASSERT_TRUE(harness.Port().ReadFrame());
        harness.Sim().Stop();
    }
    const auto lines = Lines(path);
    auto find = [&](const std::string& tail) {
        return std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
        });
    };
    const auto discarded = find(" H>A? 55 66");
    const auto request = find(" H>A 1B 01 00 01 0E 03 16");
    const auto reply = find(" A>H 1B 01 00 04 0E 03 00 01 12 00");
    ASSERT_NE(discarded, lines.end());
    ASSERT_NE(request, lines.end());
    ASSERT_NE(reply, lines.end());
    EXPECT_LT(discarded, request);
    EXPECT_LT(request, reply);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& line) { return line.find(" A>H! 1B 02 ") != std::string::npos; }),
              lines.end());
    // Milliseconds since start lead every line and never go backwards.
    double last = 0;
    for (const auto& line : lines) {
        const double ms = std::stod(line);
        EXPECT_GE(ms, last);
        last = ms;
    }
}

TEST(SimSession, PacedBlockReadsNeverBeatTheLine)
{
    // How close pacing comes to the line rate is a figure for the link
    // benchmark; here only that it never delivers faster than the wire could.
    THarness harness(OneRegion(65536), Paced());
    ASSERT_EQ(harness.Call(StartOperation(0, 0, 0)).Status(), 0);
    constexpr int Blocks = 40;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < Blocks; ++i) {
        ASSERT_EQ(harness.Call(Block(161, static_cast<std::uint32_t>(i * 512), 512)).Data().size(), 512u);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // 13 request bytes and 520 reply bytes cross the line per block.
    EXPECT_GE(elapsed, TLinePacer::LineTime(Blocks * (13 + 520)));
}

TEST(SimSession, PacedReplyNeverGetsAheadOfTheLine)
{
    THarness harness(OneRegion(8192), Paced());
    ASSERT_EQ(harness.Call(StartOperation(0, 0, 0)).Status(), 0);
    constexpr std::size_t ReplyLength = 4094 + 8;
    const auto request = MakeFrame(harness.NextSequence(), Block(161, 0, 4094));
    const auto start = std::chrono::steady_clock::now();
    harness.Port().Write(request);
    std::size_t received = 0;
    int chunks = 0;
    while (received < ReplyLength) {
        const auto chunk = harness.Port().ReadSome(ReplyLength - received);
        ASSERT_FALSE(chunk.empty()) << "reply stalled after " << received << " bytes";
        received += chunk.size();
        ++chunks;
        // The reply cannot start before the request has crossed the line, and
        // the host cannot hold more than the line has carried since.
        const auto since = std::chrono::steady_clock::now() - start;
        const auto carried = since - TLinePacer::LineTime(request.size());
        EXPECT_LE(TLinePacer::LineTime(received), carried) << "after " << received << " bytes";
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, TLinePacer::LineTime(request.size() + ReplyLength));
    // 45 ms of line time cannot arrive in one piece unless the pacer burst it.
    EXPECT_GE(chunks, 3);
}

TEST(SimSession, TwoSimulatorsInOneProcess)
{
    THarness first(json{{"identity", "First"}});
    THarness second(json{{"identity", "Second"}});
    std::thread other([&] {
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(second.Call({2}).Data(), (TBytes{'S', 'e', 'c', 'o', 'n', 'd', 0}));
    });
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(first.Call({2}).Data(), (TBytes{'F', 'i', 'r', 's', 't', 0}));
    other.join();
    EXPECT_NE(first.Sim().SlavePath(), second.Sim().SlavePath());
    EXPECT_EQ(first.Sim().RequestTotal(), 20u);
}

TEST(SimSession, StopIsPromptAndIdempotent)
{
    TAdapterSim sim(ParseScenario(json::object()));
    ASSERT_TRUE(sim.Start());
    EXPECT_FALSE(sim.Start());
    EXPECT_EQ(sim.LastError(), "simulator already started");
    const auto start = std::chrono::steady_clock::now();
    sim.Stop();
    sim.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(sim.WaitForRequests(1, 10ms));
}

TEST(SimSession, LinkNeverReplacesARegularFile)
{
    const TScratchDir dir;
    const std::string path = (dir.Path / "not_a_link").string();
    std::ofstream(path) << "keep me";
    TSimOptions options;
    options.LinkPath = path;
    TAdapterSim sim(ParseScenario(json::object()), options);
    EXPECT_FALSE(sim.Start());
    EXPECT_NE(sim.LastError().find("not a symlink"), std::string::npos);
    EXPECT_EQ(Lines(path), std::vector<std::string>{"keep me"});
}

} // namespace
} // namespace lindprog::sim::test
