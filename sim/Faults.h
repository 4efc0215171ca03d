#pragma once

// Deliberate misbehaviour on the reply side: which request gets which fault,
// and what the reply bytes look like when it does.
//
// Kind "truncate" needs "bytes": how many data bytes of the reply (after the
// echo and status) to keep, 0..4094. The shortened reply is well formed, so
// the host must notice from its length alone that fields are missing; a reply
// no longer than that is sent unchanged.

#include "Scenario.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lindprog::sim {

std::vector<TFaultSpec> ParseFaults(const nlohmann::json& value, const std::string& path);
std::string_view FaultKindName(TFaultKind kind);

class TFaultPlan {
public:
    explicit TFaultPlan(std::vector<TFaultSpec> faults);

    // Counts the request against every fault watching its command and returns
    // the first one whose turn it is. Each fault counts matching requests on its
    // own, so "skip" and "times" do not depend on the other entries.
    std::optional<TFaultSpec> Pick(std::uint8_t command);

private:
    struct TArmed {
        TFaultSpec Definition;
        int Seen = 0;
    };
    std::vector<TArmed> Faults;
};

struct TOutgoingFrame {
    std::vector<std::uint8_t> Bytes;
    bool Corrupted = false; // deliberately wrong; marked in the transcript
};

struct TShapedReply {
    std::vector<TOutgoingFrame> Frames; // empty: the request is left unanswered
    std::chrono::milliseconds Delay{0};
};

// The frames that answer one request; fault == nullptr gives a correct reply.
TShapedReply ShapeReply(std::uint8_t sequence, std::span<const std::uint8_t> payload, const TFaultSpec* fault);

} // namespace lindprog::sim
