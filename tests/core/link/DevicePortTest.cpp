#include "core/base/LittleEndian.h"
#include "support/SimLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include <pthread.h>
#include <sched.h>

namespace lindprog {
namespace {

using namespace std::chrono;
using nlohmann::json;
using test::BaseScenario;
using test::TSimLink;

milliseconds Since(steady_clock::time_point start)
{
    return duration_cast<milliseconds>(steady_clock::now() - start);
}

// A port whose far side the test holds and never reads, mapped to COM1.
struct TDeafLink {
    test::TScratchDir Dir;
    test::TBarePty Pty;
    test::TEnvPort Env{1, Pty.SlavePath};
    TPortNames Names{Dir.Path / "ports.conf", Dir.Path / "dev"};
    TQueueDispatcher Dispatcher;
    TDevicePort Port{Names, Dispatcher};
    // A test may shorten the process-wide write deadline.
    ~TDeafLink() { TCom::SetWriteTimeout(TCom::WriteTimeoutConstantMs, TCom::WriteTimeoutPerByteMs); }
};

std::set<pid_t> ThreadIds()
{
    std::set<pid_t> ids;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ids.insert(std::stoi(task.path().filename().string()));
    return ids;
}

json WithFault(json fault)
{
    json scenario = BaseScenario();
    scenario["faults"] = json::array({std::move(fault)});
    return scenario;
}

TEST(DevicePort, FirstRequestAndVersionReplyMatchTheDocumentedBytes)
{
    TSimLink link;
    ASSERT_TRUE(link.Started);
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Port.GetMode());
    EXPECT_EQ(link.Port.Mode(), 3);
    ASSERT_TRUE(link.Port.GetVersion());
    EXPECT_EQ(link.Port.VersionMajor(), 1);
    EXPECT_EQ(link.Port.VersionMinor(), 18);

    const auto requests = link.Frames("H>A");
    const auto replies = link.Frames("A>H");
    ASSERT_EQ(requests.size(), 2u);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(requests[0], "1B 01 00 01 0E 01 14");
    EXPECT_EQ(replies[1], "1B 02 00 04 0E 03 00 01 12 03");
}

TEST(DevicePort, SequenceWrapsToZeroOnThe256thRequest)
{
    TSimLink link;
    ASSERT_TRUE(link.Open());
    for (int i = 0; i < 256; ++i)
        ASSERT_TRUE(link.Port.GetMode()) << "request " << i + 1;
    EXPECT_EQ(link.Port.Sequence(), 0);
    const auto requests = link.Frames("H>A");
    ASSERT_EQ(requests.size(), 256u);
    EXPECT_EQ(requests[254].substr(0, 5), "1B FF");
    EXPECT_EQ(requests[255].substr(0, 5), "1B 00");
}

TEST(DevicePort, LargestReplyOf4096BytesIsAccepted)
{
    TSimLink link;
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Start(TOperation::Read));
    std::vector<std::uint8_t> block(4094);
    ASSERT_TRUE(link.Port.ReadBlock(0, 4094, block)) << link.Port.StatusText();
    const auto flash = link.Sim.RegionContents(0, 0);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), flash.begin()));
}

TEST(DevicePort, OversizeReplyIsDroppedAndTheRequestTimesOut)
{
    TSimLink link(WithFault({{"command", 161}, {"kind", "oversize"}}));
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Start(TOperation::Read));
    std::vector<std::uint8_t> block(16);
    const auto start = steady_clock::now();
    EXPECT_FALSE(link.Port.ReadBlock(0, 16, block));
    EXPECT_GE(Since(start), milliseconds(4900));
    EXPECT_EQ(link.Port.Status(), 255);
    EXPECT_EQ(link.Port.StatusText(), "No answer");
    // The receiver found its feet again: the next request is answered.
    EXPECT_TRUE(link.Port.ReadBlock(0, 16, block));
}

