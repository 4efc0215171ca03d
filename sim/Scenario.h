#pragma once

// What the simulated adapter looks like and how it misbehaves, read from a
// JSON scenario file (every key is described in sim/README.md).

#include "JsonFields.h"

#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lindprog::sim {

inline constexpr std::uint32_t MaxRegionSize = 256u * 1024u * 1024u;
inline constexpr std::size_t RecordNameSize = 64;

inline constexpr std::uint8_t ModeApplication = 3;
inline constexpr std::uint8_t ModeBootloader = 1;

struct TContentSpec {
    std::uint32_t Offset = 0;
    std::vector<std::uint8_t> Bytes;
};

struct TReadErrorSpec {
    std::uint32_t Offset = 0;
    int Times = 1; // -1: every read of that offset fails
    std::uint8_t Status = 13;
    bool NoAnswer = false;
};

struct TRegionSpec {
    std::string Name; // 8-bit characters, at most 64
    std::uint32_t Flags = 0;
    std::uint32_t Size = 0;
    std::optional<std::uint32_t> ReportedSize; // sent in the record instead of Size
    std::uint8_t Fill = 0xFF;
    std::vector<TContentSpec> Contents;
    std::vector<TReadErrorSpec> ReadErrors;
};

struct TDeviceSpec {
    std::string Name;
    std::uint32_t Voltages = 1;
    std::uint32_t Reserved = 0;
    std::optional<std::int32_t> RegionCount; // reported instead of regions.size()
    std::vector<TRegionSpec> Regions;
};

struct TJtagSpec {
    std::uint32_t Count = 0;
    std::uint32_t IrLength = 0;
    std::vector<std::uint32_t> Ids;
};

struct TStartOperationSpec {
    std::array<std::uint32_t, 4> Values{};
    std::string Info;
    std::uint8_t Status = 0;
    std::map<int, std::uint8_t> StatusByOperation;
};

struct TBootloaderSpec {
    std::uint32_t AppStart = 0x08004000;
    std::uint32_t AppEnd = 0x0803FFFF;
    std::uint16_t PageSize = 2048;
    std::map<std::uint32_t, std::uint8_t> PageStatus; // by 0-based page index
};

enum class TFaultKind {
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
    Truncate, // the reply cut after `KeptData` data bytes
};

struct TFaultSpec {
    std::optional<std::uint8_t> Command; // nullopt: any command
    TFaultKind Kind = TFaultKind::NoAnswer;
    int Skip = 0;
    int Times = 1; // -1: every matching request after the skipped ones
    std::uint8_t Status = 0;
    std::chrono::milliseconds Delay{0};
    std::vector<std::uint8_t> Garbage;
    std::size_t KeptData = 0; // kind truncate: data bytes kept after the echo and status
};

struct TScenario {
    std::string Identity = "Corvane JTAG/Nexus Programmer";
    std::uint8_t VersionMajor = 1;
    std::uint8_t VersionMinor = 18;
    std::uint8_t Mode = ModeApplication;
    std::uint32_t Key = 0;
    std::vector<TDeviceSpec> Devices;
    TJtagSpec Jtag;
    TStartOperationSpec StartOperation;
    int EraseNotReady = 0;
    int UnlockNotReady = 0;
    TBootloaderSpec Bootloader;
    std::vector<TFaultSpec> Faults;
    std::optional<std::size_t> VanishAfter;
    // No target on the adapter's cable at start ("target": "detached"); the
    // control socket attaches one later.
    bool TargetDetached = false;
};

// All three throw TScenarioError with a message naming the offending field.
TScenario ParseScenario(const nlohmann::json& document);
TScenario ParseScenarioText(std::string_view text);
TScenario LoadScenarioFile(const std::string& path);

} // namespace lindprog::sim
