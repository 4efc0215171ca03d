#pragma once

// The adapter's command logic without any I/O: takes a request payload and
// decides the reply, keeping mode, flash contents and what the host sent.

#include "FlashSession.h"
#include "Reply.h"
#include "Scenario.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lindprog::sim {

enum TCommand : std::uint8_t {
    CmdGetMode = 1,
    CmdGetIdentity = 2,
    CmdGetVersion = 3,
    CmdResetAdapter = 4,
    CmdGetKey = 6,
    CmdProgramPage = 34,
    CmdGetDeviceCount = 128,
    CmdEnterBootloader = 143,
    CmdStartOperation = 160,
    CmdReadBlock = 161,
    CmdWriteBlock = 162,
    CmdVerifyBlock = 163,
    CmdBlankCheckBlock = 165,
    CmdEraseStep = 166,
    CmdUnlockStep = 167,
    CmdPowerOff = 175,
    CmdJtagScan = 176,
    CmdGetDeviceRecord = 178,
    CmdGetRegionRecord = 179,
};

inline constexpr std::size_t PageRecordSize = 2056;
inline constexpr std::size_t DeviceRecordSize = 76;
inline constexpr std::size_t RegionRecordSize = 72;
inline constexpr std::size_t MaxJtagIds = 10;

class TAdapterCore {
public:
    explicit TAdapterCore(const TScenario& scenario);

    // Records the request, then answers it.
    TReply Handle(std::span<const std::uint8_t> payload);
    // Records the request without acting on it (the port vanished on it).
    void Record(std::span<const std::uint8_t> payload);
    // The host opened the port again after closing it.
    void OnHostReopened();
    // The target leaves the cable: the chain is empty and no operation
    // starts until one is attached again.
    void DetachTarget();
    // A target on the cable again: a fresh board (flash as the scenario
    // starts it), or with keep the board that was detached.
    void AttachTarget(bool keep);
    bool TargetAttached() const { return Attached; }

    std::uint8_t Mode() const { return CurrentMode; }
    int RequestCount(std::uint8_t code) const;
    std::size_t RequestTotal() const { return Requests.size(); }
    const std::vector<std::vector<std::uint8_t>>& RequestPayloads() const { return Requests; }
    const std::vector<std::vector<std::uint8_t>>& ReceivedPages() const { return Pages; }
    TFlash& Flash() { return Session.Flash(); }
    const TFlash& Flash() const { return Session.Flash(); }

private:
    bool Allowed(std::uint8_t code) const;
    TReply Dispatch(std::uint8_t code, std::span<const std::uint8_t> params);
    TReply DispatchFlash(std::uint8_t code, std::span<const std::uint8_t> params);
    TReply Identity() const;
    TReply Version() const;
    TReply Reset();
    TReply Key() const;
    TReply DeviceCount() const;
    TReply EnterBootloader();
    TReply ProgramPage(std::span<const std::uint8_t> params);
    TReply JtagScan() const;
    TReply DeviceRecord(std::span<const std::uint8_t> params) const;
    TReply RegionRecord(std::span<const std::uint8_t> params) const;

    const TScenario Scenario;
    TFlashSession Session;
    std::uint8_t CurrentMode;
    bool BootloaderOnReopen = false;
    bool Attached;
    std::size_t PagesAttempted = 0;
    std::vector<std::vector<std::uint8_t>> Requests;
    std::vector<std::vector<std::uint8_t>> Pages;
};

} // namespace lindprog::sim
