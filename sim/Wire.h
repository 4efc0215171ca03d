#pragma once

// Byte-level layout of the adapter's serial frames, shared by the parser and
// by the reply builder. Frame: 27, sequence, length (big-endian u16), 14,
// payload, XOR check over everything before it. Integers inside payloads are
// little-endian.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lindprog::sim {

inline constexpr std::uint8_t FrameStart = 27;
inline constexpr std::uint8_t HeaderMark = 14;
inline constexpr std::size_t HeaderSize = 5;
inline constexpr std::size_t FrameOverhead = HeaderSize + 1;
inline constexpr std::size_t MaxPayload = 4096;

// Status bytes the adapter answers with.
inline constexpr std::uint8_t StatusOk = 0;
inline constexpr std::uint8_t StatusError = 1;
inline constexpr std::uint8_t StatusBadCommand = 2;
inline constexpr std::uint8_t StatusBadParameter = 3;
inline constexpr std::uint8_t StatusNotReady = 4;
inline constexpr std::uint8_t StatusBadPacketSize = 5;
inline constexpr std::uint8_t StatusBadCrc = 6;
inline constexpr std::uint8_t StatusDeviceNotFound = 10;
inline constexpr std::uint8_t StatusDeviceNotOpen = 11;
inline constexpr std::uint8_t StatusDeviceLocked = 12;
inline constexpr std::uint8_t StatusReadError = 13;
inline constexpr std::uint8_t StatusCompareError = 14;
inline constexpr std::uint8_t StatusNotBlank = 15;

std::uint8_t XorCheck(std::span<const std::uint8_t> bytes);

// Complete frame including header and check byte. The length field is taken
// from payload.size() and truncated to 16 bits; callers keep payloads within
// MaxPayload unless they build a deliberately broken frame.
std::vector<std::uint8_t> EncodeFrame(std::uint8_t sequence, std::span<const std::uint8_t> payload);

// Same, but with an explicit header-mark byte (used to send broken headers).
std::vector<std::uint8_t> EncodeFrameWithMark(std::uint8_t sequence, std::uint8_t mark,
                                              std::span<const std::uint8_t> payload);

void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t value);
void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value);
// Appends the text followed by a terminating zero.
void AppendText(std::vector<std::uint8_t>& out, const std::string& text);

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset);

// "1B 01 00" style, upper-case, space separated.
std::string HexBytes(std::span<const std::uint8_t> bytes);
// Accepts hex digits with optional spaces; nullopt on odd digit count or bad digit.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text);

} // namespace lindprog::sim
