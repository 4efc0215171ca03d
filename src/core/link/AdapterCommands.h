#pragma once
// The adapter's command codes, the payloads the program sends and the reply
// fields it reads. Offsets in replies count from ReplyData (after the echo and
// status bytes). The parsers are handed the data a reply carried and never
// read past it; the caller has checked that it is long enough.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lindprog {

namespace Cmd {
constexpr std::uint8_t GetMode = 1;
constexpr std::uint8_t GetIdentity = 2;
constexpr std::uint8_t GetVersion = 3;
constexpr std::uint8_t ResetAdapter = 4;
constexpr std::uint8_t GetKey = 6;
constexpr std::uint8_t ProgramPage = 34;
constexpr std::uint8_t GetDeviceCount = 128;
constexpr std::uint8_t EnterBootloader = 143;
constexpr std::uint8_t StartOperation = 160;
constexpr std::uint8_t ReadBlock = 161;
constexpr std::uint8_t WriteBlock = 162;
constexpr std::uint8_t VerifyBlock = 163;
constexpr std::uint8_t BlankCheckBlock = 165;
constexpr std::uint8_t EraseStep = 166;
constexpr std::uint8_t UnlockStep = 167;
constexpr std::uint8_t PowerOff = 175;
constexpr std::uint8_t JtagScan = 176;
constexpr std::uint8_t GetDeviceRecord = 178;
constexpr std::uint8_t GetRegionRecord = 179;
} // namespace Cmd

constexpr std::uint8_t ModeApplication = 3;
constexpr std::uint8_t ModeBootloader = 1;

constexpr std::size_t BlockHeadSize = 7;
constexpr std::size_t MaxWriteBlock = 2048;
constexpr std::size_t StartOperationSize = 73;
constexpr std::size_t FirmwarePageSize = 2056;

// Data bytes a reply must carry before its fields are read
// (TDevicePort::RequireReplyData).
constexpr std::size_t ModeReplySize = 1;
constexpr std::size_t VersionReplySize = 2;
constexpr std::size_t KeyReplySize = 4;
constexpr std::size_t DeviceCountReplySize = 1;
constexpr std::size_t StartOperationValuesSize = 16; // the four values; the text after them may be empty
constexpr std::size_t JtagScanHeadSize = 8;          // device count, IR length
constexpr std::size_t BootloaderAreaSize = 10;

// Operation codes: the tag of each operation command. Read to Unlock are also
// what the start request carries; Program is a sequence of them and never goes
// to the adapter.
enum class TOperation : std::uint8_t {
    Read = 0,
    Write = 1,
    Verify = 2,
    Erase = 3,
    BlankCheck = 4,
    Unlock = 5,
    Program = 6
};

// code, offset (32-bit), count (16-bit): the head of every block command.
std::array<std::uint8_t, BlockHeadSize> BuildBlockHead(std::uint8_t code, std::uint32_t offset, std::uint16_t count);

std::array<std::uint8_t, StartOperationSize> BuildStartOperation(std::uint8_t deviceIndex, std::uint8_t regionIndex,
                                                                 TOperation operation, std::int32_t jtagDelay,
                                                                 std::uint8_t voltageCode);

// 34 followed by one page record of the update file, unchanged.
std::vector<std::uint8_t> BuildProgramPage(std::span<const std::uint8_t> pageRecord);

// A zero-terminated text at the start of `data`, never read past its end.
std::string ReadReplyText(std::span<const std::uint8_t> data);

// The fields of the short replies. Each gives zero (an empty text for the
// key) when data is shorter than its reply size, which the endpoint has
// already refused with BadReplyLength.
std::uint8_t ParseModeReply(std::span<const std::uint8_t> data);
struct TVersionReply {
    std::uint8_t Major = 0;
    std::uint8_t Minor = 0;
};
TVersionReply ParseVersionReply(std::span<const std::uint8_t> data);
// The key as the adapter's users quote it: eight upper-case hex digits.
std::string ParseKeyReply(std::span<const std::uint8_t> data);

struct TStartOperationReply {
    std::array<std::uint32_t, 4> Values{};
    std::vector<std::string> InfoLines; // the text split at every '|'; none for an empty text
};
TStartOperationReply ParseStartOperationReply(std::span<const std::uint8_t> data);
// "JTAG/Nexus detect: %d/%d/%.08X/%.08X"
std::string FormatJtagDetect(const TStartOperationReply& reply);

struct TJtagScanReply {
    std::uint32_t DeviceCount = 0;
    std::uint32_t IrLength = 0;
    std::vector<std::uint32_t> Ids; // the first min(count, 10) the reply carries
};
// What a scan reply must carry: its head and, once the head is there, the ID
// of every device it lists (at most ten).
std::size_t JtagScanReplySize(std::span<const std::uint8_t> data);
TJtagScanReply ParseJtagScanReply(std::span<const std::uint8_t> data);

struct TBootloaderArea {
    std::uint32_t Start = 0;
    std::uint32_t End = 0;
    std::uint16_t PageSize = 0;
};
// All zero when data is shorter than BootloaderAreaSize.
TBootloaderArea ParseBootloaderArea(std::span<const std::uint8_t> data);

} // namespace lindprog
