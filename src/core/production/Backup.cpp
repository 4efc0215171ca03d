#include "core/production/Backup.h"

#include "core/base/AdapterText.h"
#include "core/base/Sha256.h"
#include "core/base/Stm32Crc.h"
#include "core/base/TextFormat.h"
#include "core/buffer/BufferFile.h"
#include "core/ops/ExitCode.h"
#include "core/ops/Operation.h"
#include "core/production/UnitDatabase.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>

namespace lindprog {

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t ReadableFlag = 1;
// Program erases before it writes: a region the adapter cannot erase is
// only verified.
constexpr std::uint32_t RewritableFlags = 2 | 4;

std::string SafeName(const std::string& name)
{
    std::string safe;
    for (const char c : name)
        safe += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ? c : '_';
    // A leading dot would hide the file; an empty name would leave ".bin".
    if (safe.empty() || safe.front() == '.')
        safe.insert(0, "region");
    return safe;
}

std::string Lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// A TOML basic string: quotes, backslashes and control characters escaped;
// names are UTF-8 already.
std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            quoted += std::string("\\") + c;
        else if (byte < 0x20 || byte == 0x7F)
            quoted += Format("\\u%04X", byte);
        else
            quoted += c;
    }
    return quoted + "\"";
}

std::string StepText(const TBackupRegion& region, const std::string& file)
{
    const bool writable = (region.Flags & RewritableFlags) == RewritableFlags;
    std::string text = "[[step]]\n";
    text += Format("region = %zu\n", region.Index);
    text += writable ? "operation = \"program\"\n" : "operation = \"verify\"\n";
    text += "image = " + Quoted(file) + "\n";
    text += Format("expect_crc = \"%08X\"\n", region.Crc);
    // A region that still holds its backup is left alone.
    if (writable)
        text += "preverify = true\n";
    return text + "\n";
}

std::string RegionText(const TBackupRegion& region, const std::string& file)
{
    std::string text = "[[backup.region]]\n";
    text += "name = " + Quoted(region.Name) + "\n";
    text += Format("index = %zu\nsize = %u\nflags = %u\n", region.Index, region.Size, region.Flags);
    text += "file = " + Quoted(file) + "\n";
    text += Format("crc32 = \"%08X\"\n", region.Crc);
    text += "sha256 = \"" + region.Sha256 + "\"\n";
    if (!region.FailedReads.empty()) {
        text += "failed_reads = [";
        for (std::size_t k = 0; k < region.FailedReads.size(); ++k)
            text += Format("%s[%u, %u]", k == 0 ? "" : ", ", region.FailedReads[k].first, region.FailedReads[k].second);
        text += "]\n";
    }
    return text + "\n";
}

// The files a backup wrote, removed again unless it ends with its manifest:
// a folder without one holds no backup, and half of one must not pass for it.
class TWrittenFiles {
public:
    ~TWrittenFiles()
    {
        if (Kept)
            return;
        for (const auto& path : Paths) {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    }
    void Add(const fs::path& path) { Paths.push_back(path); }
    void Keep() { Kept = true; }

private:
    std::vector<fs::path> Paths;
    bool Kept = false;
};

// The backup's reads as one plan, a stage per region, so that its progress
// runs across the regions and the runner powers off once at the end.
TPlan ReadPlan(const TDeviceTarget& device, const std::vector<TBackupRegion>& regions,
               std::vector<std::vector<std::uint8_t>>& buffers)
{
    TPlan plan;
    plan.DeviceIndex = device.DeviceIndex;
    plan.VoltageCode = device.DefaultVoltageCode;
    for (const TBackupRegion& region : regions) {
        if (region.Size > TConnection::MaxRegionSize)
            throw TBackupError(RegionTooLarge(region.Name, region.Size), ExitCode::Failed);
        buffers.emplace_back(region.Size, std::uint8_t{0xFF});
        TPlanStage stage;
        stage.Operation = TOperation::Read;
        stage.RegionIndex = static_cast<std::uint8_t>(region.Index);
        stage.Buffer = buffers.back();
        plan.Stages.push_back(stage);
    }
    return plan;
}

void CheckFolder(const fs::path& folder, const std::vector<std::string>& files)
{
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        throw TBackupError("cannot make the folder " + folder.string() + ": " + error.message(), ExitCode::FileError);
    // An earlier backup, or a file of the user's, is never overwritten.
    for (const std::string& name : files)
        if (fs::exists(folder / name, error))
            throw TBackupError((folder / name).string() + " exists already: back up into an empty folder",
                               ExitCode::FileError);
}

} // namespace

