#pragma once
// The one endpoint towards the adapter: frames a request, writes it, and
// blocks the calling thread until the reply with the same command echo has
// arrived or 5000 ms have passed. The outcome of every request is one status
// byte: the adapter's own code, or 252..255 set by the endpoint.
//
// Hand-over between the requesting thread and the receiver is one mutex and
// one condition variable. The receiver stores a reply only while a request is
// outstanding, so it can never change Status or Reply while the requesting
// thread reads them.
//
// The command echo alone cannot tell a late, duplicated or unsolicited reply
// from the answer: a ReadBlock reply that comes in after its request timed
// out would complete the next ReadBlock with another block's bytes. The
// adapter echoes the request's sequence byte, so once two replies in a row
// have carried their request's sequence, a reply with any other sequence is
// dropped. An adapter that does not echo it never gets there and is matched
// by the echo alone, as it always was.

#include "core/link/Adapter.h"
#include "core/link/AdapterCommands.h"
#include "core/link/Com.h"
#include "core/link/Frame.h"
#include "core/link/PortStatus.h"
#include "core/link/SerialThread.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace lindprog {

class TUiDispatcher;
class TPortNames;

class TDevicePort final : public TAdapter {
public:
    // How long a request waits for its reply. Tests shorten it so that the
    // no-answer cases run in milliseconds; the program never changes it.
    static constexpr std::chrono::milliseconds DefaultReplyTimeout{5000};
    static constexpr std::size_t ReplySize = MaxPayload;

    TDevicePort(TPortNames& portNames, TUiDispatcher& dispatcher);
    ~TDevicePort() override;
    TDevicePort(const TDevicePort&) = delete;
    TDevicePort& operator=(const TDevicePort&) = delete;

    bool Open(int portNumber) override;
    void Close() override;
    bool IsOpen() const override { return Com.IsOpen(); }
    // The receiver saw the port go away (unplugged); requests fail at once
    // with PortNotOpen until the port is opened again.
    bool Vanished() const override;
    // Runs on the UI thread after a port that went away has been closed
    // there, so the front end can show its closed state.
    void SetOnVanished(std::function<void()> onVanished) { OnVanished = std::move(onVanished); }
    // Whether replies are matched by their sequence byte on this connection.
    bool SequenceChecked() const;
    // Runs on the UI thread with a line for the log, once per connection, when
    // the adapter answers without echoing the sequence: its replies can then
    // not be told from stale ones by more than their command and length.
    void SetOnNotice(std::function<void(const std::string& line)> onNotice) { OnNotice = std::move(onNotice); }
    static constexpr const char* UnnumberedNotice =
        "The adapter does not number its replies; they cannot be checked against their requests";
    int PortNumber() const { return Com.PortNumber(); }
    const TCom& Port() const { return Com; }

    bool SendRequest(std::span<const std::uint8_t> request, std::span<const std::uint8_t> extra = {});
    bool SendCommand(std::uint8_t code);
    bool SendCommand(std::uint8_t code, std::uint8_t p1);
    bool SendCommand(std::uint8_t code, std::uint8_t p1, std::uint8_t p2);

    void SetReplyTimeout(std::chrono::milliseconds timeout) { ReplyTimeout = timeout; }
    // From any thread: the request waiting for its reply gives up at once, and
    // every request after it fails without being sent (No answer), until the
    // port is opened again. For a front end that goes away, or leaves this
    // port for another, while a silent adapter would hold it for seconds.
    void Interrupt() override;

    // Called on the requesting thread after every request with one line that
    // names the request's bytes and its outcome; for the command line's -v.
    using TTrace = std::function<void(const std::string& line)>;
    void SetTrace(TTrace trace) { Trace = std::move(trace); }

    std::uint8_t Status() const override;
    void ClearStatus() override;
    std::string StatusText() const override { return StatusToText(Status()); }
    std::string TextOf(std::uint8_t status) const override { return StatusToText(status); }
    static std::string StatusToText(std::uint8_t status);

    // The last accepted reply payload: echo, status, data. Read it only after
    // a request has returned and only when Status is one the adapter sent.
    std::span<const std::uint8_t> Reply() const { return ReplyArea; }
    std::span<const std::uint8_t> ReplyData() const { return std::span(ReplyArea).subspan(2); }
    // How many data bytes the last accepted reply really carried; the rest of
    // ReplyData is left over from earlier, longer replies.
    std::size_t ReplyDataLength() const { return ReplyLength > 2 ? ReplyLength - 2 : 0; }
    std::span<const std::uint8_t> CarriedReplyData() const { return ReplyData().first(ReplyDataLength()); }
    // The one generic send: sends a command type (AdapterCommands.h) and
    // checks its reply with CheckReply. The request ends with the status the
    // check gives, so Status() and StatusText() tell the same as the result.
    template <typename TCommand>
    TReply<typename TCommand::TValue> Send(const TCommand& command);