TEST(DevicePort, BadHeaderMarkIsSkippedAndTheNextFrameAccepted)
{
    TSimLink link(WithFault({{"command", 3}, {"kind", "bad_header"}}));
    ASSERT_TRUE(link.Open());
    const auto start = steady_clock::now();
    ASSERT_TRUE(link.Port.GetVersion()) << link.Port.StatusText();
    EXPECT_LT(Since(start), milliseconds(2000));
    EXPECT_EQ(link.Port.VersionMinor(), 18);
}

TEST(DevicePort, NoiseThatLooksLikeALongFrameDoesNotSwallowTheReply)
{
    // A burst announcing a 4096-byte frame takes the real reply in as its
    // payload; once the line has gone quiet the receiver must give it up and
    // find the reply among the bytes it holds.
    TSimLink link(WithFault({{"command", 3}, {"kind", "garbage"}, {"bytes", "1B 07 10 00 0E"}}));
    ASSERT_TRUE(link.Open());
    EXPECT_TRUE(link.Port.GetVersion()) << link.Port.StatusText();
    EXPECT_EQ(link.Port.VersionMinor(), 18);
    EXPECT_TRUE(link.Port.GetMode()) << "the next request is untouched";
}

TEST(DevicePort, PayloadBytes27And14ArriveIntact)
{
    TSimLink link;
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Start(TOperation::Read));
    std::vector<std::uint8_t> block(8);
    ASSERT_TRUE(link.Port.ReadBlock(100, 8, block));
    EXPECT_EQ(block, (std::vector<std::uint8_t>{0x1B, 0x0E, 0x1B, 0x1B, 0x0E, 0x0E, 0x00, 0x1B}));
}

// A ReadBlock reply frame with the given sequence, as scenario hex text.
std::string ReadReplyFrame(std::uint8_t sequence, std::vector<std::uint8_t> data)
{
    data.insert(data.begin(), {Cmd::ReadBlock, 0});
    std::vector<std::uint8_t> frame;
    BuildFrame(frame, sequence, data, {});
    std::string hex;
    char digits[3];
    for (const auto byte : frame) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        hex += digits;
    }
    return hex;
}

// Until two replies in a row have echoed their sequence, a reply is matched by
// its command echo alone; from then on a reply with another sequence is not
// an answer.
TEST(DevicePort, SequenceIsCheckedOnceTheAdapterHasEchoedItTwice)
{
    json scenario = BaseScenario();
    scenario["faults"] = json::array(
        {{{"command", 1}, {"kind", "wrong_sequence"}}, {{"command", 3}, {"kind", "wrong_sequence"}, {"skip", 1}}});
    TSimLink link(scenario);
    link.Port.SetReplyTimeout(milliseconds(300));
    ASSERT_TRUE(link.Open());
    EXPECT_TRUE(link.Port.GetMode()) << "the first reply of a connection proves nothing yet";
    EXPECT_TRUE(link.Port.GetVersion());
    EXPECT_FALSE(link.Port.SequenceChecked());
    EXPECT_TRUE(link.Port.GetIdentity());
    EXPECT_TRUE(link.Port.SequenceChecked());
    EXPECT_FALSE(link.Port.GetVersion());
    EXPECT_EQ(link.Port.Status(), 255);
    EXPECT_TRUE(link.Port.GetVersion());
    ASSERT_TRUE(link.Open());
    EXPECT_FALSE(link.Port.SequenceChecked()) << "another connection may be another adapter";
}

// An adapter that never echoes the sequence is matched by the echo as always.
TEST(DevicePort, AdapterThatDoesNotEchoTheSequenceStillWorks)
{
    TSimLink link(WithFault({{"kind", "wrong_sequence"}, {"times", -1}}));
    ASSERT_TRUE(link.Open());
    for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(link.Port.GetMode());
    EXPECT_TRUE(link.Port.GetVersion());
    EXPECT_EQ(link.Port.VersionMinor(), 18);
    EXPECT_FALSE(link.Port.SequenceChecked());
}

