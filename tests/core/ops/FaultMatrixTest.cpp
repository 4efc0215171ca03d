// Every operation against every fault the simulator can plant, at the first,
// a middle and the last request the operation makes. Each cell runs the
// operation once without the fault to learn its requests, then again with
// the fault planted on one of them, and checks what the user is shown, what
// the adapter was sent, what the buffer and the flash hold afterwards, and
// that the adapter can be used again.
//
// With LINDPROG_FAULT_MATRIX=FILE each cell appends its row to FILE, from
// which scripts/fault-matrix draws docs/fault-matrix.md.

#include "core/base/LittleEndian.h"
#include "core/base/TextFormat.h"
#include "core/ops/JtagScan.h"
#include "core/update/ProgramThread.h"
#include "support/OpsHarness.h"
#include "support/RecordingClock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace lindprog {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::TOpsRig;
using test::TPromptRecord;

// Stands in for the 5 s reply time, with room for sanitizer builds on both sides.
constexpr std::chrono::milliseconds ReplyWait = 500ms;
constexpr std::chrono::milliseconds JustUnder = ReplyWait / 2;
constexpr std::chrono::milliseconds JustOver = ReplyWait + ReplyWait / 2;
constexpr std::uint32_t RegionSize = 1536; // three 512-byte blocks
constexpr std::uint8_t RefusingStatus = PortStatus::Error;
constexpr int UpdatePages = 2;

enum class TOp { Connect, Read, Write, Verify, Erase, BlankCheck, Unlock, Program, JtagScan, Update };
enum class TFault {
    NoAnswer,
    WrongCheck,
    WrongEcho,
    WrongSequence,
    EchoOnly,
    Oversize,
    Noise,
    HeaderNoise,
    Refused,
    ShortReply,
    DelayUnder,
    DelayOver,
    Vanish,
};
enum class TWhere { First, Middle, Last };

constexpr TOp AllOps[] = {TOp::Connect,    TOp::Read,   TOp::Write,   TOp::Verify,   TOp::Erase,
                          TOp::BlankCheck, TOp::Unlock, TOp::Program, TOp::JtagScan, TOp::Update};
constexpr TFault AllFaults[] = {TFault::NoAnswer, TFault::WrongCheck, TFault::WrongEcho,  TFault::WrongSequence,
                                TFault::EchoOnly, TFault::Oversize,   TFault::Noise,      TFault::HeaderNoise,
                                TFault::Refused,  TFault::ShortReply, TFault::DelayUnder, TFault::DelayOver,
                                TFault::Vanish};

const char* NameOf(TOp op)
{
    constexpr const char* names[] = {"Connect",    "Read",   "Write",   "Verify",   "Erase",
                                     "BlankCheck", "Unlock", "Program", "JtagScan", "Update"};
    return names[static_cast<int>(op)];
}

const char* NameOf(TFault fault)
{
    constexpr const char* names[] = {"NoAnswer",   "WrongCheck", "WrongEcho",   "WrongSequence", "EchoOnly",
                                     "Oversize",   "Noise",      "HeaderNoise", "Refused",       "ShortReply",
                                     "DelayUnder", "DelayOver",  "Vanish"};
    return names[static_cast<int>(fault)];
}

const char* NameOf(TWhere where)
{
    constexpr const char* names[] = {"First", "Middle", "Last"};
    return names[static_cast<int>(where)];
}

std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t k = 0; k < size; ++k)
        bytes[k] = static_cast<std::uint8_t>((k * 7 + seed) ^ (k >> 8));
    return bytes;
}

