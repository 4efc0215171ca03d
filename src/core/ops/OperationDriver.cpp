#include "core/ops/OperationDriver.h"

#include "core/base/Stm32Crc.h"
#include "core/base/TextFormat.h"
#include "core/link/Adapter.h"
#include "core/ops/Operation.h"
#include "core/settings/Settings.h"

#include <algorithm>
#include <charconv>
#include <chrono>

namespace lindprog {

namespace {

constexpr std::uint64_t SpeedUpdateMicros = 500'000;
constexpr double MicrosPerSecond = 1'000'000.0;

std::uint64_t SteadyTick()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

std::string WithHexOffset(const std::string& line)
{
    constexpr std::string_view Marker = " failed at offset ";
    const std::size_t at = line.find(Marker);
    if (at == std::string::npos)
        return line;
    const std::size_t digits = at + Marker.size();
    std::uint32_t offset = 0;
    const auto [end, error] = std::from_chars(line.data() + digits, line.data() + line.size(), offset, 16);
    if (error != std::errc() || end == line.data() + digits)
        return line;
    return line.substr(0, digits) + Format("0x%08X", offset) + std::string(end, line.data() + line.size());
}

std::uint16_t BlockLengthAt(std::uint32_t offset, std::uint16_t blockLength, std::uint64_t regionSize)
{
    // In 64 bits: near the end of a region of almost 4 GiB the 32-bit sum
    // would wrap and send a whole block past the region's end.
    const std::uint64_t end = std::uint64_t{offset} + blockLength;
    if (end <= regionSize)
        return blockLength;
    return static_cast<std::uint16_t>(regionSize > offset ? regionSize - offset : 0);
}

namespace {

bool Chosen(std::span<const std::uint8_t> block, TBlockChoice choice)
{
    if (choice == TBlockChoice::All)
        return true;
    const bool erased = std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0xFF; });
    return erased == (choice == TBlockChoice::Erased);
}

} // namespace

bool SendsAnyBlock(std::span<const std::uint8_t> buffer, TBlockChoice choice)
{
    if (choice == TBlockChoice::All)
        return true;
    for (std::uint64_t offset = 0; offset < buffer.size();) {
        const auto length =
            BlockLengthAt(static_cast<std::uint32_t>(offset), TOperationDriver::FullBlock, buffer.size());
        if (Chosen(buffer.subspan(offset, length), choice))
            return true;
        offset += length;
    }
    return false;
}

double TStageProgress::SecondsLeft() const
{
    const double speed = BytesPerSecond();
    return speed > 0 && Total > Bytes ? (Total - Bytes) / speed : 0.0;
}

TOperationDriver::TOperationDriver(TAdapter& port, TSettings& settings, TLogSink& log, TPrompts& prompts,
                                   TRunView& view, TTick tick)
    : Port(port), Settings(settings), Log(log), Prompts(prompts), View(view),
      Tick(tick ? std::move(tick) : TTick(SteadyTick))
{
}

double TOperationDriver::SecondsRunning() const
{
    return static_cast<double>(Tick() - StartTick) / MicrosPerSecond;
}

bool TOperationDriver::Begin(TOperation stage, const TOperationTarget& target, TBlockChoice blocks)
{
    Operation = stage;
    Target = target;
    // Only the stages that send the buffer or check for 0xFF can leave blocks out.
    const bool choosable = stage == TOperation::Write || stage == TOperation::Verify || stage == TOperation::BlankCheck;
    Blocks = choosable ? blocks : TBlockChoice::All;
    if (Operation == TOperation::Read) {
        std::fill(Target.Buffer.begin(), Target.Buffer.end(), std::uint8_t{0xFF});
        View.BufferReplaced();
    }
    Log.AddLogLine("Starting operation");
    Log.AddLogLine("Pause for voltage setting");
    if (!StartOnAdapter())
        return false;
    Log.AddLogLine(std::string(OperationInfo(Operation).StageName) + " device...");
    Offset = 0;
    Handled = 0;
    BlocksSent = 0;
    BlocksSkipped = 0;
    ReadCrc = CrcStart;
    StartTick = LastTick = Tick();
    BlockLen = FullBlock;
    BlockErrors = 0;
    FailedReads.clear();
    GoodReads = 0;
    NoAnswersInARow = 0;
    LastStatus = PortStatus::Ok;
    IgnoreReadErrors = false;
    return true;
}

