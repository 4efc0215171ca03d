#include "Faults.h"

#include "JsonFields.h"
#include "Wire.h"

#include <algorithm>
#include <array>
#include <utility>

namespace lindprog::sim {

namespace {

constexpr std::array<std::pair<std::string_view, TFaultKind>, 11> Kinds{{
    {"no_answer", TFaultKind::NoAnswer},
    {"wrong_check", TFaultKind::WrongCheck},
    {"wrong_echo", TFaultKind::WrongEcho},
    {"wrong_sequence", TFaultKind::WrongSequence},
    {"bad_header", TFaultKind::BadHeader},
    {"oversize", TFaultKind::Oversize},
    {"echo_only", TFaultKind::EchoOnly},
    {"status", TFaultKind::Status},
    {"delay", TFaultKind::Delay},
    {"garbage", TFaultKind::Garbage},
    {"truncate", TFaultKind::Truncate},
}};

constexpr std::size_t DefaultGarbage = 8;
constexpr std::uint8_t BrokenMark = HeaderMark + 1;
constexpr std::size_t OversizePayload = MaxPayload + 1;
constexpr std::size_t ReplyHead = 2; // echo and status

TFaultKind KindFromName(const nlohmann::json& value, const std::string& path)
{
    if (value.is_string()) {
        for (const auto& [name, kind] : Kinds) {
            if (value.get<std::string>() == name)
                return kind;
        }
    }
    std::string names;
    for (const auto& entry : Kinds)
        names += (names.empty() ? "" : ", ") + std::string(entry.first);
    FailAt(path, "unknown fault kind " + value.dump() + " (known: " + names + ")");
}

// Line noise that never contains a frame start, so the host has to skip all of it.
std::vector<std::uint8_t> Noise(std::size_t count, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes;
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        auto b = static_cast<std::uint8_t>(state >> 16);
        if (b == FrameStart)
            b = 0xA5;
        bytes.push_back(b);
    }
    return bytes;
}

std::vector<std::uint8_t> ParseGarbage(TFieldReader& fields, std::size_t index)
{
    const nlohmann::json* bytes = fields.Find("bytes");
    if (bytes == nullptr)
        return Noise(DefaultGarbage, static_cast<std::uint32_t>(index));
    if (bytes->is_string() && bytes->get<std::string>().rfind("0x", 0) != 0) {
        auto literal = ReadHex(*bytes, fields.PathOf("bytes"));
        if (literal.empty())
            FailAt(fields.PathOf("bytes"), "needs at least one byte");
        return literal;
    }
    const auto count = ReadUnsigned(*bytes, fields.PathOf("bytes"), MaxPayload);
    if (count == 0)
        FailAt(fields.PathOf("bytes"), "needs at least one byte");
    return Noise(count, static_cast<std::uint32_t>(index));
}

void ParseKindParameters(TFieldReader& fields, TFaultSpec& fault, std::size_t index)
{
    if (fault.Kind == TFaultKind::Status) {
        fault.Status = static_cast<std::uint8_t>(fields.RequireUnsigned("status", 0xFF));
    }
    if (fault.Kind == TFaultKind::Delay) {
        fault.Delay = std::chrono::milliseconds(fields.RequireUnsigned("delay_ms", 600'000));
    } else if (fault.Kind != TFaultKind::NoAnswer) {
        // Any reply can also be late; useful to combine corruption with timing.
        fault.Delay = std::chrono::milliseconds(fields.Unsigned("delay_ms", 600'000, 0));
    }
    if (fault.Kind == TFaultKind::Garbage)
        fault.Garbage = ParseGarbage(fields, index);
    if (fault.Kind == TFaultKind::Truncate)
        fault.KeptData = fields.RequireUnsigned("bytes", MaxPayload - ReplyHead);
}

TFaultSpec ParseFault(const nlohmann::json& value, const std::string& path, std::size_t index)
{
    TFieldReader fields(value, path);
    TFaultSpec fault;
    if (const auto* command = fields.Find("command")) {
        fault.Command = static_cast<std::uint8_t>(ReadUnsigned(*command, fields.PathOf("command"), 0xFF));
    }
    fault.Kind = KindFromName(fields.Require("kind"), fields.PathOf("kind"));
    fault.Skip = static_cast<int>(fields.Unsigned("skip", 1'000'000, 0));
    fault.Times = static_cast<int>(fields.Signed("times", -1, 1'000'000, 1));
    if (fault.Times == 0)
        FailAt(fields.PathOf("times"), "must be -1 (all) or at least 1");
    ParseKindParameters(fields, fault, index);
    fields.RejectUnknown();
    return fault;
}

std::vector<std::uint8_t> Copy(std::span<const std::uint8_t> bytes)
{
    return {bytes.begin(), bytes.end()};
}

TOutgoingFrame Corrupted(std::vector<std::uint8_t> bytes)
{
    return {std::move(bytes), true};
}

std::vector<TOutgoingFrame> FaultyFrames(std::uint8_t sequence, std::span<const std::uint8_t> payload,
                                         const TFaultSpec& fault)
{
    const TOutgoingFrame correct{EncodeFrame(sequence, payload), false};
    auto changed = Copy(payload);
    switch (fault.Kind) {
    case TFaultKind::NoAnswer: return {};
    case TFaultKind::WrongCheck: {
        auto frame = EncodeFrame(sequence, payload);
        frame.back() ^= 0xFF;
        return {Corrupted(std::move(frame))};
    }
    case TFaultKind::WrongEcho:
        changed[0] = static_cast<std::uint8_t>(changed[0] + 1);
        return {Corrupted(EncodeFrame(sequence, changed))};
    case TFaultKind::WrongSequence: return {Corrupted(EncodeFrame(static_cast<std::uint8_t>(sequence + 1), payload))};
    case TFaultKind::BadHeader: return {Corrupted(EncodeFrameWithMark(sequence, BrokenMark, payload)), correct};
    case TFaultKind::Oversize: changed.resize(OversizePayload, 0); return {Corrupted(EncodeFrame(sequence, changed))};
    case TFaultKind::EchoOnly: return {Corrupted(EncodeFrame(sequence, payload.first(1)))};
    case TFaultKind::Status: changed[1] = fault.Status; return {Corrupted(EncodeFrame(sequence, changed))};
    case TFaultKind::Garbage: return {Corrupted(fault.Garbage), correct};
    case TFaultKind::Truncate: {
        // A reply that already carries no more than that goes out unchanged.
        const std::size_t kept = std::min(payload.size(), ReplyHead + fault.KeptData);
        if (kept == payload.size())
            return {correct};
        return {Corrupted(EncodeFrame(sequence, payload.first(kept)))};
    }
    case TFaultKind::Delay: break;
    }
    return {correct};
}

} // namespace

std::string_view FaultKindName(TFaultKind kind)
{
    for (const auto& [name, known] : Kinds) {
        if (known == kind)
            return name;
    }
    return "unknown";
}

std::vector<TFaultSpec> ParseFaults(const nlohmann::json& value, const std::string& path)
{
    std::vector<TFaultSpec> faults;
    for (std::size_t i = 0; i < ExpectArray(value, path).size(); ++i) {
        faults.push_back(ParseFault(value[i], IndexPath(path, i), i));
    }
    return faults;
}

TFaultPlan::TFaultPlan(std::vector<TFaultSpec> faults)
{
    for (auto& fault : faults)
        Faults.push_back({std::move(fault), 0});
}

std::optional<TFaultSpec> TFaultPlan::Pick(std::uint8_t command)
{
    std::optional<TFaultSpec> chosen;
    for (auto& armed : Faults) {
        if (armed.Definition.Command && *armed.Definition.Command != command)
            continue;
        ++armed.Seen;
        const int turn = armed.Seen - armed.Definition.Skip; // 1 for the first faulty request
        const bool due = turn >= 1 && (armed.Definition.Times < 0 || turn <= armed.Definition.Times);
        if (due && !chosen)
            chosen = armed.Definition;
    }
    return chosen;
}

TShapedReply ShapeReply(std::uint8_t sequence, std::span<const std::uint8_t> payload, const TFaultSpec* fault)
{
    TShapedReply reply;
    if (fault == nullptr) {
        reply.Frames.push_back({EncodeFrame(sequence, payload), false});
        return reply;
    }
    reply.Frames = FaultyFrames(sequence, payload, *fault);
    reply.Delay = fault->Delay;
    return reply;
}

} // namespace lindprog::sim