std::string Hex(std::span<const std::uint8_t> bytes)
{
    std::string text;
    char digits[3];
    for (const auto byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

const std::vector<std::uint8_t>& FlashBefore()
{
    static const auto bytes = Pattern(RegionSize, 3);
    return bytes;
}

const std::vector<std::uint8_t>& Image()
{
    static const auto bytes = Pattern(RegionSize, 101);
    return bytes;
}

json MatrixScenario()
{
    json scenario = test::BaseScenario();
    scenario["devices"][0]["regions"][0]["size"] = RegionSize;
    scenario["devices"][0]["regions"][0]["contents"] = json::array({{{"offset", 0}, {"hex", Hex(FlashBefore())}}});
    return scenario;
}

// The simulator's fault entry for a request: the n-th request with this code.
json FaultAt(TFault fault, std::uint8_t code, int earlierWithCode)
{
    json entry = {{"command", code}, {"skip", earlierWithCode}};
    switch (fault) {
    case TFault::NoAnswer: entry["kind"] = "no_answer"; break;
    case TFault::WrongCheck: entry["kind"] = "wrong_check"; break;
    case TFault::WrongEcho: entry["kind"] = "wrong_echo"; break;
    case TFault::WrongSequence: entry["kind"] = "wrong_sequence"; break;
    case TFault::EchoOnly: entry["kind"] = "echo_only"; break;
    case TFault::Oversize: entry["kind"] = "oversize"; break;
    case TFault::Noise: entry["kind"] = "garbage"; break;
    // A burst that looks like the header of a 4096-byte frame.
    case TFault::HeaderNoise: entry.update({{"kind", "garbage"}, {"bytes", "1B0710000E"}}); break;
    case TFault::Refused: entry.update({{"kind", "status"}, {"status", RefusingStatus}}); break;
    case TFault::ShortReply: entry.update({{"kind", "truncate"}, {"bytes", 0}}); break;
    case TFault::DelayUnder: entry.update({{"kind", "delay"}, {"delay_ms", JustUnder.count()}}); break;
    case TFault::DelayOver: entry.update({{"kind", "delay"}, {"delay_ms", JustOver.count()}}); break;
    case TFault::Vanish: break;
    }
    return entry;
}

class TUpdateLines final : public TUpdateView {
public:
    std::vector<std::string> Lines;
    void AddLine(const std::string& text) override { Lines.push_back(text); }
    void SetProgress(int) override {}
};

// What one run of an operation left behind.
struct TRun {
    std::string Result; // the line the user reads as the outcome
    std::vector<std::string> Prompts;
    std::vector<std::vector<std::uint8_t>> Requests; // all of them, the connection's first
    std::size_t ConnectRequests = 0;
    std::vector<std::size_t> ReplyData; // data bytes of each reply, fault-free runs only
    std::vector<std::uint8_t> Buffer;
    std::vector<std::uint8_t> Flash;
    int PowerOffs = 0;
    std::chrono::milliseconds Took{0};
    bool ClosedState = false; // caption without a port, nothing enabled
    bool PortGoneLogged = false;
    // A fresh connection afterwards: how it ended and whether it gave the
    // whole catalogue.
    std::optional<TConnectResult> Reconnect;
    bool WholeCatalogue = false;
};

std::string ConnectSummary(const TOpsRig& rig)
{
    std::string summary = Format("%d device(s), %d region(s)", static_cast<int>(rig.View.DeviceNames.size()),
                                 static_cast<int>(rig.View.RegionNames.size()));
    if (rig.View.Identity.empty())
        summary += ", no identity";
    if (rig.View.Version == "v0.0")
        summary += ", v0.0";
    return summary;
}

void RunUpdate(TOpsRig& rig, TRun& run)
{
    static const std::vector<std::uint8_t> image = Pattern(static_cast<std::size_t>(UpdatePages) * 2056, 55);
    test::TRecordingClock clock;
    TUpdateLines lines;
    bool done = false;
    bool succeeded = false;
    rig.Connection.SetWatchPort(false);
    {
        TProgramThread worker(rig.Port, rig.Link.Dispatcher, lines, image, clock);
        worker.SetOnDone([&] {
            done = true;
            succeeded = worker.Succeeded();
        });
        worker.Start();
        const auto bound = std::chrono::steady_clock::now() + 60s;
        while (!done && std::chrono::steady_clock::now() < bound)
            rig.Link.Dispatcher.WaitAndRun(50ms);
    }
    rig.Connection.SetWatchPort(true);
    if (!done)
        run.Result = "worker did not end";
    else
        run.Result = succeeded ? "Done" : (lines.Lines.empty() ? "" : lines.Lines.back());
}

void RunOperation(TOp op, TOpsRig& rig, TRun& run)
{
    switch (op) {
    case TOp::Connect: run.Result = ConnectSummary(rig); return;
    case TOp::JtagScan:
        RunJtagScan(rig.Port, rig.View);
        run.Result = rig.View.Log.back();
        return;
    case TOp::Update: RunUpdate(rig, run); return;
    default: break;
    }
    if (op == TOp::Write || op == TOp::Verify || op == TOp::Program)
        std::copy(Image().begin(), Image().end(), rig.View.Buffer.begin());
    if (op == TOp::Verify)
        rig.Link.Sim.SetRegionContents(0, 0, Image());
    // Yes to the confirmation, where there is one; a read error is not ignored.
    if (op == TOp::Write || op == TOp::Erase || op == TOp::Unlock || op == TOp::Program)
        rig.View.Answers = {TAnswer::Yes};
    rig.Click(static_cast<TOperation>(static_cast<int>(op) - static_cast<int>(TOp::Read)));
    run.Result = rig.Runner.Outcome().Last().Line;
}

// The data bytes each reply carried, from the simulator's transcript.
std::vector<std::size_t> ReplyDataSizes(const TOpsRig& rig)
{
    std::vector<std::size_t> sizes;
    for (std::string frame : rig.Link.Frames("A>H")) {
        std::erase(frame, ' ');
        const std::size_t length = std::stoul(frame.substr(4, 4), nullptr, 16);
        sizes.push_back(length >= 2 ? length - 2 : 0);
    }
    return sizes;
}

TRun RunCell(TOp op, const json& scenario, bool learnReplies)
{
    TRun run;
    TOpsRig rig(scenario);
    rig.Port.SetReplyTimeout(ReplyWait);
    rig.Connect();
    if (op != TOp::Connect)
        rig.View.Seen.clear();
    run.ConnectRequests = op == TOp::Connect ? 0 : rig.Link.Sim.RequestPayloads().size();
    const auto started = std::chrono::steady_clock::now();
    RunOperation(op, rig, run);
    run.Took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);

    // A vanished port is closed by the UI thread, which hears of it from the
    // receiver: on a busy machine the receiver may not even have seen the
    // hang-up yet, so the wait is for the port to be closed, not for a time.
    const auto bound = std::chrono::steady_clock::now() + 30s;
    while (scenario.contains("vanish_after") && rig.Port.IsOpen() && std::chrono::steady_clock::now() < bound)
        rig.Link.Dispatcher.WaitAndRun(50ms);
    rig.Link.Dispatcher.RunPending();

    run.Prompts = rig.View.Texts();
    run.Requests = rig.Link.Sim.RequestPayloads();
    if (learnReplies)
        run.ReplyData = ReplyDataSizes(rig);
    run.Buffer = rig.View.Buffer;
    run.Flash = rig.Link.Sim.RegionContents(0, 0);
    run.PowerOffs = rig.Count(Cmd::PowerOff);
    run.ClosedState = rig.View.Caption == TConnection::ProductName && !rig.View.Actions.Allows(TOperation::Read) &&
                      !rig.View.Actions.Allows(TOperation::Write) && !rig.View.Actions.Allows(TOperation::Erase);
    run.PortGoneLogged = rig.LogCount("Port COM1 went away") == 1;
    // A connect that failed closed the port itself; the adapter is still there.
    if (!rig.Port.Vanished() && (rig.Port.IsOpen() || op == TOp::Connect)) {
        run.Reconnect = rig.Connection.Connect(rig.Link.Number);
        run.WholeCatalogue = rig.View.DeviceNames.size() == 1 && rig.View.RegionNames.size() == 1 &&
                             rig.View.Actions.Allows(TOperation::Read) && rig.View.Identity == "Test Adapter 7";
    }
    return run;
}

const TRun& Baseline(TOp op)
{
    static std::map<TOp, TRun> runs;
    auto found = runs.find(op);
    if (found == runs.end())
        found = runs.emplace(op, RunCell(op, MatrixScenario(), true)).first;
    return found->second;
}

// Where a position falls in the operation's own requests (PowerOff, whose
// outcome changes nothing, is not a position).
std::size_t PositionOf(TWhere where, const TRun& baseline)
{
    std::size_t first = baseline.ConnectRequests;
    std::size_t last = baseline.Requests.size() - 1;
    if (baseline.Requests[last][0] == Cmd::PowerOff && last > first)
        --last;
    switch (where) {
    case TWhere::First: return first;
    case TWhere::Middle: return first + (last - first) / 2;
    default: return last;
    }
}

// How the planted fault leaves its request: nullopt when it does no harm,
// else the status the request ends with.
// Which reply of its connection the request's is: the update opens the port
// again after the adapter restarted into its bootloader.
std::size_t ConnectionIndex(std::size_t index, const TRun& baseline)
{
    std::size_t opened = 0;
    for (std::size_t k = baseline.ConnectRequests + 1; k <= index; ++k)
        if (baseline.Requests[k][0] == Cmd::EnterBootloader && baseline.Requests[k - 1][0] == Cmd::EnterBootloader)
            opened = k;
    return index - opened;
}

std::optional<std::uint8_t> FaultStatus(TFault fault, std::size_t index, const TRun& baseline)
{
    const std::size_t replyData = index < baseline.ReplyData.size() ? baseline.ReplyData[index] : 0;
    switch (fault) {
    case TFault::NoAnswer:
    case TFault::WrongCheck:
    case TFault::WrongEcho:
    case TFault::Oversize:
    case TFault::DelayOver: return PortStatus::NoAnswer;
    // The first two replies of a connection teach the endpoint that the
    // adapter echoes the sequence; until then the echo alone decides.
    case TFault::WrongSequence:
        return ConnectionIndex(index, baseline) < 2 ? std::nullopt : std::optional(PortStatus::NoAnswer);
    case TFault::EchoOnly: return PortStatus::BadReplyLength;
    case TFault::Refused: return RefusingStatus;
    case TFault::ShortReply: return replyData > 0 ? std::optional(PortStatus::BadReplyLength) : std::nullopt;
    case TFault::Vanish: return PortStatus::PortNotOpen;
    default: return std::nullopt;
    }
}

bool OnlyFrom(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> either, std::uint8_t orValue)
{
    for (std::size_t k = 0; k < bytes.size(); ++k)
        if (bytes[k] != either[k] && bytes[k] != orValue)
            return false;
    return true;
}

bool AllAre(std::span<const std::uint8_t> bytes, std::uint8_t value)
{
    return std::all_of(bytes.begin(), bytes.end(), [value](auto b) { return b == value; });
}

// What the user must be shown, and what the adapter and the buffer must hold,
// when request `index` of the fault-free run ends with `status`.
struct TExpected {
    std::string Result;
    std::vector<std::string> Prompts;
    int PowerOffs = 0;
};

std::string Text(std::uint8_t status)
{
    return TDevicePort::StatusToText(status);
}

TExpected ExpectConnect(const TRun& base, std::size_t index, std::uint8_t status, bool vanish)
{
    const auto failed = [&](std::uint8_t code) {
        for (std::size_t k = 0; k < base.Requests.size(); ++k)
            if (base.Requests[k][0] == code && (k == index || (vanish && k > index)))
                return true;
        return false;
    };
    TExpected expected;
    if (vanish && index == 0) // both tries at the mode
        return {"0 device(s), 0 region(s), no identity", {"No device found on port COM1"}, 0};
    // A lost adapter, or a version not read, ends the connection with nothing shown.
    const bool lost = vanish || !PortStatus::AdapterAnswered(status);
    const bool lostCatalogue = failed(Cmd::GetDeviceCount) || failed(Cmd::GetDeviceRecord);
    if (failed(Cmd::GetVersion) || (lost && (failed(Cmd::GetIdentity) || lostCatalogue)))
        return {"0 device(s), 0 region(s), no identity", {}, 0};
    const bool noDevice = failed(Cmd::GetDeviceCount) || failed(Cmd::GetDeviceRecord);
    const bool noRegion = noDevice || failed(Cmd::GetRegionRecord);
    expected.Result = Format("%d device(s), %d region(s)", noDevice ? 0 : 1, noRegion ? 0 : 1);
    if (failed(Cmd::GetIdentity))
        expected.Result += ", no identity";
    return expected;
}

TExpected ExpectDriver(TOp op, const TRun& base, std::size_t index, std::uint8_t status)
{
    const auto& request = base.Requests[index];
    std::size_t start = index;
    while (base.Requests[start][0] != Cmd::StartOperation)
        --start;
    const auto stage = static_cast<TOperation>(base.Requests[start][3]);
    TExpected expected;
    expected.Prompts.push_back(base.Prompts.empty() ? "" : base.Prompts.front()); // the confirmation
    if (op == TOp::Read || op == TOp::Verify || op == TOp::BlankCheck)
        expected.Prompts.clear();
    if (request[0] == Cmd::StartOperation) {
        // The start refused: no steps, no power-off, sequence abandoned.
        expected.Result = "Error: " + Text(status);
        return expected;
    }
    // Erase and unlock steps carry no offset.
    const bool block = request.size() >= BlockHeadSize;
    const std::uint32_t offset = block ? GetU32LE(request, 1) : 0;
    const std::string reason = Text(status);
    switch (stage) {
    case TOperation::Read:
        expected.Result = Format("Read failed at offset %X (%s)", offset, reason.c_str());
        if (status != PortStatus::PortNotOpen)
            expected.Prompts.push_back("Read error occured. Ignore this error and continue?");
        break;
    case TOperation::Write: expected.Result = Format("Write failed at offset %X (%s)", offset, reason.c_str()); break;
    case TOperation::Verify: expected.Result = Format("Verify failed at offset %X (%s)", offset, reason.c_str()); break;
    case TOperation::BlankCheck:
        expected.Result = Format("Blank check failed at offset %X (%s)", offset, reason.c_str());
        break;
    case TOperation::Erase: expected.Result = "Erase failed (" + reason + ")"; break;
    default: expected.Result = "Unlocking failed (" + reason + ")"; break;
    }
    if (op == TOp::Program)
        expected.Prompts.push_back("Programming failed");
    expected.PowerOffs = status == PortStatus::PortNotOpen ? 0 : 1;
    return expected;
}

TExpected Expect(TOp op, const TRun& base, std::size_t index, std::optional<std::uint8_t> status, bool vanish)
{
    if (!status)
        return {base.Result, base.Prompts, base.PowerOffs};
    switch (op) {
    case TOp::Connect: return ExpectConnect(base, index, *status, vanish);
    case TOp::JtagScan: return {"JTAG scan failed (" + Text(*status) + ")", {}, 0};
    case TOp::Update: {
        // The bootloader request is tried again within its window; the
        // reset's outcome changes nothing.
        const std::uint8_t code = base.Requests[index][0];
        if ((code == Cmd::EnterBootloader && !vanish) || code == Cmd::ResetAdapter)
            return {"Done", {}, 0};
        return {Format("Failed (%d: ", *status) + Text(*status) + ")", {}, 0};
    }
    default: return ExpectDriver(op, base, index, *status);
    }
}

// The buffer after a Read, the flash after everything else.
void CheckContents(TOp op, const TRun& base, const TRun& run, std::size_t index, bool failed)
{
    if (!failed) {
        EXPECT_EQ(run.Flash, base.Flash) << "the flash differs from the fault-free run";
        if (op == TOp::Read) {
            EXPECT_EQ(run.Buffer, base.Buffer) << "the buffer differs from the region";
        }
        return;
    }
    const auto& request = base.Requests[index];
    const bool block = request[0] >= Cmd::ReadBlock && request[0] <= Cmd::BlankCheckBlock;
    const std::uint32_t offset = block ? GetU32LE(request, 1) : 0;
    const std::uint32_t length = block ? GetU16LE(request, 5) : 0;
    const std::span<const std::uint8_t> flash(run.Flash);
    switch (op) {
    case TOp::Read: {
        // Up to the failed block what the region holds, from there the fill.
        const std::span<const std::uint8_t> buffer(run.Buffer);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + offset, FlashBefore().begin()));
        EXPECT_TRUE(AllAre(buffer.subspan(offset), 0xFF)) << "bytes that were not read must stay 0xFF";
        EXPECT_EQ(run.Flash, FlashBefore());
        break;
    }
    case TOp::Write:
    case TOp::Program:
        if (request[0] == Cmd::WriteBlock) {
            // The image up to the failing block, which may or may not have
            // been written, and erased flash after it.
            EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + offset, Image().begin()));
            EXPECT_TRUE(OnlyFrom(flash.subspan(offset, length), std::span(Image()).subspan(offset, length), 0xFF));
            EXPECT_TRUE(AllAre(flash.subspan(offset + length), 0xFF));
        } else {
            EXPECT_TRUE(OnlyFrom(flash, Image(), 0xFF) || OnlyFrom(flash, FlashBefore(), 0xFF))
                << "nothing but the image or erased bytes";
        }
        break;
    case TOp::Erase:
    case TOp::Unlock: EXPECT_TRUE(OnlyFrom(flash, FlashBefore(), 0xFF)); break;
    case TOp::Verify: EXPECT_EQ(run.Flash, Image()); break;
    default: EXPECT_EQ(run.Flash, FlashBefore()); break;
    }
}

