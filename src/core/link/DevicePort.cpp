#include "core/link/DevicePort.h"

#include "core/base/LittleEndian.h"
#include "core/base/UiDispatcher.h"

#include <algorithm>
#include <cstdio>

namespace lindprog {

namespace {

// A ReadBlock names its count in its head; a reply with more data bytes than
// that does not answer it.
int ExpectedDataLength(std::span<const std::uint8_t> request)
{
    if (request.size() < BlockHeadSize || request[0] != Cmd::ReadBlock)
        return -1;
    return GetU16LE(request, 5);
}

} // namespace

TDevicePort::TDevicePort(TPortNames& portNames, TUiDispatcher& dispatcher)
    : Com(portNames), Dispatcher(dispatcher), Alive(std::make_shared<TDevicePort*>(this)),
      Frames([this] { CompleteFrame(); })
{
    SendBuffer.reserve(FrameHeaderSize + MaxPayload + 1);
}

TDevicePort::~TDevicePort()
{
    Close();
}

bool TDevicePort::Open(int portNumber)
{
    std::lock_guard use(UseMutex);
    Close();
    if (!Com.Open(portNumber))
        return false;
    Frames.Reset();
    Com.ClearCancel();
    {
        std::lock_guard lock(Mutex);
        PortGone = false;
        Interrupted = false;
        // A new connection may be another adapter: it shows again whether it
        // echoes the sequence.
        EchoedInARow = 0;
        CheckSequence = false;
        Unnumbered = false;
        UnnumberedReported = false;
    }
    const std::uint64_t generation = ++Generation;
    std::weak_ptr<TDevicePort*> alive = Alive;
    TUiDispatcher& dispatcher = Dispatcher;
    Receiver = std::make_unique<TSerialThread>(*this, [alive, generation, &dispatcher] {
        dispatcher.Post([alive, generation] {
            if (auto port = alive.lock())
                (*port)->ReceiverEnded(generation);
        });
    });
    Receiver->Start();
    return Com.IsOpen();
}

void TDevicePort::Close()
{
    std::lock_guard use(UseMutex);
    if (Receiver) {
        Receiver->Terminate();
        Receiver->WaitFor();
        Receiver.reset();
    }
    // The fd is closed only after the receiver has been joined, so no read is
    // ever in progress on a closed descriptor.
    Com.Close();
}

void TDevicePort::ReceiverEnded(std::uint64_t generation)
{
    // A notification from a receiver of an earlier Open must not close the
    // port that has been opened since.
    std::lock_guard use(UseMutex);
    if (generation != Generation || !IsOpen())
        return;
    Close();
    if (OnVanished)
        OnVanished();
}

bool TDevicePort::Vanished() const
{
    std::lock_guard lock(Mutex);
    return PortGone;
}

bool TDevicePort::SequenceChecked() const
{
    std::lock_guard lock(Mutex);
    return CheckSequence;
}

void TDevicePort::ReceiverGone()
{
    {
        std::lock_guard lock(Mutex);
        PortGone = true;
    }
    ReplyArrived.notify_all();
}

void TDevicePort::Interrupt()
{
    {
        std::lock_guard lock(Mutex);
        Interrupted = true;
    }
    ReplyArrived.notify_all();
}

bool TDevicePort::InterruptedNow() const
{
    std::lock_guard lock(Mutex);
    return Interrupted;
}

bool TDevicePort::FailRequest(std::uint8_t status)
{
    std::lock_guard lock(Mutex);
    StatusByte = status;
    return false;
}

bool TDevicePort::SendRequest(std::span<const std::uint8_t> request, std::span<const std::uint8_t> extra)
{
    std::lock_guard use(UseMutex);
    // A port that went away is as good as closed, though the UI thread may
    // not have closed it yet: nothing would answer.
    if (!Com.IsOpen() || Vanished())
        return FailRequest(PortStatus::PortNotOpen);
    if (!Receiver || Receiver->Terminated() || request.empty() || InterruptedNow())
        return FailRequest(PortStatus::NoAnswer);

    BuildFrame(SendBuffer, ++SequenceCounter, request, extra);
    {
        std::lock_guard lock(Mutex);
        StatusByte = PortStatus::NoAnswer;
        LastCommand = request[0];
        LastSequence = SequenceCounter;
        Answered = false;
        RequestBegan = std::chrono::steady_clock::now();
        ++RequestCount;
        ExpectedData = ExpectedDataLength(request);
        Awaiting = true;
    }
    const auto sent = std::chrono::steady_clock::now();
    std::size_t written = SendBuffer.size();
    bool succeeded = false;
    if (!Com.Write(SendBuffer.data(), written)) {
        std::lock_guard lock(Mutex);
        Awaiting = false;
        StatusByte = PortStatus::PortWriteError;
    } else {
        std::unique_lock lock(Mutex);
        ReplyArrived.wait_for(lock, ReplyTimeout, [this] { return Answered || PortGone || Interrupted; });
        Awaiting = false;
        // The port's own reason, not the adapter's silence.
        if (!Answered && PortGone)
            StatusByte = PortStatus::PortNotOpen;
        succeeded = Answered && StatusByte == PortStatus::Ok;
    }
    if (Trace)
        TraceRequest(SendBuffer, sent);
    ReportUnnumbered();
    return succeeded;
}

void TDevicePort::TraceRequest(std::span<const std::uint8_t> frame, std::chrono::steady_clock::time_point sent)
{
    // The head of the frame is enough to tell requests apart; block data
    // would drown the trace.
    constexpr std::size_t ShownBytes = 16;
    std::string line = "> ";
    char hex[4];
    for (std::size_t k = 0; k < frame.size() && k < ShownBytes; ++k) {
        std::snprintf(hex, sizeof hex, "%02X ", frame[k]);
        line += hex;
    }
    if (frame.size() > ShownBytes)
        line += "... ";
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
    const std::uint8_t status = Status();
    char outcome[128];
    std::snprintf(outcome, sizeof outcome, "(%zu bytes) < status %d (%s), %zu data bytes, %lld ms", frame.size(),
                  status, StatusToText(status).c_str(), ReplyDataLength(), static_cast<long long>(elapsed.count()));
    Trace(line + outcome);
}

bool TDevicePort::SendCommand(std::uint8_t code)
{
    const std::uint8_t request[] = {code};
    return SendRequest(request);
}

bool TDevicePort::SendCommand(std::uint8_t code, std::uint8_t p1)
{
    const std::uint8_t request[] = {code, p1};
    return SendRequest(request);
}

bool TDevicePort::SendCommand(std::uint8_t code, std::uint8_t p1, std::uint8_t p2)
{
    const std::uint8_t request[] = {code, p1, p2};
    return SendRequest(request);
}

std::uint8_t TDevicePort::Status() const
{
    std::lock_guard lock(Mutex);
    return StatusByte;
}

void TDevicePort::ClearStatus()
{
    std::lock_guard lock(Mutex);
    StatusByte = PortStatus::Ok;
}

void TDevicePort::FeedBytes(std::span<const std::uint8_t> bytes)
{
    const auto readAt = std::chrono::steady_clock::now();
    bool newRequest = false;
    {
        std::lock_guard lock(Mutex);
        newRequest = FedRequest != RequestCount;
        FedRequest = RequestCount;
        FedEarly = readAt < RequestBegan;
    }
    // A frame begun before the request went out is no answer to it, however
    // it ends; bytes read before then (the receiver may lag) complete none.
    if (newRequest)
        Frames.Reset();
    Frames.Feed(bytes);
}

void TDevicePort::LineIdle(std::chrono::nanoseconds idle)
{
    Frames.LineIdle(idle);
}

void TDevicePort::CompleteFrame()
{
    // A frame without payload carries no echo; it never matches a request.
    if (Frames.Length() == 0)
        return;
    {
        std::lock_guard lock(Mutex);
        if (!Awaiting || Answered || Frames.Buffer()[0] != LastCommand)
            return;
        if (FedEarly)
            return;
        // A good reply with more data than asked answers another request; one
        // with less is taken, and fails the read as too short (CheckReply).
        const bool good = Frames.Length() >= 2 && Frames.Buffer()[1] == PortStatus::Ok;
        if (good && ExpectedData >= 0 && Frames.Length() - 2 > ExpectedData)
            return;
        if (!AcceptSequence(Frames.Sequence()))
            return;
        if (Frames.Length() < 2) {
            StatusByte = PortStatus::BadReplyLength;
        } else {
            StatusByte = Frames.Buffer()[1];
            ReplyArea = Frames.Buffer();
            ReplyLength = static_cast<std::size_t>(Frames.Length());
        }
        Answered = true;
    }
    ReplyArrived.notify_all();
}

bool TDevicePort::AcceptSequence(std::uint8_t sequence)
{
    const bool echoed = sequence == LastSequence;
    if (CheckSequence)
        return echoed;
    // Two in a row, because one match can be chance: an adapter that sends
    // a fixed byte meets our counter once every 256 requests.
    EchoedInARow = echoed ? EchoedInARow + 1 : 0;
    CheckSequence = EchoedInARow >= 2;
    Unnumbered = Unnumbered || !echoed;
    return true;
}

void TDevicePort::ReportUnnumbered()
{
    {
        std::lock_guard lock(Mutex);
        if (!Unnumbered || UnnumberedReported || CheckSequence)
            return;
        UnnumberedReported = true;
    }
    std::weak_ptr<TDevicePort*> alive = Alive;
    Dispatcher.Post([alive] {
        if (auto port = alive.lock(); port && (*port)->OnNotice)
            (*port)->OnNotice(UnnumberedNotice);
    });
}

std::string TDevicePort::StatusToText(std::uint8_t status)
{
    const std::string_view text = PortStatus::Text(status);
    if (text.empty())
        return "Unknown error " + std::to_string(status);
    return std::string(text);
}

bool TDevicePort::GetMode()
{
    const auto reply = Send(TGetMode{});
    ModeByte = reply.Value;
    return reply.Ok();
}

bool TDevicePort::GetIdentity()
{
    auto reply = Send(TGetIdentity{});
    IdentityText = std::move(reply.Value);
    return reply.Ok();
}

bool TDevicePort::GetVersion()
{
    const auto reply = Send(TGetVersion{});
    Major = reply.Value.Major;
    Minor = reply.Value.Minor;
    return reply.Ok();
}

bool TDevicePort::GetKey()
{
    auto reply = Send(TGetKey{});
    Key = std::move(reply.Value);
    return reply.Ok();
}

bool TDevicePort::ReadBlock(std::uint32_t offset, std::uint16_t count, std::span<std::uint8_t> destination)
{
    if (destination.size() < count || count > ReplySize - 2)
        return FailRequest(PortStatus::BadParameter);
    const auto block = Send(TReadBlock{offset, count});
    std::copy(block.Value.begin(), block.Value.end(), destination.begin());
    return block.Ok();
}

bool TDevicePort::WriteBlock(std::uint32_t offset, std::uint16_t count, std::span<const std::uint8_t> source)
{
    // The request is one head and at most 2048 data bytes; a caller asking for
    // more, or handing less data than it names, gets a parameter error rather
    // than a frame that reads past its source.
    if (count > MaxWriteBlock || source.size() < count)
        return FailRequest(PortStatus::BadParameter);
    return Send(TWriteBlock{offset, count, source.first(count)}).Ok();
}

bool TDevicePort::VerifyBlock(std::uint32_t offset, std::uint16_t count, std::span<const std::uint8_t> source)
{
    if (source.size() < count || BlockHeadSize + count > MaxPayload - 6)
        return FailRequest(PortStatus::BadParameter);
    return Send(TVerifyBlock{offset, count, source.first(count)}).Ok();
}

bool TDevicePort::BlankCheckBlock(std::uint32_t offset, std::uint16_t count)
{
    return Send(TBlankCheckBlock{offset, count}).Ok();
}

std::span<const std::uint8_t> TDevicePort::FailedReadData() const
{
    // Without an answer the reply area holds an earlier reply's bytes.
    return PortStatus::AdapterAnswered(Status()) ? CarriedReplyData() : std::span<const std::uint8_t>();
}

TReply<std::uint8_t> TDevicePort::DeviceCount()
{
    return Send(TGetDeviceCount{});
}

TReply<TDeviceRecord> TDevicePort::DeviceRecord(std::uint8_t device)
{
    return Send(TGetDeviceRecord{device});
}

TReply<TRegionRecord> TDevicePort::RegionRecord(std::uint8_t device, std::uint8_t region)
{
    return Send(TGetRegionRecord{device, region});
}

TReply<TStartOperationReply> TDevicePort::StartOperation(const TStartOperation& start)
{
    return Send(start);
}

TReply<TJtagScanReply> TDevicePort::JtagScan()
{
    return Send(TJtagScan{});
}

TReply<TBootloaderArea> TDevicePort::EnterBootloader()
{
    return Send(TEnterBootloader{});
}

} // namespace lindprog