    // Typed queries over Send: each sets its field from the reply, zero or
    // empty when the query fails; a reply too short for it fails with
    // BadReplyLength.
    bool GetMode() override;
    bool GetIdentity() override;
    bool GetVersion() override;
    bool GetKey() override;
    bool ReadBlock(std::uint32_t offset, std::uint16_t count, std::span<std::uint8_t> destination) override;
    std::span<const std::uint8_t> FailedReadData() const override;
    bool WriteBlock(std::uint32_t offset, std::uint16_t count, std::span<const std::uint8_t> source) override;
    bool VerifyBlock(std::uint32_t offset, std::uint16_t count, std::span<const std::uint8_t> source) override;
    bool BlankCheckBlock(std::uint32_t offset, std::uint16_t count) override;
    bool EraseStep() override { return Send(TEraseStep{}).Ok(); }
    bool UnlockStep() override { return Send(TUnlockStep{}).Ok(); }
    bool PowerOff() override { return Send(TPowerOff{}).Ok(); }
    bool ResetAdapter() { return Send(TResetAdapter{}).Ok(); }
    bool ProgramPage(std::span<const std::uint8_t> pageRecord) { return Send(TProgramPage{pageRecord}).Ok(); }
    TReply<std::uint8_t> DeviceCount() override;
    TReply<TDeviceRecord> DeviceRecord(std::uint8_t device) override;
    TReply<TRegionRecord> RegionRecord(std::uint8_t device, std::uint8_t region) override;
    TReply<TStartOperationReply> StartOperation(const TStartOperation& start) override;
    TReply<TJtagScanReply> JtagScan() override;
    // Status NotReady means the adapter is restarting into its bootloader
    // (ask again once the port is back); Ok gives its area.
    TReply<TBootloaderArea> EnterBootloader();

    std::uint8_t Mode() const override { return ModeByte; }
    const std::string& Identity() const override { return IdentityText; }
    std::uint8_t VersionMajor() const override { return Major; }
    std::uint8_t VersionMinor() const override { return Minor; }
    const std::string& KeyText() const override { return Key; }
    std::uint8_t Sequence() const { return SequenceCounter; }

private:
    friend class TSerialThread;
    // Receiver side: every byte read goes through the frame machine.
    void FeedBytes(std::span<const std::uint8_t> bytes);
    // The line has carried nothing for `idle`; a frame stuck half way goes.
    void LineIdle(std::chrono::nanoseconds idle);
    void CompleteFrame();
    // Runs on the UI thread after a receiver ended by itself (port gone).
    void ReceiverEnded(std::uint64_t generation);
    // Runs on the receiver thread when the port went away: a request waiting
    // for its reply gives up at once instead of waiting out the reply time.
    void ReceiverGone();
    bool FailRequest(std::uint8_t status);
    bool InterruptedNow() const;
    // Receiver side, under Mutex: whether a frame with this sequence may
    // answer the outstanding request, learning whether the adapter echoes.
    bool AcceptSequence(std::uint8_t sequence);
    // Posts UnnumberedNotice the first time this connection showed it.
    void ReportUnnumbered();
    void TraceRequest(std::span<const std::uint8_t> frame, std::chrono::steady_clock::time_point sent);

    TCom Com;
    TUiDispatcher& Dispatcher;
    std::unique_ptr<TSerialThread> Receiver;
    std::uint64_t Generation = 0;        // which Open a receiver notification belongs to
    std::shared_ptr<TDevicePort*> Alive; // lets posted notifications outlive us safely

    TFrameReceiver Frames; // receiver thread only
    // Receiver thread only: the request the last bytes were read under, and
    // whether they were read before it began to go out.
    std::uint64_t FedRequest = 0;
    bool FedEarly = false;

    // Held by whoever uses the port (Open, Close, a request, the end-of-thread
    // notification), so the UI thread closing a vanished port never pulls it
    // from under a request of the firmware update worker. Recursive because
    // Open closes first and the typed queries send requests.
    std::recursive_mutex UseMutex;

    mutable std::mutex Mutex; // the hand-over with the receiver
    std::condition_variable ReplyArrived;
    bool Awaiting = false; // a request is outstanding
    bool Answered = false; // its reply came in
    // When the request began to go out, and which one it is: bytes read
    // before then cannot answer it.
    std::chrono::steady_clock::time_point RequestBegan{};
    std::uint64_t RequestCount = 0;
    // The data bytes a good reply to it carries, where the request names them
    // (ReadBlock); -1 where any length may answer.
    int ExpectedData = -1;
    bool PortGone = false;    // the receiver ended because the port went away
    bool Interrupted = false; // Interrupt() since the last Open
    std::uint8_t LastCommand = 0;
    std::uint8_t LastSequence = 0;
    int EchoedInARow = 0;       // replies that carried their request's sequence
    bool CheckSequence = false; // two in a row did: the adapter echoes it
    bool Unnumbered = false;    // a reply was taken without its sequence
    bool UnnumberedReported = false;
    std::function<void()> OnVanished;
    std::function<void(const std::string&)> OnNotice;
    std::chrono::milliseconds ReplyTimeout = DefaultReplyTimeout;
    TTrace Trace;
    std::uint8_t StatusByte = PortStatus::Ok;
    std::array<std::uint8_t, ReplySize> ReplyArea{};
    std::size_t ReplyLength = 0;

    std::vector<std::uint8_t> SendBuffer;
    std::uint8_t SequenceCounter = 0;

    std::string IdentityText;
    std::uint8_t Major = 0;
    std::uint8_t Minor = 0;
    std::uint8_t ModeByte = 0;
    std::string Key;
};

template <typename TCommand>
TReply<typename TCommand::TValue> TDevicePort::Send(const TCommand& command)
{
    // Held from the request to the check, so nothing closes the port between.
    std::lock_guard use(UseMutex);
    if constexpr (requires { command.Extra(); })
        SendRequest(command.Request(), command.Extra());
    else
        SendRequest(command.Request());
    const std::uint8_t status = Status();
    // Beyond what the reply carried, the reply area holds bytes of earlier
    // replies; without an answer it holds nothing of this request at all.
    const auto carried = PortStatus::AdapterAnswered(status) ? CarriedReplyData() : std::span<const std::uint8_t>();
    auto reply = CheckReply(command, status, carried);
    if (reply.Status != status)
        FailRequest(reply.Status);
    return reply;
}

} // namespace lindprog
