#pragma once

// The serving thread's loop: reads request bytes from the pty master, hands
// complete frames to the adapter logic, and writes the replies back, paced
// like the real line when asked to. It follows the host closing and reopening
// the port, because the real adapter outlives any one host session.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include <poll.h>

#include "Faults.h"
#include "FrameLog.h"
#include "FrameParser.h"
#include "LinePacer.h"
#include "Pty.h"
#include "SimState.h"

namespace lindprog::sim {

struct TServerSetup {
    bool pace = false;
    std::optional<std::size_t> vanish_after;
    std::function<void()> on_vanish; // called on the serving thread
};

class TServer {
public:
    TServer(TSimState& state, TPseudoTerminal& pty, THostWatch& watch, const TEventFd& stop,
        TFrameLog& log, TServerSetup setup);

    // Runs until the stop event fires or the port vanished.
    void Run();

private:
    struct TRequest {
        Clock::time_point due{};
        TParsedItem frame;
        std::uint64_t session = 0;
    };
    struct TReplyFrame {
        TOutgoingFrame frame;
        std::vector<TLinePacer::TPacket> packets;
        std::size_t next_packet = 0;
        std::size_t written = 0;
        bool logged = false;
    };

    void SyncHost();
    void WaitForHost();
    void ServeConnected();
    int Poll(std::span<pollfd> fds, std::optional<Clock::time_point> deadline) const;
    std::optional<Clock::time_point> NextDeadline() const;

    bool ReadInput();
    void TakeParsed();
    void ProcessDueRequests();
    void HandleRequest(TRequest request);
    void SendReply(const TRequest& request, const TShapedReply& shaped);
    void FlushDueOutput();
    bool WriteNextPacket(TReplyFrame& reply);

    void BeginSession();
    void EndSession();
    void Vanish();
    void Publish(const std::function<void(TSimState&)>& change);

    TSimState& state_;
    TPseudoTerminal& pty_;
    THostWatch& watch_;
    const TEventFd& stop_;
    TFrameLog& log_;
    TServerSetup setup_;

    TFrameParser parser_;
    TLinePacer pacer_;
    std::deque<TRequest> pending_;
    std::deque<TReplyFrame> output_;
    bool connected_ = false;
    bool hung_up_ = false; // the master reported hang-up since the last SyncHost
    bool output_blocked_ = false;
    bool stopping_ = false;
    bool vanished_ = false;
    std::uint64_t session_ = 0;
    std::size_t received_ = 0;
};

} // namespace lindprog::sim
