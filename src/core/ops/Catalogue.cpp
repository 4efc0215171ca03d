#include "core/ops/Catalogue.h"

#include "core/base/AdapterText.h"
#include "core/base/LittleEndian.h"

#include <algorithm>

namespace lindprog {

namespace {

// A name ends at its first NUL or after 64 characters.
std::string RecordName(std::span<const std::uint8_t> raw)
{
    const auto name = raw.first(RecordNameSize);
    const auto end = std::find(name.begin(), name.end(), std::uint8_t{0});
    return AdapterTextToUtf8(name.first(static_cast<std::size_t>(end - name.begin())));
}

template <std::size_t Size>
std::array<std::uint8_t, Size> CopyRecord(std::span<const std::uint8_t> replyData)
{
    std::array<std::uint8_t, Size> raw{};
    std::copy_n(replyData.begin(), std::min(Size, replyData.size()), raw.begin());
    return raw;
}

} // namespace

TDeviceInfo TDeviceInfo::FromReply(std::span<const std::uint8_t> replyData)
{
    return {CopyRecord<DeviceRecordSize>(replyData)};
}

std::string TDeviceInfo::Name() const
{
    return RecordName(Raw);
}
std::uint32_t TDeviceInfo::Voltages() const
{
    return GetU32LE(Raw, 64);
}
std::int32_t TDeviceInfo::RegionCount() const
{
    return GetI32LE(Raw, 72);
}

TRegionInfo TRegionInfo::FromReply(std::span<const std::uint8_t> replyData)
{
    return {CopyRecord<RegionRecordSize>(replyData)};
}

std::string TRegionInfo::Name() const
{
    return RecordName(Raw);
}
std::uint32_t TRegionInfo::Flags() const
{
    return GetU32LE(Raw, 64);
}
std::uint32_t TRegionInfo::Size() const
{
    return GetU32LE(Raw, 68);
}

std::vector<TVoltageEntry> VoltageEntries(std::uint32_t mask)
{
    static const char* const texts[] = {"3.3 V", "5.0 V", "3+5 V"};
    std::vector<TVoltageEntry> entries;
    for (std::uint8_t bit = 0; bit < 3; ++bit)
        if (mask & (1u << bit))
            entries.push_back({texts[bit], static_cast<std::uint8_t>(bit + 1)});
    return entries;
}

TActionState TActionState::From(bool portOpen, std::uint32_t regionFlags)
{
    TActionState state;
    state.FirmwareUpdate = portOpen;
    state.Detect = portOpen;
    state.Read = portOpen && (regionFlags & RegionFlag::Read);
    state.Write = portOpen && (regionFlags & RegionFlag::Write);
    state.Verify = state.Read;
    state.Erase = portOpen && (regionFlags & RegionFlag::Erase);
    state.BlankCheck = state.Read;
    state.Unlock = portOpen && (regionFlags & RegionFlag::Unlock);
    state.Program = state.Read && state.Write && state.Erase;
    return state;
}

} // namespace lindprog
