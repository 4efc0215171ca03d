#pragma once
// The status byte of a request: the adapter's own codes (1..23) and the four
// the endpoint sets itself (252..255). Code, name and text live in one table,
// so a name used in a comparison and the text shown for it cannot drift apart.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace lindprog {

namespace PortStatus {
constexpr std::uint8_t Ok = 0;
constexpr std::uint8_t Error = 1;
constexpr std::uint8_t BadCommand = 2;
constexpr std::uint8_t BadParameter = 3;
constexpr std::uint8_t NotReady = 4; // for 143, 166 and 167: busy, ask again
constexpr std::uint8_t BadPacketSize = 5;
constexpr std::uint8_t BadCrc = 6;
constexpr std::uint8_t InterfaceLocked = 7;
constexpr std::uint8_t PinRequired = 8;
constexpr std::uint8_t EepromNotFound = 9;
constexpr std::uint8_t DeviceNotFound = 10;
constexpr std::uint8_t DeviceNotOpen = 11;
constexpr std::uint8_t DeviceLocked = 12; // after 160 only a warning
constexpr std::uint8_t DeviceReadError = 13;
constexpr std::uint8_t CompareError = 14;
constexpr std::uint8_t DeviceNotBlank = 15;
constexpr std::uint8_t DeviceWriteError = 17;
constexpr std::uint8_t NexusError = 18;
constexpr std::uint8_t RdyTimeout = 19;
constexpr std::uint8_t DataReadMismatch = 20;
constexpr std::uint8_t ReadEccError = 21;
constexpr std::uint8_t FlashInitError = 22;
constexpr std::uint8_t IncorrectJtagId = 23;
// Set by the endpoint, never sent by the adapter.
constexpr std::uint8_t PortNotOpen = 252;
constexpr std::uint8_t BadReplyLength = 253; // the reply carried too few bytes
constexpr std::uint8_t PortWriteError = 254;
constexpr std::uint8_t NoAnswer = 255;

struct TEntry {
    std::uint8_t Code;
    std::string_view Text;
};

// Texts exactly as the user has always seen them, spelling included.
constexpr std::array<TEntry, 27> Table{{
    {Ok, "OK"},
    {Error, "Error"},
    {BadCommand, "Bad command code"},
    {BadParameter, "Bad parameter value"},
    {NotReady, "Not ready"},
    {BadPacketSize, "Bad packet size"},
    {BadCrc, "Bad CRC"},
    {InterfaceLocked, "Interface locked"},
    {PinRequired, "PIN requierd"},
    {EepromNotFound, "EEPROM not found"},
    {DeviceNotFound, "Device not found"},
    {DeviceNotOpen, "Device not open"},
    {DeviceLocked, "Device locked"},
    {DeviceReadError, "Device read error"},
    {CompareError, "Compare error"},
    {DeviceNotBlank, "Device not blank"},
    {DeviceWriteError, "Device write error"},
    {NexusError, "NEXUS error (possibly locked)"},
    {RdyTimeout, "RDY signal timeout"},
    {DataReadMismatch, "Data read mismatch"},
    {ReadEccError, "Read ECC error"},
    {FlashInitError, "Flash controller init error"},
    {IncorrectJtagId, "Incorrect JTAG ID"},
    {PortNotOpen, "Port is not open"},
    {BadReplyLength, "Bad reply length"},
    {PortWriteError, "Port write error"},
    {NoAnswer, "No answer"},
}};

// Listed in rising order, each code once: a code listed twice would make its
// second text unreachable.
constexpr bool CodesRiseStrictly()
{
    return std::adjacent_find(Table.begin(), Table.end(),
                              [](const TEntry& a, const TEntry& b) { return a.Code >= b.Code; }) == Table.end();
}
static_assert(CodesRiseStrictly());

// Whether a reply answered the request: the status is the adapter's own, not
// one the endpoint set. Only then does the reply area hold this reply's data.
constexpr bool AdapterAnswered(std::uint8_t status)
{
    return status < PortNotOpen;
}

// The text of a listed code; empty for a code the table does not list.
constexpr std::string_view Text(std::uint8_t code)
{
    for (const TEntry& entry : Table)
        if (entry.Code == code)
            return entry.Text;
    return {};
}

} // namespace PortStatus

} // namespace lindprog
