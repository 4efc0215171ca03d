#pragma once
// The adapter's command set: its codes, the payloads the program sends, and a
// type for each command the program reads a reply of or sends with typed
// fields. A command type holds its request's fields; it gives the request's
// bytes, how many data bytes its reply must carry, and the reader of its
// value. CheckReply is the one checked parser over them and TDevicePort::Send
// the one generic send, so no caller pairs a length check with a reader.
//
// A reader (Parse) is handed only a reply that carries ReplySize bytes, so it
// reads its fields without checking. ReplySize itself may look at the reply's
// head, where the head says how long the reply is.

#include "core/link/PortStatus.h"
#include "core/link/ReplyLayout.h"

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

// Data bytes of the short replies; the longer ones follow from ReplyLayout.
constexpr std::size_t ModeReplySize = 1;
constexpr std::size_t VersionReplySize = 2;
constexpr std::size_t KeyReplySize = 4;
constexpr std::size_t DeviceCountReplySize = 1;

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

// How a typed request ended: its status, and the value read from its reply.
// The value stays as constructed unless the status is Ok, or the command
// reads every answer (the start request).
template <typename TValue>
struct TReply {
    std::uint8_t Status = PortStatus::Ok;
    TValue Value{};

    bool Ok() const { return Status == PortStatus::Ok; }
};

// The value of a command whose reply is its status alone.
struct TNoValue {};

struct TVersionReply {
    std::uint8_t Major = 0;
    std::uint8_t Minor = 0;
    bool operator==(const TVersionReply&) const = default;
};

// Catalogue records are kept byte for byte; ReplyLayout names their fields.
using TDeviceRecord = std::array<std::uint8_t, DeviceRecordSize>;
using TRegionRecord = std::array<std::uint8_t, RegionRecordSize>;

struct TStartOperationReply {
    std::array<std::uint32_t, StartReply::ValueCount> Values{};
    std::vector<std::string> InfoLines; // the text split at every '|'; none for an empty text
    bool operator==(const TStartOperationReply&) const = default;
};
// Reads what `data` reaches: values it does not reach are zero, and there
// are no lines when it ends before the text.
TStartOperationReply ParseStartOperationReply(std::span<const std::uint8_t> data);
// "JTAG/Nexus detect: %d/%d/%.08X/%.08X"
std::string FormatJtagDetect(const TStartOperationReply& reply);

struct TJtagScanReply {
    std::uint32_t DeviceCount = 0;
    std::uint32_t IrLength = 0;
    std::vector<std::uint32_t> Ids; // of the first min(count, 10) devices
    bool operator==(const TJtagScanReply&) const = default;
};

struct TBootloaderArea {
    std::uint32_t Start = 0;
    std::uint32_t End = 0;
    std::uint16_t PageSize = 0;
    bool operator==(const TBootloaderArea&) const = default;
};

struct TGetMode {
    static constexpr std::uint8_t Id = Cmd::GetMode;
    using TValue = std::uint8_t;
    std::array<std::uint8_t, 1> Request() const { return {Id}; }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return ModeReplySize; }
    TValue Parse(std::span<const std::uint8_t> data) const { return data[0]; }
};

struct TGetIdentity {
    static constexpr std::uint8_t Id = Cmd::GetIdentity;
    using TValue = std::string;
    std::array<std::uint8_t, 1> Request() const { return {Id}; }
    // A text without its terminating zero ends with the bytes the reply carried.
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return 0; }
    TValue Parse(std::span<const std::uint8_t> data) const { return ReadReplyText(data); }
};

struct TGetVersion {
    static constexpr std::uint8_t Id = Cmd::GetVersion;
    using TValue = TVersionReply;
    std::array<std::uint8_t, 1> Request() const { return {Id}; }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return VersionReplySize; }
    TValue Parse(std::span<const std::uint8_t> data) const { return {data[0], data[1]}; }
};

struct TGetKey {
    static constexpr std::uint8_t Id = Cmd::GetKey;
    using TValue = std::string; // as the adapter's users quote it: eight upper-case hex digits
    std::array<std::uint8_t, 1> Request() const { return {Id}; }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return KeyReplySize; }
    TValue Parse(std::span<const std::uint8_t> data) const;
};

struct TGetDeviceCount {
    static constexpr std::uint8_t Id = Cmd::GetDeviceCount;
    using TValue = std::uint8_t;
    std::array<std::uint8_t, 1> Request() const { return {Id}; }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return DeviceCountReplySize; }
    TValue Parse(std::span<const std::uint8_t> data) const { return data[0]; }
};

struct TGetDeviceRecord {
    static constexpr std::uint8_t Id = Cmd::GetDeviceRecord;
    using TValue = TDeviceRecord;
    std::uint8_t Device = 0;
    std::array<std::uint8_t, 2> Request() const { return {Id, Device}; }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return DeviceRecordSize; }
    TValue Parse(std::span<const std::uint8_t> data) const;
};

struct TGetRegionRecord {
    static constexpr std::uint8_t Id = Cmd::GetRegionRecord;
    using TValue = TRegionRecord;
    std::uint8_t Device = 0;
    std::uint8_t Region = 0;
    std::array<std::uint8_t, 3> Request() const { return {Id, Device, Region}; }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return RegionRecordSize; }
    TValue Parse(std::span<const std::uint8_t> data) const;
};