struct TBlockReads {
    TSimLink& Link;
    std::vector<std::uint8_t> Read(std::uint32_t offset)
    {
        std::vector<std::uint8_t> block(4);
        EXPECT_TRUE(Link.Port.ReadBlock(offset, 4, block)) << Link.Port.StatusText();
        return block;
    }
};

// A reply that comes in after its request gave up, a duplicate of an earlier
// reply and one nobody asked for all carry the command echo of the ReadBlock
// now waiting; taken as its answer they would be another block's bytes
// reported as read.
TEST(DevicePort, LateDuplicatedAndUnsolicitedReadRepliesAreNotTakenAsAnswers)
{
    json scenario = BaseScenario();
    const std::uint8_t readAt0 = 4; // after GetMode, GetMode and the start request
    scenario["faults"] = json::array({
        {{"command", Cmd::ReadBlock}, {"kind", "delay"}, {"delay_ms", 500}, {"skip", 1}},
        {{"command", Cmd::ReadBlock},
         {"kind", "garbage"},
         {"skip", 3},
         {"bytes", ReadReplyFrame(readAt0, {0x00, 0x11, 0x22, 0x33})}},
        {{"command", Cmd::ReadBlock},
         {"kind", "garbage"},
         {"skip", 4},
         {"bytes", ReadReplyFrame(0x77, {0xDE, 0xAD, 0xBE, 0xEF})}},
    });
    TSimLink link(scenario);
    link.Port.SetReplyTimeout(milliseconds(300));
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Port.GetMode() && link.Port.GetMode());
    ASSERT_TRUE(link.Start(TOperation::Read));
    TBlockReads reads{link};
    EXPECT_EQ(reads.Read(0), (std::vector<std::uint8_t>{0x00, 0x11, 0x22, 0x33}));

    std::vector<std::uint8_t> block(4);
    EXPECT_FALSE(link.Port.ReadBlock(100, 4, block)) << "its reply comes 500 ms late";
    EXPECT_EQ(reads.Read(104), (std::vector<std::uint8_t>{0x0E, 0x0E, 0x00, 0x1B})) << "not the late reply's bytes";
    EXPECT_EQ(reads.Read(4), (std::vector<std::uint8_t>{0x44, 0x55, 0x66, 0x77})) << "not the duplicate";
    EXPECT_EQ(reads.Read(100), (std::vector<std::uint8_t>{0x1B, 0x0E, 0x1B, 0x1B})) << "not the unsolicited reply";
}

// Without the sequence a ReadBlock reply is told from another request's only by
// its length; that the replies cannot be checked is logged once.
TEST(DevicePort, UnnumberedAdapterIsLoggedOnceAndOnlyAReplyOfTheAskedLengthAnswersARead)
{
    json scenario = BaseScenario();
    scenario["faults"] = json::array({
        {{"command", 1}, {"kind", "wrong_sequence"}, {"times", 2}},
        {{"command", Cmd::ReadBlock}, {"kind", "garbage"}, {"bytes", ReadReplyFrame(0x55, {1, 2, 3, 4, 5, 6, 7, 8})}},
    });
    TSimLink link(scenario);
    std::vector<std::string> notices;
    link.Port.SetOnNotice([&notices](const std::string& line) { notices.push_back(line); });
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Port.GetMode() && link.Port.GetMode());
    ASSERT_TRUE(link.Start(TOperation::Read));
    EXPECT_EQ(TBlockReads{link}.Read(4), (std::vector<std::uint8_t>{0x44, 0x55, 0x66, 0x77}));
    link.Dispatcher.RunPending();
    EXPECT_EQ(notices, std::vector<std::string>{TDevicePort::UnnumberedNotice});
}

TEST(DevicePort, ReplyWithAnotherEchoIsIgnored)
{
    TSimLink link(WithFault({{"command", 3}, {"kind", "wrong_echo"}}));
    ASSERT_TRUE(link.Open());
    const auto start = steady_clock::now();
    EXPECT_FALSE(link.Port.GetVersion());
    EXPECT_GE(Since(start), milliseconds(4900));
    EXPECT_EQ(link.Port.Status(), 255);
    EXPECT_EQ(link.Port.VersionMajor(), 0) << "a failed query leaves its fields cleared";
}

