#pragma once

// The adapter's command logic without any I/O: takes a request payload and
// decides the reply, keeping mode, flash contents and what the host sent.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "FlashSession.h"
#include "Reply.h"
#include "Scenario.h"

namespace lindprog::sim {

enum ECommand : std::uint8_t {
    kCmdGetMode = 1,
    kCmdGetIdentity = 2,
    kCmdGetVersion = 3,
    kCmdResetAdapter = 4,
    kCmdGetKey = 6,
    kCmdProgramPage = 34,
    kCmdGetDeviceCount = 128,
    kCmdEnterBootloader = 143,
    kCmdStartOperation = 160,
    kCmdReadBlock = 161,
    kCmdWriteBlock = 162,
    kCmdVerifyBlock = 163,
    kCmdBlankCheckBlock = 165,
    kCmdEraseStep = 166,
    kCmdUnlockStep = 167,
    kCmdPowerOff = 175,
    kCmdJtagScan = 176,
    kCmdGetDeviceRecord = 178,
    kCmdGetRegionRecord = 179,
};

inline constexpr std::size_t kPageRecordSize = 2056;
inline constexpr std::size_t kDeviceRecordSize = 76;
inline constexpr std::size_t kRegionRecordSize = 72;
inline constexpr std::size_t kMaxJtagIds = 10;

class TAdapterCore {
public:
    explicit TAdapterCore(const TScenario& scenario);

    // Records the request, then answers it.
    TReply Handle(std::span<const std::uint8_t> payload);
    // Records the request without acting on it (the port vanished on it).
    void Record(std::span<const std::uint8_t> payload);
    // The host opened the port again after closing it.
    void OnHostReopened();

    std::uint8_t Mode() const { return mode_; }
    int RequestCount(std::uint8_t code) const;
    std::size_t RequestTotal() const { return requests_.size(); }
    const std::vector<std::vector<std::uint8_t>>& RequestPayloads() const { return requests_; }
    const std::vector<std::vector<std::uint8_t>>& ReceivedPages() const { return pages_; }
    TFlash& Flash() { return session_.Flash(); }
    const TFlash& Flash() const { return session_.Flash(); }

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

    const TScenario scenario_;
    TFlashSession session_;
    std::uint8_t mode_;
    bool bootloader_on_reopen_ = false;
    std::size_t pages_attempted_ = 0;
    std::vector<std::vector<std::uint8_t>> requests_;
    std::vector<std::vector<std::uint8_t>> pages_;
};

} // namespace lindprog::sim
