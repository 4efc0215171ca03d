#include "Server.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>

#include <sys/prctl.h>
#include <unistd.h>

#include "Wire.h"

namespace lindprog::sim {

namespace {

// How often to look whether a host has opened the port when the open/close
// watch is unavailable (or as a safety net behind it).
constexpr auto kHostCheckInterval = std::chrono::milliseconds(3);
// A host that floods the line must not keep the loop from writing replies.
constexpr int kMaxReadsPerWake = 64;
constexpr std::size_t kReadChunk = 4096;

bool Readable(const pollfd& entry)
{
    return (entry.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

// Echo of the command, status, then the reply data.
std::vector<std::uint8_t> ReplyPayload(std::uint8_t code, const TReply& reply)
{
    std::vector<std::uint8_t> payload;
    payload.reserve(reply.data.size() + 2);
    payload.push_back(code);
    payload.push_back(reply.status);
    payload.insert(payload.end(), reply.data.begin(), reply.data.end());
    return payload;
}

} // namespace

TServer::TServer(TSimState& state, TPseudoTerminal& pty, THostWatch& watch, const TEventFd& stop,
    TFrameLog& log, TServerSetup setup)
    : state_(state)
    , pty_(pty)
    , watch_(watch)
    , stop_(stop)
    , log_(log)
    , setup_(std::move(setup))
    , pacer_(setup_.pace)
{
}

void TServer::Run()
{
    if (setup_.pace) {
        // The default 50 us timer slack would make every paced packet late.
        ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    }
    while (!stopping_ && !vanished_) {
        SyncHost();
        if (connected_) {
            ServeConnected();
        } else {
            WaitForHost();
        }
    }
    Publish([](TSimState& state) { state.serving = false; });
}

void TServer::Publish(const std::function<void(TSimState&)>& change)
{
    {
        std::lock_guard lock(state_.mutex);
        change(state_);
    }
    state_.changed.notify_all();
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
    if (!pending_.empty())
        deadline = pending_.front().due;
    if (!output_.empty() && !output_blocked_) {
        const auto& reply = output_.front();
        const auto due = reply.packets[reply.next_packet].due;
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
    const auto changes = watch_.Drain();
    const bool absent = pty_.HostAbsent();
    const bool ended = watch_.Active() ? changes.ends > 0 || (hung_up_ && absent) : absent;
    hung_up_ = false;
    if (connected_ && ended) {
        // Still closed: whatever is buffered was written before the close.
        if (absent)
            ReadInput();
        EndSession();
    }
    const bool present = watch_.Active() ? changes.open_now && !absent : !absent;
    const bool begin = !connected_ && present;
    if (begin)
        BeginSession();
    // An open and close that came and went between two looks still counts.
    const int opens = watch_.Active() ? changes.starts : (begin ? 1 : 0);
    if (opens > 0)
        Publish([opens](TSimState& state) { state.host_opens += opens; });
}

void TServer::WaitForHost()
{
    std::array<pollfd, 2> fds{{{stop_.Get(), POLLIN, 0}, {watch_.Get(), POLLIN, 0}}};
    const std::size_t count = watch_.Active() ? 2 : 1;
    auto deadline = Clock::now() + kHostCheckInterval;
    if (const auto due = NextDeadline())
        deadline = std::min(deadline, *due);
    Poll(std::span(fds).first(count), deadline);
    if ((fds[0].revents & POLLIN) != 0) {
        stopping_ = true;
        return;
    }
    // Requests still queued from the closed session are carried out; their
    // replies have nowhere to go.
    ProcessDueRequests();
}

void TServer::ServeConnected()
{
    const short master_events = static_cast<short>(POLLIN | (output_blocked_ ? POLLOUT : 0));
    std::array<pollfd, 3> fds{
        {{pty_.Master(), master_events, 0}, {stop_.Get(), POLLIN, 0}, {watch_.Get(), POLLIN, 0}}};
    const std::size_t count = watch_.Active() ? 3 : 2;
    Poll(std::span(fds).first(count), NextDeadline());
    if ((fds[1].revents & POLLIN) != 0) {
        stopping_ = true;
        return;
    }
    // Open/close events are left for SyncHost at the top of the next pass.
    if (count == 3 && (fds[2].revents & POLLIN) != 0)
        return;
    if ((fds[0].revents & POLLOUT) != 0)
        output_blocked_ = false;
    if (Readable(fds[0]) && !ReadInput()) {
        hung_up_ = true;
        return;
    }
    ProcessDueRequests();
    if (!vanished_)
        FlushDueOutput();
}

// Reads everything available; false when the host side has hung up.
bool TServer::ReadInput()
{
    std::array<std::uint8_t, kReadChunk> chunk{};
    bool hung_up = false;
    for (int reads = 0; reads < kMaxReadsPerWake; ++reads) {
        const ssize_t got = ::read(pty_.Master(), chunk.data(), chunk.size());
        if (got > 0) {
            parser_.Feed(std::span(chunk).first(static_cast<std::size_t>(got)), Clock::now());
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        hung_up = !(got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
        break;
    }
    TakeParsed();
    return !hung_up;
}

void TServer::TakeParsed()
{
    while (auto item = parser_.Next()) {
        const auto due = pacer_.Incoming(item->first_arrival, item->raw.size());
        if (item->kind == TParsedItem::EKind::Discarded) {
            log_.Frame("H>A?", item->raw);
            continue;
        }
        pending_.push_back(TRequest{due, std::move(*item), session_});
    }
}

void TServer::ProcessDueRequests()
{
    while (!pending_.empty() && !vanished_ && pending_.front().due <= Clock::now()) {
        TRequest request = std::move(pending_.front());
        pending_.pop_front();
        HandleRequest(std::move(request));
    }
}

void TServer::HandleRequest(TRequest request)
{
    log_.Frame("H>A", request.frame.raw);
    const auto& payload = request.frame.payload;
    if (setup_.vanish_after && ++received_ == *setup_.vanish_after) {
        Publish([&](TSimState& state) { state.core.Record(payload); });
        Vanish();
        return;
    }
    const std::uint8_t code = payload.empty() ? 0 : payload[0];
    TReply reply;
    std::optional<TFaultSpec> fault;
    Publish([&](TSimState& state) {
        reply = state.core.Handle(payload);
        fault = state.faults.Pick(code);
    });
    if (!reply.answer) {
        log_.Note("no answer: planted read fault");
        return;
    }
    if (fault) {
        log_.Note("fault " + std::string(FaultKindName(fault->kind)) + " on command "
            + std::to_string(code));
    }
    SendReply(request,
        ShapeReply(request.frame.sequence, ReplyPayload(code, reply), fault ? &*fault : nullptr));
}

void TServer::SendReply(const TRequest& request, const TShapedReply& shaped)
{
    if (shaped.frames.empty())
        return;
    if (!connected_ || request.session != session_) {
        log_.Note("reply dropped: the host closed the port");
        return;
    }
    const auto ready = request.due + shaped.delay;
    for (const auto& frame : shaped.frames) {
        if (frame.bytes.empty())
            continue;
        output_.push_back(TReplyFrame{frame, pacer_.Outgoing(ready, frame.bytes.size())});
    }
}

// Writes up to the end of the reply's next packet; false when the master
// cannot take more right now.
bool TServer::WriteNextPacket(TReplyFrame& reply)
{
    if (!reply.logged) {
        log_.Frame(reply.frame.corrupted ? "A>H!" : "A>H", reply.frame.bytes);
        reply.logged = true;
    }
    const std::size_t end = reply.packets[reply.next_packet].end;
    while (reply.written < end) {
        const ssize_t put
            = ::write(pty_.Master(), reply.frame.bytes.data() + reply.written, end - reply.written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            // Full (the host is not reading) or hung up; poll tells which.
            output_blocked_ = put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return false;
        }
        reply.written += static_cast<std::size_t>(put);
    }
    ++reply.next_packet;
    return true;
}

void TServer::FlushDueOutput()
{
    const auto now = Clock::now();
    while (!output_.empty() && !output_blocked_) {
        auto& reply = output_.front();
        if (reply.packets[reply.next_packet].due > now)
            return;
        if (!WriteNextPacket(reply))
            return;
        if (reply.next_packet == reply.packets.size())
            output_.pop_front();
    }
}

void TServer::BeginSession()
{
    connected_ = true;
    Publish([](TSimState& state) {
        state.core.OnHostReopened();
        state.host_connected = true;
    });
    log_.Note("host opened the port");
}

void TServer::EndSession()
{
    if (const auto dropped = parser_.Reset(); !dropped.empty())
        log_.Frame("H>A?", dropped);
    if (!output_.empty()) {
        log_.Note(std::to_string(output_.size()) + " unsent reply frame(s) dropped");
        output_.clear();
    }
    pty_.DropUnreadReplies();
    pacer_.Reset();
    output_blocked_ = false;
    connected_ = false;
    ++session_;
    Publish([](TSimState& state) { state.host_connected = false; });
    log_.Note("host closed the port");
}

void TServer::Vanish()
{
    log_.Note("port vanished");
    pty_.Close();
    vanished_ = true;
    connected_ = false;
    pending_.clear();
    output_.clear();
    Publish([](TSimState& state) {
        state.vanished = true;
        state.host_connected = false;
    });
    if (setup_.on_vanish)
        setup_.on_vanish();
}

} // namespace lindprog::sim
