#pragma once

// The flash operation the host has set up with StartOperation, and the block
// and step commands that work on it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "Flash.h"
#include "Reply.h"
#include "Scenario.h"

namespace lindprog::sim {

enum EOperation : std::uint8_t {
    kOpRead = 0,
    kOpWrite = 1,
    kOpVerify = 2,
    kOpErase = 3,
    kOpBlankCheck = 4,
    kOpUnlock = 5,
};

inline constexpr std::size_t kStartOperationParams = 72;
// A reply payload of 4096 bytes is echo + status + 4094 data bytes.
inline constexpr std::size_t kMaxReadCount = 4094;

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

    TFlash& Flash() { return flash_; }
    const TFlash& Flash() const { return flash_; }

private:
    struct TSelection {
        std::size_t device = 0;
        std::size_t region = 0;
        std::uint8_t operation = 0;
    };
    struct TBlock {
        std::uint32_t offset = 0;
        std::size_t count = 0;
        std::span<const std::uint8_t> data;
    };

    std::optional<std::uint8_t> CheckStart(std::span<const std::uint8_t> params) const;
    std::uint8_t StartStatus(std::uint8_t operation) const;
    TReply StartedReply() const;
    // Validates a block request; on failure returns the status to answer with.
    std::optional<std::uint8_t> CheckBlock(std::span<const std::uint8_t> params, bool with_data,
        std::size_t max_count, TBlock& block) const;
    TReply Step(std::span<const std::uint8_t> params, std::uint8_t operation);

    TFlash flash_;
    TStartOperationSpec start_;
    int erase_not_ready_ = 0;
    int unlock_not_ready_ = 0;
    std::optional<TSelection> selection_;
    int not_ready_left_ = 0;
};

} // namespace lindprog::sim
