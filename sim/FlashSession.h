#pragma once

// The flash operation the host has set up with StartOperation, and the block
// and step commands that work on it.

#include "Flash.h"
#include "Reply.h"
#include "Scenario.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace lindprog::sim {

enum TFlashOperation : std::uint8_t {
    OpRead = 0,
    OpWrite = 1,
    OpVerify = 2,
    OpErase = 3,
    OpBlankCheck = 4,
    OpUnlock = 5,
};

inline constexpr std::size_t StartOperationParams = 72;
// A reply payload of 4096 bytes is echo + status + 4094 data bytes.
inline constexpr std::size_t MaxReadCount = 4094;

class TFlashSession {
public:
    explicit TFlashSession(const TScenario& scenario);

    // Each takes the request payload without its command byte.
    TReply StartOperation(std::span<const std::uint8_t> params);
    TReply ReadBlock(std::span<const std::uint8_t> params);
    TReply WriteBlock(std::span<const std::uint8_t> params);
    TReply VerifyBlock(std::span<const std::uint8_t> params);
    TReply BlankCheckBlock(std::span<const std::uint8_t> params);
    TReply EraseStep(std::span<const std::uint8_t> params);
    TReply UnlockStep(std::span<const std::uint8_t> params);

    // Forgets the selected operation (adapter reset).
    void Close();
    // A new board on the cable: flash as the scenario describes it at start.
    void FreshTarget(const std::vector<TDeviceSpec>& devices);

    TFlash& Flash() { return FlashMemory; }
    const TFlash& Flash() const { return FlashMemory; }

private:
    struct TSelection {
        std::size_t Device = 0;
        std::size_t Region = 0;
        std::uint8_t Operation = 0;
    };
    struct TBlock {
        std::uint32_t Offset = 0;
        std::size_t Count = 0;
        std::span<const std::uint8_t> Data;
    };

    std::optional<std::uint8_t> CheckStart(std::span<const std::uint8_t> params) const;
    std::uint8_t StartStatus(std::uint8_t operation) const;
    TReply StartedReply() const;
    // Validates a block request; on failure returns the status to answer with.
    std::optional<std::uint8_t> CheckBlock(std::span<const std::uint8_t> params, bool withData, std::size_t maxCount,
                                           TBlock& block) const;
    TReply Step(std::span<const std::uint8_t> params, std::uint8_t operation);

    TFlash FlashMemory;
    TStartOperationSpec StartSpec;
    int EraseNotReady = 0;
    int UnlockNotReady = 0;
    std::optional<TSelection> Selection;
    int NotReadyLeft = 0;
};

} // namespace lindprog::sim