bool TOperationDriver::StartOnAdapter()
{
    const TReply<TStartOperationReply> reply = Port.StartOperation(
        {Target.DeviceIndex, Target.RegionIndex, Operation, Settings.JtagDelay, Target.VoltageCode});
    LogStartReply(reply);
    const std::uint8_t status = reply.Status;
    if (status == PortStatus::DeviceLocked) {
        Log.AddLogLine("WARNING: device is locked!");
        return true;
    }
    if (status != PortStatus::Ok) {
        LastOutcome = {};
        LastOutcome.Stage = Operation;
        LastOutcome.RegionIndex = Target.RegionIndex;
        LastOutcome.Status = status;
        LastOutcome.StatusText = Port.TextOf(status);
        Report(Format("Error: %s", LastOutcome.StatusText.c_str()));
        return false;
    }
    return true;
}

void TOperationDriver::LogStartReply(const TReply<TStartOperationReply>& reply)
{
    // The four values are shown only for an accepted start; a refusal still
    // carries the adapter's lines, a reply cut before its values nothing.
    if (!PortStatus::AdapterAnswered(reply.Status))
        return;
    if (reply.Ok())
        Log.AddLogLine(FormatJtagDetect(reply.Value));
    for (const auto& line : reply.Value.InfoLines)
        Log.AddLogLine(line);
}

bool TOperationDriver::ActionStep(int& percent)
{
    percent = 0;
    if (GoodReads == GoodReadsToRecover && BlockLen != FullBlock) {
        BlockLen = FullBlock;
        Log.AddLogLine(Format("Setting read block size to %d bytes", FullBlock));
    }
    // A region of size 0 has no block to send.
    if (OperationInfo(Operation).Blocks && Offset >= Target.Buffer.size())
        return false;
    BlockLen = BlockLengthAt(Offset, BlockLen, Target.Buffer.size());
    if (Blocks != TBlockChoice::All && !SkipUnchosenBlocks(percent))
        return false;

    bool more = false;
    switch (Operation) {
    case TOperation::Read: more = StepRead(percent); break;
    case TOperation::Write:
    case TOperation::Verify: more = StepTransfer(percent); break;
    case TOperation::BlankCheck: more = StepBlankCheck(percent); break;
    default: more = StepRepeat(); break;
    }
    UpdateSpeed();
    return more;
}

bool TOperationDriver::StepRead(int& percent)
{
    const auto block = Target.Buffer.subspan(Offset, BlockLen);
    const bool succeeded = Port.ReadBlock(Offset, BlockLen, block);
    LastStatus = Port.Status();
    NoAnswersInARow = LastStatus == PortStatus::NoAnswer ? NoAnswersInARow + 1 : 0;
    if (succeeded) {
        ++GoodReads;
    } else {
        GoodReads = 0;
        // A port that went away answers nothing more, nor does an adapter
        // silent for several blocks in a row: asking whether to ignore that,
        // block after block, would only fill the log (and the hours).
        if (LastStatus == PortStatus::PortNotOpen || NoAnswersInARow >= NoAnswersToGiveUp)
            return false;
        if (!IgnoreReadErrors) {
            // Closing the box with its close box counts as going on.
            if (Prompts.AskConfirmButton("Read error occured. Ignore this error and continue?") == TAnswer::No)
                return false;
            IgnoreReadErrors = true;
        }
        if (BlockLen > SmallBlock) {
            BlockLen = SmallBlock;
            Log.AddLogLine(Format("Lowering read block size to %d bytes", SmallBlock));
            return true; // the same offset again, in small blocks
        }
        Log.AddLogLine(Format("Read block (%d bytes) failed at %X (%s)", BlockLen, Offset, Port.StatusText().c_str()));
        SkipFailedBlock();
    }
    ReadCrc = CrcUpdateBytes(ReadCrc, Target.Buffer.subspan(Offset, BlockLen));
    return Advance(percent);
}

void TOperationDriver::SkipFailedBlock()
{
    // The block keeps its 0xFF fill except for bytes the failed reply really
    // carried: a missing answer leaves only an earlier reply's data behind.
    const auto carried = Port.FailedReadData();
    std::copy_n(carried.begin(), std::min<std::size_t>(BlockLen, carried.size()), Target.Buffer.begin() + Offset);
    Port.ClearStatus();
    LastStatus = PortStatus::Ok;
    ++BlockErrors;
    FailedReads.push_back({Offset, BlockLen});
}

bool TOperationDriver::StepTransfer(int& percent)
{
    const auto block = Target.Buffer.subspan(Offset, BlockLen);
    const bool succeeded = Operation == TOperation::Write ? Port.WriteBlock(Offset, BlockLen, block)
                                                          : Port.VerifyBlock(Offset, BlockLen, block);
    LastStatus = Port.Status();
    return succeeded && Advance(percent);
}