TEST(DevicePort, ReplyWithWrongCheckByteIsIgnored)
{
    TSimLink link(WithFault({{"command", 1}, {"kind", "wrong_check"}}));
    ASSERT_TRUE(link.Open());
    const auto start = steady_clock::now();
    EXPECT_FALSE(link.Port.GetMode());
    EXPECT_GE(Since(start), milliseconds(4900));
    EXPECT_EQ(link.Port.StatusText(), "No answer");
    EXPECT_EQ(link.Port.Mode(), 0);
    EXPECT_TRUE(link.Port.GetMode());
}

TEST(DevicePort, EchoOnlyReplyEndsTheWaitWithBadReplyLength)
{
    TSimLink link(WithFault({{"command", 3}, {"kind", "echo_only"}}));
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Port.GetMode());
    const auto before = std::vector<std::uint8_t>(link.Port.Reply().begin(), link.Port.Reply().begin() + 3);
    const auto start = steady_clock::now();
    EXPECT_FALSE(link.Port.GetVersion());
    EXPECT_LT(Since(start), milliseconds(2000));
    EXPECT_EQ(link.Port.Status(), 253);
    EXPECT_EQ(link.Port.StatusText(), "Bad reply length");
    EXPECT_TRUE(std::equal(before.begin(), before.end(), link.Port.Reply().begin()))
        << "a too short reply does not replace the reply area";
}

TEST(DevicePort, UnlistedStatusesReadAsUnknownError)
{
    json scenario = BaseScenario();
    scenario["faults"] = json::array({{{"command", 3}, {"kind", "status"}, {"status", 16}},
                                      {{"command", 3}, {"kind", "status"}, {"status", 200}, {"skip", 1}}});
    TSimLink link(scenario);
    ASSERT_TRUE(link.Open());
    EXPECT_FALSE(link.Port.GetVersion());
    EXPECT_EQ(link.Port.Status(), 16);
    EXPECT_EQ(link.Port.StatusText(), "Unknown error 16");
    EXPECT_FALSE(link.Port.GetVersion());
    EXPECT_EQ(link.Port.StatusText(), "Unknown error 200");
    EXPECT_TRUE(link.Port.GetVersion());
}

TEST(DevicePort, StatusTexts)
{
    EXPECT_EQ(TDevicePort::StatusToText(0), "OK");
    EXPECT_EQ(TDevicePort::StatusToText(8), "PIN requierd");
    EXPECT_EQ(TDevicePort::StatusToText(15), "Device not blank");
    EXPECT_EQ(TDevicePort::StatusToText(16), "Unknown error 16");
    EXPECT_EQ(TDevicePort::StatusToText(18), "NEXUS error (possibly locked)");
    EXPECT_EQ(TDevicePort::StatusToText(23), "Incorrect JTAG ID");
    EXPECT_EQ(TDevicePort::StatusToText(24), "Unknown error 24");
    EXPECT_EQ(TDevicePort::StatusToText(251), "Unknown error 251");
    EXPECT_EQ(TDevicePort::StatusToText(252), "Port is not open");
    EXPECT_EQ(TDevicePort::StatusToText(254), "Port write error");
}

// A front end leaving a silent adapter: the waiting request gives up at once
// (a timeout of an hour would hang the test otherwise), nothing more is sent
// until the port is opened again.
TEST(DevicePort, InterruptEndsTheWaitAndRefusesRequestsUntilTheNextOpen)
{
    TSimLink link(WithFault({{"command", Cmd::GetVersion}, {"kind", "no_answer"}}));
    ASSERT_TRUE(link.Open());
    link.Port.SetReplyTimeout(hours(1));
    std::thread interrupter([&] {
        link.Sim.WaitForRequests(1, seconds(10));
        link.Port.Interrupt();
    });
    EXPECT_FALSE(link.Port.GetVersion());
    interrupter.join();
    EXPECT_EQ(link.Port.StatusText(), "No answer");
    EXPECT_FALSE(link.Port.GetMode());
    EXPECT_EQ(link.Sim.RequestCount(Cmd::GetMode), 0);
    ASSERT_TRUE(link.Open());
    EXPECT_TRUE(link.Port.GetMode());
}

