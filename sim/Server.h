#pragma once

// The serving thread's loop: reads request bytes from the pty master, hands
// complete frames to the adapter logic, and writes the replies back, paced
// like the real line when asked to. It follows the host closing and reopening
// the port, because the real adapter outlives any one host session.

#include "Faults.h"
#include "FrameLog.h"
#include "FrameParser.h"
#include "LinePacer.h"
#include "Pty.h"
#include "SimState.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include <poll.h>

namespace lindprog::sim {

struct TServerSetup {
    bool Pace = false;
    std::optional<std::size_t> VanishAfter;
    std::function<void()> OnVanish; // called on the serving thread
};

class TServer {
public:
    TServer(TSimState& state, TPseudoTerminal& pty, THostWatch& watch, const TEventFd& stop, TFrameLog& log,
            TServerSetup setup);

    // Runs until the stop event fires or the port vanished.
    void Run();

private:
    struct TRequest {
        Clock::time_point Due{};
        TParsedItem Frame;
        std::uint64_t Session = 0;
    };
    struct TReplyFrame {
        TOutgoingFrame Frame;
        std::vector<TLinePacer::TPacket> Packets;
        std::size_t NextPacket = 0;
        std::size_t Written = 0;
        bool Logged = false;
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

    TSimState& State;
    TPseudoTerminal& Pty;
    THostWatch& Watch;
    const TEventFd& StopEvent;
    TFrameLog& Log;
    TServerSetup Setup;

    TFrameParser Parser;
    TLinePacer Pacer;
    std::deque<TRequest> Pending;
    std::deque<TReplyFrame> Output;
    bool Connected = false;
    bool HungUp = false; // the master reported hang-up since the last SyncHost
    bool OutputBlocked = false;
    bool Stopping = false;
    bool Vanished = false;
    std::uint64_t Session = 0;
    std::size_t Received = 0;
};

} // namespace lindprog::sim