bool TOperationDriver::StepBlankCheck(int& percent)
{
    const bool succeeded = Port.BlankCheckBlock(Offset, BlockLen);
    LastStatus = Port.Status();
    return succeeded && Advance(percent);
}

bool TOperationDriver::StepRepeat()
{
    if (Operation == TOperation::Erase)
        Port.EraseStep();
    else
        Port.UnlockStep();
    LastStatus = Port.Status();
    return LastStatus == PortStatus::NotReady;
}

bool TOperationDriver::SkipUnchosenBlocks(int& percent)
{
    const std::uint64_t size = Target.Buffer.size();
    while (Offset < size && !Chosen(Target.Buffer.subspan(Offset, BlockLen), Blocks)) {
        Offset += BlockLen;
        ++BlocksSkipped;
        BlockLen = BlockLengthAt(Offset, BlockLen, size);
    }
    percent = static_cast<int>(std::uint64_t{Offset} * 100 / size);
    return Offset < size;
}

bool TOperationDriver::Advance(int& percent)
{
    // Offset + BlockLen never passes the region's size, which fits 32 bits.
    Offset += BlockLen;
    Handled += BlockLen;
    ++BlocksSent;
    const std::uint64_t size = Target.Buffer.size();
    percent = static_cast<int>(std::uint64_t{Offset} * 100 / size);
    return Offset < size;
}

void TOperationDriver::UpdateSpeed()
{
    const std::uint64_t now = Tick();
    if (now - LastTick <= SpeedUpdateMicros)
        return;
    LastTick = now;
    if ((Operation == TOperation::Read || Operation == TOperation::Write) && LastTick != StartTick)
        View.ShowSpeed(static_cast<std::uint32_t>(std::uint64_t{Handled} * 1'000'000 / (LastTick - StartTick)));
}

double TOperationDriver::Speed() const
{
    const std::uint64_t elapsed = LastTick - StartTick;
    if (elapsed == 0)
        return 0.0;
    return static_cast<double>(Handled) * MicrosPerSecond / (static_cast<double>(elapsed) * 1024.0);
}

const TStageOutcome& TOperationDriver::Finish(bool cancelled)
{
    LastTick = Tick();
    View.BufferReplaced();
    LastOutcome = {};
    LastOutcome.Stage = Operation;
    LastOutcome.RegionIndex = Target.RegionIndex;
    LastOutcome.Started = true;
    LastOutcome.Cancelled = cancelled;
    LastOutcome.Status = LastStatus;
    LastOutcome.StatusText = Port.TextOf(LastStatus);
    LastOutcome.Bytes = Handled;
    LastOutcome.Crc = ReadCrc;
    LastOutcome.Blocks = Blocks;
    LastOutcome.BlocksSent = BlocksSent;
    LastOutcome.BlocksSkipped = BlocksSkipped;
    LastOutcome.FailedReads = FailedReads;
    LastOutcome.Seconds = static_cast<double>(LastTick - StartTick) / MicrosPerSecond;
    ReportResult(cancelled);
    return LastOutcome;
}

void TOperationDriver::ReportResult(bool cancelled)
{
    if (cancelled) {
        Report("Canceled");
        return;
    }
    const TOperationInfo& info = OperationInfo(Operation);
    const std::string& reason = LastOutcome.StatusText;
    if (LastStatus != PortStatus::Ok) {
        Report(info.Blocks ? Format("%s failed at offset %X (%s)", info.FailedName, Offset, reason.c_str())
                           : Format("%s failed (%s)", info.FailedName, reason.c_str()));
        return;
    }
    if (Operation == TOperation::Read) {
        Report(Format("Successfully read %u bytes, CRC32 = %.08X, speed %.1f kB/s", Handled, ReadCrc, Speed()));
        if (IgnoreReadErrors && BlockErrors > 0)
            Log.AddLogLine(Format("Block read error count: %d", BlockErrors));
        return;
    }
    Report(info.Blocks ? Format("%s, %u bytes %s, speed %.1f kB/s", info.DoneText, Handled, info.CountVerb, Speed())
                       : std::string(info.DoneText));
    if (Blocks == TBlockChoice::Data)
        Log.AddLogLine(Format("%u blocks holding data, %u erased blocks left out", BlocksSent, BlocksSkipped));
    else if (Blocks == TBlockChoice::Erased)
        Log.AddLogLine(
            Format("%u erased blocks proven blank, %u blocks holding data left out", BlocksSent, BlocksSkipped));
}

void TOperationDriver::Report(const std::string& line)
{
    LastOutcome.Line = line;
    Log.AddLogLine(line);
}

} // namespace lindprog