TEST(DevicePort, ClosedPortFailsAtOnceWithoutSending)
{
    TSimLink link;
    const auto start = steady_clock::now();
    EXPECT_FALSE(link.Port.GetMode());
    EXPECT_EQ(link.Port.Status(), 252);
    EXPECT_EQ(link.Port.StatusText(), "Port is not open");
    ASSERT_TRUE(link.Open());
    link.Port.Close();
    EXPECT_FALSE(link.Port.SendCommand(Cmd::GetVersion));
    EXPECT_EQ(link.Port.Status(), 252);
    EXPECT_LT(Since(start), milliseconds(1000));
    EXPECT_EQ(link.Sim.RequestCount(Cmd::GetMode), 0);
    EXPECT_EQ(link.Sim.RequestCount(Cmd::GetVersion), 0);
}

TEST(DevicePort, VanishedPortEndsTheReceiverAndLaterRequestsGet252)
{
    json scenario = BaseScenario();
    scenario["vanish_after"] = 1;
    TSimLink link(scenario);
    int closedNotices = 0;
    link.Port.SetOnVanished([&] { ++closedNotices; });
    ASSERT_TRUE(link.Open());
    link.Port.GetMode();
    // The receiver notices the hang-up and asks the UI thread to close.
    ASSERT_TRUE(link.Dispatcher.WaitForPosted(seconds(3)));
    const auto start = steady_clock::now();
    EXPECT_TRUE(link.Port.Vanished());
    EXPECT_FALSE(link.Port.GetVersion());
    EXPECT_EQ(link.Port.Status(), 252) << "receiver gone, port not yet closed: nothing is sent";
    EXPECT_LT(Since(start), milliseconds(1000));
    EXPECT_EQ(closedNotices, 0) << "the front end hears of it on its own thread";
    EXPECT_EQ(link.Dispatcher.RunPending(), 1);
    EXPECT_EQ(closedNotices, 1);
    EXPECT_FALSE(link.Port.IsOpen());
    EXPECT_EQ(link.Port.PortNumber(), 0);
    EXPECT_FALSE(link.Port.GetVersion());
    EXPECT_EQ(link.Port.Status(), 252);
}

TEST(DevicePort, NotificationOfAnEarlierReceiverDoesNotCloseTheNewPort)
{
    json scenario = BaseScenario();
    scenario["vanish_after"] = 1;
    TSimLink first(scenario, 1);
    TSimLink second(BaseScenario(), 2);
    ASSERT_TRUE(first.Open());
    first.Port.GetMode();
    ASSERT_TRUE(first.Dispatcher.WaitForPosted(seconds(3)));
    // Reopened elsewhere before the UI thread got to the notification.
    ASSERT_TRUE(first.Port.Open(2));
    first.Dispatcher.RunPending();
    EXPECT_TRUE(first.Port.IsOpen());
    EXPECT_TRUE(first.Port.GetMode());
}

