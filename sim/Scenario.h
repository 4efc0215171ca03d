#pragma once

// What the simulated adapter looks like and how it misbehaves, read from a
// JSON scenario file (every key is described in sim/README.md).

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "JsonFields.h"

namespace lindprog::sim {

inline constexpr std::uint32_t kMaxRegionSize = 256u * 1024u * 1024u;
inline constexpr std::size_t kRecordNameSize = 64;

inline constexpr std::uint8_t kModeApplication = 3;
inline constexpr std::uint8_t kModeBootloader = 1;

struct TContentSpec {
    std::uint32_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

struct TReadErrorSpec {
    std::uint32_t offset = 0;
    int times = 1; // -1: every read of that offset fails
    std::uint8_t status = 13;
    bool no_answer = false;
};

struct TRegionSpec {
    std::string name; // 8-bit characters, at most 64
    std::uint32_t flags = 0;
    std::uint32_t size = 0;
    std::uint8_t fill = 0xFF;
    std::vector<TContentSpec> contents;
    std::vector<TReadErrorSpec> read_errors;
};

struct TDeviceSpec {
    std::string name;
    std::uint32_t voltages = 1;
    std::uint32_t reserved = 0;
    std::optional<std::int32_t> region_count; // reported instead of regions.size()
    std::vector<TRegionSpec> regions;
};

struct TJtagSpec {
    std::uint32_t count = 0;
    std::uint32_t ir_length = 0;
    std::vector<std::uint32_t> ids;
};

struct TStartOperationSpec {
    std::array<std::uint32_t, 4> values{};
    std::string info;
    std::uint8_t status = 0;
    std::map<int, std::uint8_t> status_by_operation;
};

struct TBootloaderSpec {
    std::uint32_t app_start = 0x08004000;
    std::uint32_t app_end = 0x0803FFFF;
    std::uint16_t page_size = 2048;
    std::map<std::uint32_t, std::uint8_t> page_status; // by 0-based page index
};

enum class EFaultKind {
    NoAnswer,
    WrongCheck,
    WrongEcho,
    WrongSequence,
    BadHeader,
    Oversize,
    EchoOnly,
    Status,
    Delay,
    Garbage,
    Truncate, // the reply cut after `kept_data` data bytes
};

struct TFaultSpec {
    std::optional<std::uint8_t> command; // nullopt: any command
    EFaultKind kind = EFaultKind::NoAnswer;
    int skip = 0;
    int times = 1; // -1: every matching request after the skipped ones
    std::uint8_t status = 0;
    std::chrono::milliseconds delay{0};
    std::vector<std::uint8_t> garbage;
    std::size_t kept_data = 0; // kind truncate: data bytes kept after the echo and status
};

struct TScenario {
    std::string identity = "Corvane JTAG/Nexus Programmer";
    std::uint8_t version_major = 1;
    std::uint8_t version_minor = 18;
    std::uint8_t mode = kModeApplication;
    std::uint32_t key = 0;
    std::vector<TDeviceSpec> devices;
    TJtagSpec jtag;
    TStartOperationSpec start_operation;
    int erase_not_ready = 0;
    int unlock_not_ready = 0;
    TBootloaderSpec bootloader;
    std::vector<TFaultSpec> faults;
    std::optional<std::size_t> vanish_after;
};

// All three throw TScenarioError with a message naming the offending field.
TScenario ParseScenario(const nlohmann::json& document);
TScenario ParseScenarioText(std::string_view text);
TScenario LoadScenarioFile(const std::string& path);

} // namespace lindprog::sim
