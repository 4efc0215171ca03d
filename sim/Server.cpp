#include "Server.h"

#include "Wire.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>

#include <sys/prctl.h>
#include <unistd.h>

namespace lindprog::sim {

namespace {

// How often to look whether a host has opened the port when the open/close
// watch is unavailable (or as a safety net behind it).
constexpr auto HostCheckInterval = std::chrono::milliseconds(3);
// A host that floods the line must not keep the loop from writing replies.
constexpr int MaxReadsPerWake = 64;
constexpr std::size_t ReadChunk = 4096;

bool Readable(const pollfd& entry)
{
    return (entry.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

// Echo of the command, status, then the reply data.
std::vector<std::uint8_t> ReplyPayload(std::uint8_t code, const TReply& reply)
{
    std::vector<std::uint8_t> payload;
    payload.reserve(reply.Data.size() + 2);
    payload.push_back(code);
    payload.push_back(reply.Status);
    payload.insert(payload.end(), reply.Data.begin(), reply.Data.end());
    return payload;
}

} // namespace

TServer::TServer(TSimState& state, TPseudoTerminal& pty, THostWatch& watch, const TEventFd& stop, TFrameLog& log,
                 TServerSetup setup)
    : State(state), Pty(pty), Watch(watch), StopEvent(stop), Log(log), Setup(std::move(setup)), Pacer(Setup.Pace)
{
}

void TServer::Run()
{
    if (Setup.Pace) {
        // The default 50 us timer slack would make every paced packet late.
        ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    }
    while (!Stopping && !Vanished) {
        SyncHost();
        if (Connected) {
            ServeConnected();
        } else {
            WaitForHost();
        }
    }
    Publish([](TSimState& state) { state.Serving = false; });
}

void TServer::Publish(const std::function<void(TSimState&)>& change)
{
    {
        std::lock_guard lock(State.Mutex);
        change(State);
    }
    State.Changed.notify_all();
}

int TServer::Poll(std::span<pollfd> fds, std::optional<Clock::time_point> deadline) const
{
    timespec timeout{};
    timespec* limit = nullptr;
    if (deadline) {
        const auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
        const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(nanos / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(nanos % 1'000'000'000);
        limit = &timeout;
    }
    const int ready = ::ppoll(fds.data(), fds.size(), limit, nullptr);
    return ready < 0 ? 0 : ready;
}

std::optional<Clock::time_point> TServer::NextDeadline() const
{
    std::optional<Clock::time_point> deadline;
    if (!Pending.empty())
        deadline = Pending.front().Due;
    if (!Output.empty() && !OutputBlocked) {
        const auto& reply = Output.front();
        const auto due = reply.Packets[reply.NextPacket].Due;
        deadline = deadline ? std::min(*deadline, due) : due;
    }
    return deadline;
}

// Decides, once per loop pass and before any new bytes are read, whether the
// host closed and/or (re)opened the port. The open/close watch is the
// authority: the kernel queues a close event before the master sees hang-up,
// so a hang-up always finds its close here, and a close followed at once by a
// reopen is seen even though the master never showed hang-up in between.
// Without the watch, hang-up on the master is all there is to go by.
void TServer::SyncHost()
{
    const auto changes = Watch.Drain();
    const bool absent = Pty.HostAbsent();
    const bool ended = Watch.Active() ? changes.Ends > 0 || (HungUp && absent) : absent;
    HungUp = false;
    if (Connected && ended) {
        // Still closed: whatever is buffered was written before the close.
        if (absent)
            ReadInput();
        EndSession();
    }
    const bool present = Watch.Active() ? changes.OpenNow && !absent : !absent;
    const bool begin = !Connected && present;
    if (begin)
        BeginSession();
    // An open and close that came and went between two looks still counts.
    const int opens = Watch.Active() ? changes.Starts : (begin ? 1 : 0);
    if (opens > 0)
        Publish([opens](TSimState& state) { state.HostOpens += opens; });
}

void TServer::WaitForHost()
{
    std::array<pollfd, 2> fds{{{StopEvent.Get(), POLLIN, 0}, {Watch.Get(), POLLIN, 0}}};
    const std::size_t count = Watch.Active() ? 2 : 1;
    auto deadline = Clock::now() + HostCheckInterval;
    if (const auto due = NextDeadline())
        deadline = std::min(deadline, *due);
    Poll(std::span(fds).first(count), deadline);
    if ((fds[0].revents & POLLIN) != 0) {
        Stopping = true;
        return;
    }
    // Requests still queued from the closed session are carried out; their
    // replies have nowhere to go.
    ProcessDueRequests();
}

void TServer::ServeConnected()
{
    const short masterEvents = static_cast<short>(POLLIN | (OutputBlocked ? POLLOUT : 0));
    std::array<pollfd, 3> fds{
        {{Pty.Master(), masterEvents, 0}, {StopEvent.Get(), POLLIN, 0}, {Watch.Get(), POLLIN, 0}}};
    const std::size_t count = Watch.Active() ? 3 : 2;
    Poll(std::span(fds).first(count), NextDeadline());
    if ((fds[1].revents & POLLIN) != 0) {
        Stopping = true;
        return;
    }
    // Open/close events are left for SyncHost at the top of the next pass.
    if (count == 3 && (fds[2].revents & POLLIN) != 0)
        return;
    if ((fds[0].revents & POLLOUT) != 0)
        OutputBlocked = false;
    if (Readable(fds[0]) && !ReadInput()) {
        HungUp = true;
        return;
    }
    ProcessDueRequests();
    if (!Vanished)
        FlushDueOutput();
}

// Reads everything available; false when the host side has hung up.
bool TServer::ReadInput()
{
    std::array<std::uint8_t, ReadChunk> chunk{};
    bool hungUp = false;
    for (int reads = 0; reads < MaxReadsPerWake; ++reads) {
        const ssize_t got = ::read(Pty.Master(), chunk.data(), chunk.size());
        if (got > 0) {
            Parser.Feed(std::span(chunk).first(static_cast<std::size_t>(got)), Clock::now());
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        hungUp = !(got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
        break;
    }
    TakeParsed();
    return !hungUp;
}

void TServer::TakeParsed()
{
    while (auto item = Parser.Next()) {
        const auto due = Pacer.Incoming(item->FirstArrival, item->Raw.size());
        if (item->Kind == TParsedItem::TKind::Discarded) {
            Log.Frame("H>A?", item->Raw);
            continue;
        }
        Pending.push_back(TRequest{due, std::move(*item), Session});
    }
}

void TServer::ProcessDueRequests()
{
    while (!Pending.empty() && !Vanished && Pending.front().Due <= Clock::now()) {
        TRequest request = std::move(Pending.front());
        Pending.pop_front();
        HandleRequest(std::move(request));
    }
}

void TServer::HandleRequest(TRequest request)
{
    Log.Frame("H>A", request.Frame.Raw);
    const auto& payload = request.Frame.Payload;
    if (Setup.VanishAfter && ++Received == *Setup.VanishAfter) {
        Publish([&](TSimState& state) { state.Core.Record(payload); });
        Vanish();
        return;
    }
    const std::uint8_t code = payload.empty() ? 0 : payload[0];
    TReply reply;
    std::optional<TFaultSpec> fault;
    Publish([&](TSimState& state) {
        reply = state.Core.Handle(payload);
        fault = state.Faults.Pick(code);
    });
    if (!reply.Answer) {
        Log.Note("no answer: planted read fault");
        return;
    }
    if (fault) {
        Log.Note("fault " + std::string(FaultKindName(fault->Kind)) + " on command " + std::to_string(code));
    }
    SendReply(request, ShapeReply(request.Frame.Sequence, ReplyPayload(code, reply), fault ? &*fault : nullptr));
}

void TServer::SendReply(const TRequest& request, const TShapedReply& shaped)
{
    if (shaped.Frames.empty())
        return;
    if (!Connected || request.Session != Session) {
        Log.Note("reply dropped: the host closed the port");
        return;
    }
    const auto ready = request.Due + shaped.Delay;
    for (const auto& frame : shaped.Frames) {
        if (frame.Bytes.empty())
            continue;
        Output.push_back(TReplyFrame{frame, Pacer.Outgoing(ready, frame.Bytes.size())});
    }
}

// Writes up to the end of the reply's next packet; false when the master
// cannot take more right now.
bool TServer::WriteNextPacket(TReplyFrame& reply)
{
    if (!reply.Logged) {
        Log.Frame(reply.Frame.Corrupted ? "A>H!" : "A>H", reply.Frame.Bytes);
        reply.Logged = true;
    }
    const std::size_t end = reply.Packets[reply.NextPacket].End;
    while (reply.Written < end) {
        const ssize_t put = ::write(Pty.Master(), reply.Frame.Bytes.data() + reply.Written, end - reply.Written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            // Full (the host is not reading) or hung up; poll tells which.
            OutputBlocked = put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return false;
        }
        reply.Written += static_cast<std::size_t>(put);
    }
    ++reply.NextPacket;
    return true;
}

void TServer::FlushDueOutput()
{
    const auto now = Clock::now();
    while (!Output.empty() && !OutputBlocked) {
        auto& reply = Output.front();
        if (reply.Packets[reply.NextPacket].Due > now)
            return;
        if (!WriteNextPacket(reply))
            return;
        if (reply.NextPacket == reply.Packets.size())
            Output.pop_front();
    }
}

void TServer::BeginSession()
{
    Connected = true;
    Publish([](TSimState& state) {
        state.Core.OnHostReopened();
        state.HostConnected = true;
    });
    Log.Note("host opened the port");
}

void TServer::EndSession()
{
    if (const auto dropped = Parser.Reset(); !dropped.empty())
        Log.Frame("H>A?", dropped);
    if (!Output.empty()) {
        Log.Note(std::to_string(Output.size()) + " unsent reply frame(s) dropped");
        Output.clear();
    }
    Pty.DropUnreadReplies();
    Pacer.Reset();
    OutputBlocked = false;
    Connected = false;
    ++Session;
    Publish([](TSimState& state) { state.HostConnected = false; });
    Log.Note("host closed the port");
}

void TServer::Vanish()
{
    Log.Note("port vanished");
    Pty.Close();
    Vanished = true;
    Connected = false;
    Pending.clear();
    Output.clear();
    Publish([](TSimState& state) {
        state.Vanished = true;
        state.HostConnected = false;
    });
    if (Setup.OnVanish)
        Setup.OnVanish();
}

} // namespace lindprog::sim