std::vector<std::string> BackupFileNames(const std::vector<std::string>& regionNames)
{
    std::vector<std::string> safe;
    std::map<std::string, int> uses;
    for (const std::string& name : regionNames) {
        safe.push_back(SafeName(name));
        ++uses[Lowered(safe.back())];
    }
    std::set<std::string> taken;
    for (std::size_t k = 0; k < safe.size(); ++k) {
        std::string file = safe[k];
        if (uses[Lowered(file)] > 1 || Lowered(file) == "manifest")
            file += "-" + std::to_string(k);
        // "a-1" from a name and "a" number 1 could still meet.
        while (!taken.insert(Lowered(file)).second)
            file += "_";
        safe[k] = file + ".bin";
    }
    return safe;
}

std::string ManifestText(const TBackupInfo& backup, std::uint8_t deviceIndex)
{
    std::string text = "# A backup of " + ShowControlCharacters(backup.Device) + ", made " + backup.Date +
                       ". Put it back with\n#   lindprog-cli restore " + ManifestName +
                       " -p PORT\n# This file is a job: its steps program every writable region with its file and "
                       "verify the others.\n\n";
    text += "name = " + Quoted("backup of " + backup.Device) + "\n";
    text += Format("device = %u\n\n", static_cast<unsigned>(deviceIndex));
    std::string steps;
    std::string regions;
    for (const TBackupRegion& region : backup.Regions) {
        const std::string file = fs::path(region.File).filename().string();
        if (region.FailedReads.empty())
            steps += StepText(region, file);
        regions += RegionText(region, file);
    }
    text += steps;
    text += "[backup]\n";
    text += "device = " + Quoted(backup.Device) + "\n";
    text += "adapter = " + Quoted(backup.Adapter) + "\n";
    text += "firmware = " + Quoted(backup.Firmware) + "\n";
    text += "key = " + Quoted(backup.Key) + "\n";
    text += "date = " + Quoted(backup.Date) + "\n";
    text += Format("regions = %zu\n\n", backup.RegionCount);
    return text + regions;
}

TBackupInfo BackUpDevice(TAdapterSession& session, const TBackupRequest& request, const TRunPacing& pacing)
{
    TDeviceTarget device;
    try {
        device = session.Device(request.Device);
    } catch (const TTargetError& error) {
        throw TBackupError(error.what(), ExitCode::Usage);
    }
    TBackupInfo backup;
    backup.Device = device.DeviceName;
    TDevicePort& port = session.Port();
    port.GetKey();
    backup.Adapter = port.Identity();
    backup.Firmware = Format("%d.%d", port.VersionMajor(), port.VersionMinor());
    backup.Key = port.KeyText();
    backup.Date = UtcTimestamp(std::chrono::system_clock::now());
    backup.RegionCount = device.Regions.size();
    std::vector<std::string> names;
    for (std::size_t k = 0; k < device.Regions.size(); ++k) {
        const TTargetRegion& region = device.Regions[k];
        if ((region.Flags & ReadableFlag) == 0)
            continue;
        backup.Regions.push_back({region.Name, k, region.Size, region.Flags, {}, 0, {}, {}});
        names.push_back(region.Name);
    }
    if (backup.Regions.empty())
        throw TBackupError("device '" + ShowControlCharacters(device.DeviceName) + "' has no readable region",
                           ExitCode::Usage);
    const fs::path folder(request.Folder);
    std::vector<std::string> files = BackupFileNames(names);
    files.push_back(ManifestName);
    CheckFolder(folder, files);

    std::vector<std::vector<std::uint8_t>> buffers;
    buffers.reserve(backup.Regions.size());
    const TPlanOutcome& outcome = session.Run(ReadPlan(device, backup.Regions, buffers), pacing);
    const TStageOutcome& last = outcome.Last();
    if (outcome.Cancelled())
        throw TBackupError("cancelled; no backup was written", ExitCode::Interrupted);
    if (!outcome.Succeeded()) {
        const TBackupRegion& region = backup.Regions[std::min(last.PlanStage, backup.Regions.size() - 1)];
        throw TBackupError("region '" + ShowControlCharacters(region.Name) + "': " + WithHexOffset(last.Line) +
                               "; no backup was written",
                           ExitCodeForStatus(last.Status), last.Status);
    }
    TWrittenFiles written;
    for (std::size_t k = 0; k < backup.Regions.size(); ++k) {
        TBackupRegion& region = backup.Regions[k];
        for (const TFailedRead& failed : outcome.Stages[k].FailedReads)
            region.FailedReads.emplace_back(failed.Offset, failed.Length);
        region.File = (folder / files[k]).string();
        region.Crc = CrcUpdateBytes(CrcStart, buffers[k]);
        region.Sha256 = Sha256Hex(buffers[k]);
        try {
            written.Add(region.File);
            WriteFileContents(region.File, buffers[k]);
        } catch (const TFileError& error) {
            throw TBackupError(error.what(), ExitCode::FileError);
        }
    }
    const std::string manifest = ManifestText(backup, device.DeviceIndex);
    try {
        WriteFileContents((folder / ManifestName).string(),
                          std::span(reinterpret_cast<const std::uint8_t*>(manifest.data()), manifest.size()));
    } catch (const TFileError& error) {
        throw TBackupError(error.what(), ExitCode::FileError);
    }
    written.Keep();
    return backup;
}

