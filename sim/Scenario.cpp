#include "Scenario.h"

#include "Faults.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>

namespace lindprog::sim {

namespace {

constexpr std::uint64_t U8 = 0xFF;
constexpr std::uint64_t U16 = 0xFFFF;
constexpr std::uint64_t U32 = 0xFFFFFFFF;
constexpr std::int64_t MaxCount = 1'000'000;

std::string RecordName(TFieldReader& fields, std::string_view key)
{
    std::string name = ReadLatin1(fields.Require(key), fields.PathOf(key));
    if (name.size() > RecordNameSize) {
        FailAt(fields.PathOf(key), "longer than 64 characters (" + std::to_string(name.size()) + ")");
    }
    return name;
}

// Text that goes out zero-terminated cannot hold a zero itself.
std::string TerminatedText(TFieldReader& fields, std::string_view key, const std::string& fallback)
{
    std::string text = fields.Latin1(key, fallback);
    if (text.find('\0') != std::string::npos) {
        FailAt(fields.PathOf(key), "must not contain U+0000 (the adapter sends it zero-terminated)");
    }
    return text;
}

// Object keys that stand for numbers, e.g. {"3": 12}.
std::uint64_t NumericKey(const std::string& key, const std::string& path, std::uint64_t max)
{
    std::uint64_t number = 0;
    const auto result = std::from_chars(key.data(), key.data() + key.size(), number);
    if (key.empty() || result.ec != std::errc() || result.ptr != key.data() + key.size() || number > max) {
        FailAt(path, "key must be a decimal number from 0 to " + std::to_string(max));
    }
    return number;
}

template <typename TKey>
std::map<TKey, std::uint8_t> StatusMap(const nlohmann::json& value, const std::string& path, std::uint64_t maxKey)
{
    if (!value.is_object())
        FailAt(path, "expected an object like {\"3\": 12}");
    std::map<TKey, std::uint8_t> statuses;
    for (const auto& [key, status] : value.items()) {
        const std::string entry = path + "." + key;
        const auto number = NumericKey(key, entry, maxKey);
        statuses[static_cast<TKey>(number)] = static_cast<std::uint8_t>(ReadUnsigned(status, entry, U8));
    }
    return statuses;
}

TContentSpec ParseContent(const nlohmann::json& value, const std::string& path, std::uint32_t regionSize)
{
    TFieldReader fields(value, path);
    TContentSpec content;
    content.Offset = static_cast<std::uint32_t>(fields.RequireUnsigned("offset", U32));
    const bool hasHex = fields.Has("hex");
    if (hasHex == fields.Has("text"))
        FailAt(path, "needs exactly one of \"hex\" or \"text\"");
    if (hasHex) {
        content.Bytes = ReadHex(fields.Require("hex"), fields.PathOf("hex"));
    } else {
        const std::string text = ReadLatin1(fields.Require("text"), fields.PathOf("text"));
        content.Bytes.assign(text.begin(), text.end());
    }
    fields.RejectUnknown();
    if (static_cast<std::uint64_t>(content.Offset) + content.Bytes.size() > regionSize) {
        FailAt(path, "runs past the end of the region (size " + std::to_string(regionSize) + ")");
    }
    return content;
}

TReadErrorSpec ParseReadError(const nlohmann::json& value, const std::string& path, std::uint32_t regionSize)
{
    TFieldReader fields(value, path);
    TReadErrorSpec error;
    error.Offset = static_cast<std::uint32_t>(fields.RequireUnsigned("offset", U32));
    if (error.Offset >= regionSize)
        FailAt(fields.PathOf("offset"), "outside the region");
    error.Times = static_cast<int>(fields.Signed("times", -1, MaxCount, 1));
    if (error.Times == 0)
        FailAt(fields.PathOf("times"), "must be -1 (always) or at least 1");
    error.Status = static_cast<std::uint8_t>(fields.Unsigned("status", U8, 13));
    error.NoAnswer = fields.Bool("no_answer", false);
    fields.RejectUnknown();
    return error;
}

TRegionSpec ParseRegion(const nlohmann::json& value, const std::string& path)
{
    TFieldReader fields(value, path);
    TRegionSpec region;
    region.Name = RecordName(fields, "name");
    region.Flags = static_cast<std::uint32_t>(fields.RequireUnsigned("flags", U32));
    region.Size = static_cast<std::uint32_t>(fields.RequireUnsigned("size", MaxRegionSize));
    region.Fill = static_cast<std::uint8_t>(fields.Unsigned("fill", U8, 0xFF));
    if (fields.Find("reported_size") != nullptr)
        region.ReportedSize = static_cast<std::uint32_t>(fields.RequireUnsigned("reported_size", U32));
    if (const auto* contents = fields.Find("contents")) {
        const auto base = fields.PathOf("contents");
        for (std::size_t i = 0; i < ExpectArray(*contents, base).size(); ++i) {
            region.Contents.push_back(ParseContent((*contents)[i], IndexPath(base, i), region.Size));
        }
    }
    if (const auto* errors = fields.Find("read_errors")) {
        const auto base = fields.PathOf("read_errors");
        for (std::size_t i = 0; i < ExpectArray(*errors, base).size(); ++i) {
            region.ReadErrors.push_back(ParseReadError((*errors)[i], IndexPath(base, i), region.Size));
        }
    }
    fields.RejectUnknown();
    return region;
}

TDeviceSpec ParseDevice(const nlohmann::json& value, const std::string& path)
{
    TFieldReader fields(value, path);
    TDeviceSpec device;
    device.Name = RecordName(fields, "name");
    device.Voltages = static_cast<std::uint32_t>(fields.Unsigned("voltages", U32, 1));
    device.Reserved = static_cast<std::uint32_t>(fields.Unsigned("reserved", U32, 0));
    if (const auto* count = fields.Find("region_count")) {
        device.RegionCount = static_cast<std::int32_t>(ReadSigned(*count, fields.PathOf("region_count"),
                                                                  std::numeric_limits<std::int32_t>::min(),
                                                                  std::numeric_limits<std::int32_t>::max()));
    }
    if (const auto* regions = fields.Find("regions")) {
        const auto base = fields.PathOf("regions");
        for (std::size_t i = 0; i < ExpectArray(*regions, base).size(); ++i) {
            device.Regions.push_back(ParseRegion((*regions)[i], IndexPath(base, i)));
        }
    }
    fields.RejectUnknown();
    return device;
}

std::vector<std::uint32_t> U32List(const nlohmann::json& value, const std::string& path)
{
    std::vector<std::uint32_t> list;
    for (std::size_t i = 0; i < ExpectArray(value, path).size(); ++i) {
        list.push_back(static_cast<std::uint32_t>(ReadUnsigned(value[i], IndexPath(path, i), U32)));
    }
    return list;
}

TJtagSpec ParseJtag(const nlohmann::json& value)
{
    TFieldReader fields(value, "jtag");
    TJtagSpec jtag;
    jtag.Count = static_cast<std::uint32_t>(fields.Unsigned("count", U32, 0));
    jtag.IrLength = static_cast<std::uint32_t>(fields.Unsigned("ir_length", U32, 0));
    if (const auto* ids = fields.Find("ids"))
        jtag.Ids = U32List(*ids, fields.PathOf("ids"));
    fields.RejectUnknown();
    const std::size_t reported = std::min<std::size_t>(jtag.Count, 10);
    if (jtag.Ids.size() < reported) {
        FailAt("jtag.ids",
               "has " + std::to_string(jtag.Ids.size()) + " ids but the scan reports " + std::to_string(reported));
    }
    return jtag;
}

TStartOperationSpec ParseStartOperation(const nlohmann::json& value)
{
    TFieldReader fields(value, "start_operation");
    TStartOperationSpec definition;
    if (const auto* values = fields.Find("values")) {
        const auto list = U32List(*values, "start_operation.values");
        if (list.size() != definition.Values.size())
            FailAt("start_operation.values", "needs exactly 4 numbers");
        std::copy(list.begin(), list.end(), definition.Values.begin());
    }
    definition.Info = TerminatedText(fields, "info", "");
    definition.Status = static_cast<std::uint8_t>(fields.Unsigned("status", U8, 0));
    if (const auto* byOperation = fields.Find("status_by_operation")) {
        definition.StatusByOperation = StatusMap<int>(*byOperation, "start_operation.status_by_operation", 5);
    }
    fields.RejectUnknown();
    return definition;
}

TBootloaderSpec ParseBootloader(const nlohmann::json& value)
{
    TFieldReader fields(value, "bootloader");
    TBootloaderSpec definition;
    definition.AppStart = static_cast<std::uint32_t>(fields.Unsigned("app_start", U32, definition.AppStart));
    definition.AppEnd = static_cast<std::uint32_t>(fields.Unsigned("app_end", U32, definition.AppEnd));
    definition.PageSize = static_cast<std::uint16_t>(fields.Unsigned("page_size", U16, definition.PageSize));
    if (const auto* pages = fields.Find("page_status")) {
        definition.PageStatus = StatusMap<std::uint32_t>(*pages, "bootloader.page_status", U32);
    }
    fields.RejectUnknown();
    return definition;
}

void ParseVersion(const nlohmann::json& value, TScenario& scenario)
{
    if (!value.is_array() || value.size() != 2)
        FailAt("version", "expected [major, minor]");
    scenario.VersionMajor = static_cast<std::uint8_t>(ReadUnsigned(value[0], "version[0]", U8));
    scenario.VersionMinor = static_cast<std::uint8_t>(ReadUnsigned(value[1], "version[1]", U8));
}

void ParseDevices(const nlohmann::json& value, TScenario& scenario)
{
    for (std::size_t i = 0; i < ExpectArray(value, "devices").size(); ++i) {
        scenario.Devices.push_back(ParseDevice(value[i], IndexPath("devices", i)));
    }
    if (scenario.Devices.size() > 255)
        FailAt("devices", "at most 255 devices");
}

void ParseTopLevel(TFieldReader& fields, TScenario& scenario)
{
    scenario.Identity = TerminatedText(fields, "identity", scenario.Identity);
    if (const auto* version = fields.Find("version"))
        ParseVersion(*version, scenario);
    scenario.Mode = static_cast<std::uint8_t>(fields.Unsigned("mode", U8, ModeApplication));
    if (scenario.Mode != ModeApplication && scenario.Mode != ModeBootloader) {
        FailAt("mode", "must be 3 (application) or 1 (bootloader)");
    }
    scenario.Key = static_cast<std::uint32_t>(fields.Unsigned("key", U32, 0));
    scenario.EraseNotReady = static_cast<int>(fields.Unsigned("erase_not_ready", MaxCount, 0));
    scenario.UnlockNotReady = static_cast<int>(fields.Unsigned("unlock_not_ready", MaxCount, 0));
    const std::string target = fields.Latin1("target", "attached");
    if (target != "attached" && target != "detached")
        FailAt("target", "must be \"attached\" or \"detached\"");
    scenario.TargetDetached = target == "detached";
    if (const auto* vanish = fields.Find("vanish_after")) {
        scenario.VanishAfter = static_cast<std::size_t>(ReadUnsigned(*vanish, "vanish_after", U32));
        if (*scenario.VanishAfter == 0)
            FailAt("vanish_after", "must be at least 1");
    }
}

} // namespace

TScenario ParseScenario(const nlohmann::json& document)
{
    TFieldReader fields(document, "");
    TScenario scenario;
    ParseTopLevel(fields, scenario);
    if (const auto* devices = fields.Find("devices"))
        ParseDevices(*devices, scenario);
    if (const auto* jtag = fields.Find("jtag"))
        scenario.Jtag = ParseJtag(*jtag);
    if (const auto* start = fields.Find("start_operation")) {
        scenario.StartOperation = ParseStartOperation(*start);
    }
    if (const auto* boot = fields.Find("bootloader"))
        scenario.Bootloader = ParseBootloader(*boot);
    if (const auto* faults = fields.Find("faults"))
        scenario.Faults = ParseFaults(*faults, "faults");
    fields.RejectUnknown();
    return scenario;
}

TScenario ParseScenarioText(std::string_view text)
{
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& error) {
        // Not only syntax: a number beyond what a double holds is refused by
        // the reader with an error of another kind.
        throw TScenarioError(std::string("not valid JSON: ") + error.what());
    }
    return ParseScenario(document);
}

TScenario LoadScenarioFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw TScenarioError("cannot open " + path);
    std::ostringstream text;
    text << file.rdbuf();
    return ParseScenarioText(text.str());
}

} // namespace lindprog::sim
