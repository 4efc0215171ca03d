#pragma once

// The simulated programmer adapter behind a pseudo-terminal. Tests create one
// in-process, point the client at SlavePath() and inspect afterwards what the
// adapter received; lindprog-sim wraps it for use from a shell.
//
// One serving thread per simulator; all state lives in the object, so several
// simulators can run side by side in one process. Every public method is
// thread-safe.

#include "Scenario.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lindprog::sim {

struct TSimOptions {
    // Model the 921600 baud line's timing instead of answering at once.
    bool Pace = false;
    // Write every frame to this file (see FrameLog.h for the line format).
    std::string TranscriptPath;
    // Create a symlink here pointing at the pty slave; removed again by Stop()
    // or when the port vanishes. An existing symlink is replaced; any other
    // existing file makes Start() fail.
    std::string LinkPath;
    // Receives every transcript line, on the serving thread.
    std::function<void(const std::string&)> Log;
    // Called on the serving thread once the port has vanished.
    std::function<void()> OnVanish;
};

class TAdapterSim {
public:
    explicit TAdapterSim(TScenario scenario, TSimOptions options = {});
    ~TAdapterSim();
    TAdapterSim(const TAdapterSim&) = delete;
    TAdapterSim& operator=(const TAdapterSim&) = delete;

    // Creates the pty and starts serving. False (see LastError()) on failure;
    // a simulator starts at most once.
    bool Start();
    // Stops serving and closes the pty; idempotent, also run by the destructor.
    void Stop();

    std::string SlavePath() const;
    std::string LastError() const;

    // Current contents (empty for a bad index) and test-side preloading.
    std::vector<std::uint8_t> RegionContents(int device, int region) const;
    bool SetRegionContents(int device, int region, std::span<const std::uint8_t> bytes, std::uint32_t offset = 0);

    // Page records (without the command byte) the bootloader accepted, in order.
    std::vector<std::vector<std::uint8_t>> ReceivedPages() const;
    // Well-formed request frames received, by command code / in total.
    int RequestCount(std::uint8_t code) const;
    std::size_t RequestTotal() const;
    // Every request payload (command byte first), in arrival order.
    std::vector<std::vector<std::uint8_t>> RequestPayloads() const;
    std::uint8_t Mode() const;
    // The target on the adapter's cable (see TAdapterCore).
    void DetachTarget();
    void AttachTarget(bool keep);
    bool TargetAttached() const;
    bool Vanished() const;
    // Whether a host has the port open, and how many times one opened it.
    bool HostConnected() const;
    int HostOpenCount() const;

    // Bounded waits; true when the condition held before the timeout.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForHostOpens(int count, std::chrono::milliseconds timeout) const;
    bool WaitForHostClosed(std::chrono::milliseconds timeout) const;
    bool WaitForVanished(std::chrono::milliseconds timeout) const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

} // namespace lindprog::sim