TEST(DevicePort, CloseIsQuickAndThePortReopensAnyNumberOfTimes)
{
    TSimLink link;
    std::vector<milliseconds::rep> closeTimes;
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(link.Open()) << "round " << round;
        ASSERT_TRUE(link.Port.GetMode()) << "round " << round;
        // Idle receiver: it sits in its read; Close must not wait that out.
        const auto start = steady_clock::now();
        link.Port.Close();
        closeTimes.push_back(duration_cast<microseconds>(steady_clock::now() - start).count());
        EXPECT_FALSE(link.Port.IsOpen());
    }
    std::sort(closeTimes.begin(), closeTimes.end());
    EXPECT_LT(closeTimes[closeTimes.size() / 2], 50'000) << "median close time in microseconds";
    EXPECT_LT(closeTimes.back(), 190'000) << "slowest close must not wait out the read timeout";
    EXPECT_EQ(link.Sim.RequestCount(Cmd::GetMode), 20);
}

TEST(DevicePort, FirstRequestsWithoutAnswerThenAnswered)
{
    TSimLink link(WithFault({{"command", 1}, {"kind", "no_answer"}, {"times", 1}}));
    ASSERT_TRUE(link.Open());
    EXPECT_FALSE(link.Port.GetMode());
    EXPECT_EQ(link.Port.Status(), 255);
    EXPECT_TRUE(link.Port.GetMode());
    EXPECT_EQ(link.Port.Mode(), 3);
}

TEST(DevicePort, LateReplyCompletesTheNextRequestWithTheSameEcho)
{
    TSimLink link(WithFault({{"command", 3}, {"kind", "delay"}, {"delay_ms", 5600}}));
    ASSERT_TRUE(link.Open());
    EXPECT_FALSE(link.Port.GetVersion());
    EXPECT_EQ(link.Port.Status(), 255);
    const auto start = steady_clock::now();
    EXPECT_TRUE(link.Port.GetVersion());
    EXPECT_LT(Since(start), milliseconds(2000)) << "the late reply answered it";
    EXPECT_EQ(link.Port.VersionMinor(), 18);
    // The second reply arrives while nothing waits for it: it is dropped
    // and the next different request is not disturbed.
    EXPECT_TRUE(link.Sim.WaitForRequests(2, seconds(2)));
    EXPECT_TRUE(link.Port.GetMode());
    EXPECT_EQ(link.Port.Mode(), 3);
}

TEST(DevicePort, ReplyAreaKeepsBytesBeyondAShorterPayload)
{
    TSimLink link;
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Start(TOperation::Read));
    std::vector<std::uint8_t> block(8);
    ASSERT_TRUE(link.Port.ReadBlock(0, 8, block));
    ASSERT_TRUE(link.Port.GetMode());
    const auto data = link.Port.ReplyData();
    EXPECT_EQ(data[0], 3);
    EXPECT_TRUE(std::equal(block.begin() + 1, block.end(), data.begin() + 1));
}

TEST(DevicePort, IdentityAndKey)
{
    json scenario = BaseScenario();
    scenario["key"] = 0x0000BEEF;
    TSimLink link(scenario);
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Port.GetIdentity());
    EXPECT_EQ(link.Port.Identity(), "Test Adapter 7");
    ASSERT_TRUE(link.Port.GetKey());
    EXPECT_EQ(link.Port.KeyText(), "0000BEEF");
}

TEST(DevicePort, FailedQueriesClearTheirFields)
{
    json scenario = BaseScenario();
    scenario["faults"] = json::array({{{"command", 2}, {"kind", "status"}, {"status", 1}, {"skip", 1}},
                                      {{"command", 6}, {"kind", "status"}, {"status", 1}, {"skip", 1}}});
    TSimLink link(scenario);
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Port.GetIdentity());
    ASSERT_TRUE(link.Port.GetKey());
    EXPECT_FALSE(link.Port.GetIdentity());
    EXPECT_EQ(link.Port.Identity(), "");
    EXPECT_FALSE(link.Port.GetKey());
    EXPECT_EQ(link.Port.KeyText(), "");
    EXPECT_EQ(link.Port.StatusText(), "Error");
}