void CheckBackupFiles(const TBackupInfo& backup)
{
    for (const TBackupRegion& region : backup.Regions) {
        std::vector<std::uint8_t> bytes;
        try {
            bytes = ReadWholeFile(region.File);
        } catch (const TFileError& error) {
            throw TBackupError(error.what(), ExitCode::FileError);
        }
        const std::uint32_t crc = CrcUpdateBytes(CrcStart, bytes);
        if (bytes.size() != region.Size || crc != region.Crc || Sha256Hex(bytes) != region.Sha256)
            throw TBackupError(Format("%s is not what the backup saved of region '%s' (%zu bytes, CRC32 = %08X; the "
                                      "manifest says %u bytes, CRC32 = %08X): nothing was sent",
                                      region.File.c_str(), ShowControlCharacters(region.Name).c_str(), bytes.size(),
                                      crc, region.Size, region.Crc),
                               ExitCode::FileError);
    }
}

std::string LayoutRefusal(const TJob& manifest, const TDeviceTarget& device)
{
    const TBackupInfo& backup = *manifest.Backup;
    const std::string name = ShowControlCharacters(device.DeviceName);
    if (device.DeviceName != backup.Device)
        return Format("the adapter's device %zu is '%s', the backup's '%s'",
                      static_cast<std::size_t>(device.DeviceIndex), name.c_str(),
                      ShowControlCharacters(backup.Device).c_str());
    if (device.Regions.size() != backup.RegionCount)
        return Format("device '%s' has %zu regions, the backup's %zu: it is not the device the backup is of",
                      name.c_str(), device.Regions.size(), backup.RegionCount);
    for (const TBackupRegion& region : backup.Regions) {
        const TTargetRegion& now = device.Regions[region.Index];
        if (now.Name != region.Name || now.Size != region.Size || now.Flags != region.Flags)
            return Format("region %zu of device '%s' is '%s' of 0x%X bytes (flags %u), the backup's '%s' of 0x%X "
                          "bytes (flags %u): it is not the device the backup is of",
                          region.Index, name.c_str(), ShowControlCharacters(now.Name).c_str(), now.Size, now.Flags,
                          ShowControlCharacters(region.Name).c_str(), region.Size, region.Flags);
    }
    return {};
}

std::vector<std::string> UnrestoredRegions(const TBackupInfo& backup)
{
    std::vector<std::string> lines;
    for (const TBackupRegion& region : backup.Regions)
        if (!region.FailedReads.empty())
            lines.push_back(Format("region '%s' is not restored: %zu blocks of it could not be read when it was "
                                   "backed up",
                                   ShowControlCharacters(region.Name).c_str(), region.FailedReads.size()));
    return lines;
}

TUnitOutcome RestoreDevice(TAdapterSession& session, const TJob& manifest, const TJobImages& images,
                           const TRunPacing& pacing, TStationEvents& events, const std::string& portName,
                           const std::function<bool(const TDeviceTarget&)>& confirm)
{
    TDeviceTarget device;
    try {
        device = session.Device(manifest.Device);
    } catch (const TTargetError& error) {
        throw TBackupError(std::string(error.what()) + "; nothing was sent", ExitCode::Usage);
    }
    if (const std::string refusal = LayoutRefusal(manifest, device); !refusal.empty())
        throw TBackupError(refusal + "; nothing was sent", ExitCode::Usage);
    if (confirm && !confirm(device))
        throw TBackupError("not restored: nothing was sent", ExitCode::Interrupted);
    std::atomic<int> units{0};
    TStation station(session, {manifest, images, nullptr, units, {}, portName, portName, false}, events);
    if (const std::optional<TSessionFailure> refused = station.Place())
        throw TBackupError(refused->Message, refused->ExitCode, refused->Status);
    const std::optional<TUnitOutcome> outcome = station.RunUnit(pacing);
    if (!outcome)
        throw TBackupError(station.Failure().Message, station.Failure().ExitCode, station.Failure().Status);
    return *outcome;
}

} // namespace lindprog