struct TCell {
    TOp Op;
    TFault Fault;
    TWhere Where;
};

void RecordRow(const TCell& cell, const std::string& outcome, bool passed)
{
    const char* path = std::getenv("LINDPROG_FAULT_MATRIX");
    if (path == nullptr)
        return;
    std::ofstream out(path, std::ios::app);
    out << NameOf(cell.Op) << '\t' << NameOf(cell.Fault) << '\t' << NameOf(cell.Where) << '\t' << outcome << '\t'
        << (passed ? "pass" : "FAIL") << '\n';
}

class FaultMatrix : public ::testing::TestWithParam<TCell> {};

TEST_P(FaultMatrix, OperationEndsAsTheUserMustBeTold)
{
    const TCell cell = GetParam();
    const TRun& base = Baseline(cell.Op);
    ASSERT_GT(base.Requests.size(), base.ConnectRequests);
    const std::size_t index = PositionOf(cell.Where, base);
    const std::uint8_t code = base.Requests[index][0];
    const bool vanish = cell.Fault == TFault::Vanish;

    json scenario = MatrixScenario();
    if (vanish) {
        scenario["vanish_after"] = index + 1;
    } else {
        const auto earlier = std::count_if(base.Requests.begin(), base.Requests.begin() + static_cast<long>(index),
                                           [code](const auto& payload) { return payload[0] == code; });
        scenario["faults"] = json::array({FaultAt(cell.Fault, code, static_cast<int>(earlier))});
    }
    const std::optional<std::uint8_t> status = FaultStatus(cell.Fault, index, base);
    const TExpected expected = Expect(cell.Op, base, index, status, vanish);
    const TRun run = RunCell(cell.Op, scenario, false);
    SCOPED_TRACE(Format("request %d (command %d) of %d; result \"%s\"", static_cast<int>(index), code,
                        static_cast<int>(base.Requests.size()), run.Result.c_str()));

    EXPECT_EQ(run.Result, expected.Result);
    EXPECT_EQ(run.Prompts, expected.Prompts);
    if (!vanish && cell.Op != TOp::Connect && cell.Op != TOp::Update && cell.Op != TOp::JtagScan) {
        EXPECT_EQ(run.PowerOffs, expected.PowerOffs) << "power-off requests";
    }
    // One reply time for the request that failed, one for a retry, and the
    // work itself; anything beyond is a hang.
    EXPECT_LT(run.Took, base.Took + 3 * ReplyWait + JustOver + 3s);
    if (cell.Op != TOp::Update)
        CheckContents(cell.Op, base, run, index, status.has_value());
    if (vanish) {
        // The update owns the port and says itself why it failed.
        if (cell.Op != TOp::Update) {
            EXPECT_TRUE(run.ClosedState) << "the window must show the port closed";
            EXPECT_TRUE(run.PortGoneLogged);
        }
    } else if (cell.Op == TOp::Update && expected.Result != "Done") {
        // An update that failed half way leaves the adapter in its bootloader.
        EXPECT_EQ(run.Reconnect, TConnectResult::Bootloader);
    } else {
        EXPECT_EQ(run.Reconnect, TConnectResult::Application);
        EXPECT_TRUE(run.WholeCatalogue) << "a fresh connection after the fault must work";
    }
    RecordRow(cell, run.Result, !::testing::Test::HasFailure());
}

std::vector<TCell> AllCells()
{
    std::vector<TCell> cells;
    for (const TOp op : AllOps)
        for (const TFault fault : AllFaults)
            for (const TWhere where : {TWhere::First, TWhere::Middle, TWhere::Last})
                // The scan is one request: first, middle and last at once.
                if (op != TOp::JtagScan || where == TWhere::First)
                    cells.push_back({op, fault, where});
    return cells;
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix, ::testing::ValuesIn(AllCells()),
                         [](const ::testing::TestParamInfo<TCell>& info) {
                             return std::string(NameOf(info.param.Op)) + "_" + NameOf(info.param.Fault) + "_" +
                                    NameOf(info.param.Where);
                         });

} // namespace
} // namespace lindprog