TEST(DevicePort, BlockCommandsDriveTheFlash)
{
    TSimLink link;
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Start(TOperation::Erase));
    int notReady = 0;
    while (!link.Port.SendCommand(Cmd::EraseStep)) {
        ASSERT_EQ(link.Port.Status(), PortStatus::NotReady);
        ASSERT_LT(++notReady, 10);
    }
    EXPECT_EQ(notReady, 2);
    EXPECT_TRUE(link.Port.BlankCheckBlock(0, 512));

    std::vector<std::uint8_t> data(512);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 3 + 1);
    ASSERT_TRUE(link.Start(TOperation::Write));
    ASSERT_TRUE(link.Port.WriteBlock(512, 512, data));
    EXPECT_TRUE(link.Port.VerifyBlock(512, 512, data));
    data[77] ^= 0xFF;
    EXPECT_FALSE(link.Port.VerifyBlock(512, 512, data));
    EXPECT_EQ(link.Port.StatusText(), "Compare error");
    EXPECT_FALSE(link.Port.BlankCheckBlock(512, 4));
    EXPECT_EQ(link.Port.StatusText(), "Device not blank");
    EXPECT_FALSE(link.Port.ReadBlock(8190, 4, data));
    EXPECT_EQ(link.Port.StatusText(), "Bad parameter value");

    const auto flash = link.Sim.RegionContents(0, 0);
    EXPECT_EQ(flash[512], 1);
    EXPECT_EQ(flash[512 + 511], static_cast<std::uint8_t>(511 * 3 + 1));
}

TEST(DevicePort, OversizedBlocksAreRefusedWithoutSending)
{
    TSimLink link;
    ASSERT_TRUE(link.Open());
    std::vector<std::uint8_t> data(4096);
    EXPECT_FALSE(link.Port.WriteBlock(0, 2049, data));
    EXPECT_EQ(link.Port.Status(), 3);
    EXPECT_FALSE(link.Port.ReadBlock(0, 16, std::span(data).first(8)));
    EXPECT_FALSE(link.Port.VerifyBlock(0, 4084, data));
    EXPECT_EQ(link.Sim.RequestPayloads().size(), 0u);
}

TEST(DevicePort, StalledWriteEndsTheRequestWithPortWriteError)
{
    TDeafLink link;
    ASSERT_TRUE(link.Port.Open(1));
    link.Port.SetReplyTimeout(milliseconds(1));
    TCom::SetWriteTimeout(50, 0);
    // Frames pile up unread until the terminal's buffer is full and one stalls.
    const std::vector<std::uint8_t> block(MaxWriteBlock, 0x5A);
    milliseconds lastRequest{};
    for (int round = 0; round < 64 && link.Port.Status() != PortStatus::PortWriteError; ++round) {
        const auto start = steady_clock::now();
        EXPECT_FALSE(link.Port.WriteBlock(0, MaxWriteBlock, block));
        lastRequest = Since(start);
        ASSERT_TRUE(link.Port.Status() == PortStatus::NoAnswer || link.Port.Status() == PortStatus::PortWriteError)
            << link.Port.StatusText();
    }
    EXPECT_EQ(link.Port.Status(), PortStatus::PortWriteError);
    EXPECT_LT(lastRequest, seconds(2)) << "given up at the write deadline";
}

TEST(DevicePort, ReceiverRunsAtRealTimePriorityWhereTheSystemGrantsIt)
{
    bool granted = false;
    std::thread([&granted] {
        sched_param realTime{};
        realTime.sched_priority = ::sched_get_priority_min(SCHED_RR);
        granted = ::pthread_setschedparam(::pthread_self(), SCHED_RR, &realTime) == 0;
    }).join();
    if (!granted)
        GTEST_SKIP() << "this process may not use real-time priorities";
    TDeafLink link;
    const auto before = ThreadIds();
    ASSERT_TRUE(link.Port.Open(1));
    std::vector<pid_t> started;
    for (const pid_t id : ThreadIds())
        if (!before.contains(id))
            started.push_back(id);
    ASSERT_EQ(started.size(), 1u) << "the receiver";
    // It raises itself as it begins.
    const auto deadline = steady_clock::now() + seconds(3);
    while (::sched_getscheduler(started[0]) != SCHED_RR && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
    EXPECT_EQ(::sched_getscheduler(started[0]), SCHED_RR);
}

} // namespace
} // namespace lindprog
