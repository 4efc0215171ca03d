#pragma once

// Test-side access to the simulator's pty: raw bytes in and out, and a frame
// reader written independently of the simulator's own parser so the two
// check each other.

#include "sim/AdapterSim.h"
#include "support/SimPty.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lindprog::sim::test {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

inline constexpr auto ReplyTimeout = 2000ms;

// 27, seq, big-endian length, 14, payload, XOR of everything before.
TBytes MakeFrame(std::uint8_t sequence, std::span<const std::uint8_t> payload);

struct TRawFrame {
    std::uint8_t Sequence = 0;
    std::uint8_t Mark = 0;
    std::size_t Length = 0; // as announced in the header
    TBytes Payload;
    TBytes Raw;
    bool CheckOk = false;

    std::uint8_t Echo() const { return Payload.at(0); }
    std::uint8_t Status() const { return Payload.at(1); }
    TBytes Data() const { return {Payload.begin() + 2, Payload.end()}; }
};

std::uint32_t LittleU32(const TBytes& bytes, std::size_t offset);

class TRawPort {
public:
    TRawPort() = default;
    explicit TRawPort(const std::string& path) { Open(path); }
    ~TRawPort() { Close(); }
    TRawPort(const TRawPort&) = delete;
    TRawPort& operator=(const TRawPort&) = delete;

    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return Fd >= 0; }

    bool Write(std::span<const std::uint8_t> bytes);
    // Up to `count` bytes, stopping early only at the timeout.
    TBytes Read(std::size_t count, std::chrono::milliseconds timeout = ReplyTimeout);
    // Whatever arrives first (at most `limit` bytes); empty on timeout.
    TBytes ReadSome(std::size_t limit, std::chrono::milliseconds timeout = ReplyTimeout);
    // One frame by its announced length (any header mark, any check byte);
    // nullopt when the bytes did not arrive in time. Skips nothing: the first
    // byte read must be the frame start.
    std::optional<TRawFrame> ReadFrame(std::chrono::milliseconds timeout = ReplyTimeout);
    // True when the port reports hang-up (or a read error) within the timeout.
    bool WaitForHangUp(std::chrono::milliseconds timeout);

private:
    int Fd = -1;
};

// A started simulator plus an open port to it.
class THarness {
public:
    explicit THarness(const nlohmann::json& scenario, TSimOptions options = {});

    TAdapterSim& Sim() { return Simulator.Sim; }
    TRawPort& Port() { return SerialPort; }
    std::uint8_t NextSequence() { return ++Sequence; }

    // Sends the request with the next sequence number and returns the reply
    // after checking framing, sequence echo and command echo.
    TRawFrame Call(const TBytes& payload);
    void Send(const TBytes& payload) { Port().Write(MakeFrame(NextSequence(), payload)); }
    bool Reopen();

private:
    lindprog::test::TSimPty Simulator;
    TRawPort SerialPort;
    std::uint8_t Sequence = 0;
};

// One device with one region that allows read, write and erase.
nlohmann::json OneRegion(std::uint32_t size);

// Request payloads for the flash commands.
TBytes StartOperation(std::uint8_t device, std::uint8_t region, std::uint8_t operation, std::uint8_t voltage = 1);
TBytes Block(std::uint8_t code, std::uint32_t offset, std::uint16_t count, const TBytes& data = {});

} // namespace lindprog::sim::test