struct TJtagScan {
    static constexpr std::uint8_t Id = Cmd::JtagScan;
    using TValue = TJtagScanReply;
    std::array<std::uint8_t, 1> Request() const { return {Id}; }
    // The head, and once the head is there, the ID of every device it lists:
    // a reply that lists fewer than it announces is a failed scan, not a
    // shorter chain.
    std::size_t ReplySize(std::span<const std::uint8_t> data) const;
    TValue Parse(std::span<const std::uint8_t> data) const;
};

struct TEnterBootloader {
    static constexpr std::uint8_t Id = Cmd::EnterBootloader;
    using TValue = TBootloaderArea;
    std::array<std::uint8_t, 1> Request() const { return {Id}; }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return BootloaderAreaSize; }
    TValue Parse(std::span<const std::uint8_t> data) const;
};

// The start request reads every answer of the adapter: a refusal (12 "Device
// locked" among them) still carries information lines worth logging, and a
// reply cut before its four values still carries what it carried.
struct TStartOperation {
    static constexpr std::uint8_t Id = Cmd::StartOperation;
    static constexpr bool ReadsAnyAnswer = true;
    using TValue = TStartOperationReply;
    std::uint8_t DeviceIndex = 0;
    std::uint8_t RegionIndex = 0;
    TOperation Operation = TOperation::Read;
    std::int32_t JtagDelay = 0;
    std::uint8_t VoltageCode = 0;

    std::array<std::uint8_t, StartOperationSize> Request() const
    {
        return BuildStartOperation(DeviceIndex, RegionIndex, Operation, JtagDelay, VoltageCode);
    }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return StartOperationValuesSize; }
    TValue Parse(std::span<const std::uint8_t> data) const { return ParseStartOperationReply(data); }
};

// The block's bytes, in the reply area until the next request.
struct TReadBlock {
    static constexpr std::uint8_t Id = Cmd::ReadBlock;
    using TValue = std::span<const std::uint8_t>;
    std::uint32_t Offset = 0;
    std::uint16_t Count = 0;
    std::array<std::uint8_t, BlockHeadSize> Request() const { return BuildBlockHead(Id, Offset, Count); }
    // A reply shorter than the block would leave bytes of an earlier reply in
    // the buffer; it is a failed read, not a good one.
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return Count; }
    TValue Parse(std::span<const std::uint8_t> data) const { return data.first(Count); }
};

// The block commands answered by their status alone: write and verify send
// the block's bytes after the head, blank check sends none.
template <std::uint8_t Code>
struct TBlockCommand {
    static constexpr std::uint8_t Id = Code;
    using TValue = TNoValue;
    std::uint32_t Offset = 0;
    std::uint16_t Count = 0;
    std::span<const std::uint8_t> Data{};
    std::array<std::uint8_t, BlockHeadSize> Request() const { return BuildBlockHead(Id, Offset, Count); }
    std::span<const std::uint8_t> Extra() const { return Data; }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return 0; }
    TValue Parse(std::span<const std::uint8_t>) const { return {}; }
};
using TWriteBlock = TBlockCommand<Cmd::WriteBlock>;
using TVerifyBlock = TBlockCommand<Cmd::VerifyBlock>;
using TBlankCheckBlock = TBlockCommand<Cmd::BlankCheckBlock>;

// The commands of one byte answered by their status alone.
template <std::uint8_t Code>
struct TStatusCommand {
    static constexpr std::uint8_t Id = Code;
    using TValue = TNoValue;
    std::array<std::uint8_t, 1> Request() const { return {Id}; }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return 0; }
    TValue Parse(std::span<const std::uint8_t>) const { return {}; }
};
// One step of an erase or unlock: NotReady while the adapter is still at it.
using TEraseStep = TStatusCommand<Cmd::EraseStep>;
using TUnlockStep = TStatusCommand<Cmd::UnlockStep>;
using TPowerOff = TStatusCommand<Cmd::PowerOff>;
// The bootloader restarts the adapter into its new firmware.
using TResetAdapter = TStatusCommand<Cmd::ResetAdapter>;

// One page record of the update file, unchanged, after the code.
struct TProgramPage {
    static constexpr std::uint8_t Id = Cmd::ProgramPage;
    using TValue = TNoValue;
    std::span<const std::uint8_t> Page;
    std::vector<std::uint8_t> Request() const { return BuildProgramPage(Page); }
    std::size_t ReplySize(std::span<const std::uint8_t>) const { return 0; }
    TValue Parse(std::span<const std::uint8_t>) const { return {}; }
};

// The one checked parser. `status` is how the request ended and `carried`
// the data its reply carried: nothing when the adapter did not answer. A
// refused request reads nothing, unless its command reads every answer; an
// accepted one whose reply carried fewer bytes than the command reads fails
// with BadReplyLength, and never has a field read from beyond the reply.
template <typename TCommand>
TReply<typename TCommand::TValue> CheckReply(const TCommand& command, std::uint8_t status,
                                             std::span<const std::uint8_t> carried)
{
    constexpr bool readsAnyAnswer = requires
    {
        requires TCommand::ReadsAnyAnswer;
    };
    TReply<typename TCommand::TValue> reply{status, {}};
    if (status == PortStatus::Ok && carried.size() < command.ReplySize(carried))
        reply.Status = PortStatus::BadReplyLength;
    if (reply.Ok() || readsAnyAnswer)
        reply.Value = command.Parse(carried);
    return reply;
}

} // namespace lindprog
