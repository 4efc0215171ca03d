// Replies cut short by the simulator: every field the program reads must come
// from bytes the reply carried. Beyond them the reply area still holds earlier
// replies, so a reader that trusted it would show made-up values as success.

#include "core/ops/Connection.h"
#include "core/ops/JtagScan.h"
#include "core/ops/OperationDriver.h"
#include "core/settings/Settings.h"
#include "core/update/ProgramThread.h"
#include "support/SimLink.h"

#include <gtest/gtest.h>

#include <functional>

namespace lindprog {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::BaseScenario;
using test::TSimLink;

using TLines = std::vector<std::string>;

json WithFaults(json faults, json scenario = BaseScenario())
{
    scenario["faults"] = std::move(faults);
    return scenario;
}

json Truncate(int command, int bytes, int skip = 0)
{
    return {{"command", command}, {"kind", "truncate"}, {"bytes", bytes}, {"skip", skip}};
}

struct TQueryCase {
    const char* Name;
    std::uint8_t Command;
    int Carried; // data bytes left in the cut reply: one fewer than the query reads
    std::function<bool(TDevicePort&)> Query;
    std::function<bool(const TDevicePort&)> Cleared;
};

TEST(TypedReply, ReplyTooShortForItsFieldsFailsTheQueryAndLeavesItCleared)
{
    const TQueryCase cases[] = {
        {"GetMode", Cmd::GetMode, 0, &TDevicePort::GetMode, [](const TDevicePort& p) { return p.Mode() == 0; }},
        {"GetVersion", Cmd::GetVersion, 1, &TDevicePort::GetVersion,
         [](const TDevicePort& p) { return p.VersionMajor() == 0 && p.VersionMinor() == 0; }},
        {"GetKey", Cmd::GetKey, 3, &TDevicePort::GetKey, [](const TDevicePort& p) { return p.KeyText().empty(); }},
    };
    for (const auto& query : cases) {
        SCOPED_TRACE(query.Name);
        // The first reply is whole, so the cut one finds its bytes still in the area.
        TSimLink link(WithFaults(json::array({Truncate(query.Command, query.Carried, 1)})));
        ASSERT_TRUE(link.Open());
        ASSERT_TRUE(query.Query(link.Port)) << link.Port.StatusText();
        ASSERT_FALSE(query.Cleared(link.Port));

        EXPECT_FALSE(query.Query(link.Port));
        EXPECT_EQ(link.Port.Status(), PortStatus::BadReplyLength);
        EXPECT_EQ(link.Port.StatusText(), "Bad reply length");
        EXPECT_EQ(link.Port.ReplyDataLength(), static_cast<std::size_t>(query.Carried));
        EXPECT_TRUE(query.Cleared(link.Port));

        EXPECT_TRUE(query.Query(link.Port)) << "the next whole reply is read as usual";
    }
}

TEST(TypedReply, IdentityEndsWithTheBytesTheReplyCarried)
{
    TSimLink link(WithFaults(json::array({Truncate(Cmd::GetIdentity, 4, 1), Truncate(Cmd::GetIdentity, 0, 2)})));
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Port.GetIdentity());
    EXPECT_EQ(link.Port.Identity(), "Test Adapter 7");
    // Cut before its terminating zero: the text is what came, nothing after it.
    ASSERT_TRUE(link.Port.GetIdentity());
    EXPECT_EQ(link.Port.Identity(), "Test");
    ASSERT_TRUE(link.Port.GetIdentity());
    EXPECT_EQ(link.Port.Identity(), "");
}

// The callers that read reply layouts of their own report a cut reply as they
// report any failed request.

class TLogLines final : public TLogSink {
public:
    void AddLogLine(const std::string& text) override { Lines.push_back(text); }
    TLines Lines;
};

class TRecordedPrompts final : public TPrompts {
public:
    void ShowError(const std::string& text) override { Shown.push_back(text); }
    void ShowInfo(const std::string& text) override { Shown.push_back(text); }
    bool AskConfirm(const std::string&) override { return true; }
    TAnswer AskConfirmButton(const std::string&) override { return TAnswer::Yes; }
    TAnswer AskWarning(const std::string&) override { return TAnswer::Yes; }
    TLines Shown;
};

TEST(ShortReply, JtagScanCutInItsHeadOrItsIdsFails)
{
    json scenario = BaseScenario();
    scenario["jtag"] = {{"count", 2}, {"ir_length", 9}, {"ids", {0x11111111, 0x22222222}}};
    // The head is 8 bytes and announces two IDs of 4 bytes each.
    TSimLink link(WithFaults(json::array({Truncate(Cmd::JtagScan, 7), Truncate(Cmd::JtagScan, 15, 1)}), scenario));
    ASSERT_TRUE(link.Open());
    TLogLines log;
    RunJtagScan(link.Port, log);
    RunJtagScan(link.Port, log);
    RunJtagScan(link.Port, log);
    EXPECT_EQ(log.Lines,
              (TLines{"JTAG scan failed (Bad reply length)", "JTAG scan failed (Bad reply length)",
                      "Device count: 2, total IR length: 9", "Device 1 ID: 11111111", "Device 2 ID: 22222222"}));
}

TEST(ShortReply, CatalogueKeepsTheRecordsReadBeforeACutOne)
{
    json scenario = BaseScenario();
    scenario["devices"].push_back(scenario["devices"][0]);
    scenario["devices"][1]["name"] = "SECOND";
    // First connection: the count is cut. Second: the second device record
    // and the first region record are one byte short.
    TSimLink link(WithFaults(json::array({Truncate(Cmd::GetDeviceCount, 0), Truncate(Cmd::GetDeviceRecord, 75, 1),
                                          Truncate(Cmd::GetRegionRecord, 71)}),
                             scenario));
    TRecordedPrompts prompts;
    TNullView view;
    TConnection connection(link.Port, prompts, view);

    connection.Connect(1);
    EXPECT_TRUE(connection.Devices().empty());
    EXPECT_EQ(connection.SelectedDevice(), -1);

    connection.Connect(1);
    ASSERT_EQ(connection.Devices().size(), 1u);
    EXPECT_EQ(connection.Devices()[0].Name(), "TESTCHIP");
    EXPECT_TRUE(connection.Regions().empty());
    EXPECT_EQ(connection.RegionFlags(), 0u) << "nothing may start on a region that was never read";
    EXPECT_TRUE(prompts.Shown.empty()) << "a failing record read is not reported";
    EXPECT_EQ(link.Sim.RequestCount(Cmd::GetDeviceRecord), 2);
}

TEST(ShortReply, StartReplyWithoutItsFourValuesStopsTheOperation)
{
    json scenario = BaseScenario();
    scenario["start_operation"]["info"] = "Flash|Ready";
    TSimLink link(WithFaults(json::array({Truncate(Cmd::StartOperation, 15)}), scenario));
    ASSERT_TRUE(link.Open());
    TSettings settings;
    TLogLines log;
    TRecordedPrompts prompts;
    TRunView view;
    TOperationDriver driver(link.Port, settings, log, prompts, view);
    std::vector<std::uint8_t> buffer(8192);
    const TOperationTarget target{0, 0, 1, buffer};

    EXPECT_FALSE(driver.Begin(TOperation::Read, target));
    EXPECT_EQ(log.Lines, (TLines{"Starting operation", "Pause for voltage setting", "Error: Bad reply length"}));
    EXPECT_EQ(link.Sim.RequestCount(Cmd::ReadBlock), 0);

    log.Lines.clear();
    ASSERT_TRUE(driver.Begin(TOperation::Read, target));
    EXPECT_EQ(log.Lines, (TLines{"Starting operation", "Pause for voltage setting",
                                 "JTAG/Nexus detect: 1/2/00000003/00000004", "Flash", "Ready", "Reading device..."}));
}

class TLinesView final : public TUpdateView {
public:
    void AddLine(const std::string& text) override { Lines.push_back(text); }
    void SetProgress(int) override {}
    TLines Lines;
};

class TInstantClock final : public TUpdateClock {
public:
    std::chrono::steady_clock::time_point Now() const override { return std::chrono::steady_clock::now(); }
    void Sleep(std::chrono::milliseconds) override {}
};

TEST(ShortReply, CutBootloaderAreaIsAskedForAgain)
{
    json scenario = BaseScenario();
    scenario["mode"] = 1;
    TSimLink link(WithFaults(json::array({Truncate(Cmd::EnterBootloader, 9)}), scenario));
    ASSERT_TRUE(link.Open());
    TLinesView view;
    TInstantClock clock;
    bool done = false;
    {
        TProgramThread worker(link.Port, link.Dispatcher, view, {}, clock);
        worker.SetOnDone([&] { done = true; });
        worker.Start();
        const auto bound = std::chrono::steady_clock::now() + 30s;
        while (!done && std::chrono::steady_clock::now() < bound)
            link.Dispatcher.WaitAndRun(100ms);
    }
    ASSERT_TRUE(done);
    const TLines start(view.Lines.begin(), view.Lines.begin() + std::min<std::size_t>(view.Lines.size(), 5));
    EXPECT_EQ(start, (TLines{"Entering bootloader", "Sending bootloader request", "Sending bootloader request",
                             "Application area [08004000-0803FFFF]", "Flash page size 2048"}));
}

} // namespace
} // namespace lindprog
