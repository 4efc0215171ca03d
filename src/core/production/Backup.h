#pragma once
// Everything a device holds, saved before it is reprogrammed, and put back:
// every readable region into a file of its own in one folder, and a manifest
// beside them that says where each came from and what it held. The manifest
// is a job file: one program step per region it can erase and write (with preverify, so a
// region that still holds its backup is not rewritten), a verify step for
// the others, each with its file's CRC as expect_crc; its [backup] table
// carries the adapter, the date and each file's SHA-256. Restoring runs that
// job once the files and the device's layout check out.

#include "core/ops/AdapterSession.h"
#include "core/production/Job.h"
#include "core/production/JobImages.h"
#include "core/production/Station.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lindprog {

inline constexpr const char* ManifestName = "manifest.toml";

// A backup or restore that cannot go on; ExitCode as lindprog-cli exits
// for it.
class TBackupError : public std::runtime_error {
public:
    TBackupError(const std::string& text, int exitCode, std::uint8_t status = 0)
        : std::runtime_error(text), ExitCode(exitCode), Status(status)
    {
    }
    int ExitCode;
    std::uint8_t Status;
};

// A file name for each region: its name with everything but letters,
// digits, '.', '-' and '_' as '_', and ".bin"; names that come out alike
// (also when only their case differs) get their region's index too.
std::vector<std::string> BackupFileNames(const std::vector<std::string>& regionNames);

// The manifest's text for a backup of the adapter's device `deviceIndex`.
// A region with failed reads gets no step: it cannot be put back.
std::string ManifestText(const TBackupInfo& backup, std::uint8_t deviceIndex);

// Which device is backed up, and where to.
struct TBackupRequest {
    TEntryChoice Device;
    std::string Folder;
};

// Reads every readable region of the device into the folder (made when
// missing; no file in it is overwritten), as one plan of a Read per region,
// and writes the manifest last. A read that fails leaves no manifest and
// removes the files written. Blocks the session's prompts said to ignore
// go into the manifest, and restore leaves their regions out. The session
// is connected. Throws TBackupError.
TBackupInfo BackUpDevice(TAdapterSession& session, const TBackupRequest& request, const TRunPacing& pacing);

// Every file of the backup against its CRC-32 and SHA-256, before anything
// is sent: throws TBackupError naming the first file that differs.
void CheckBackupFiles(const TBackupInfo& backup);

// Why the device cannot take the backup (another name, region count, or a
// region with another name, size or flags); empty when it can.
std::string LayoutRefusal(const TJob& manifest, const TDeviceTarget& device);

// What a restore leaves out and why: the regions read with errors.
std::vector<std::string> UnrestoredRegions(const TBackupInfo& backup);

// Puts the backup back through a connected session: the device the manifest
// names, its layout checked against the backup's (nothing is sent to the
// target when it differs), then the manifest's job run once, so a region
// that still holds its file is only verified. `confirm`, when given, is
// asked once the layout holds and before anything is erased. `events` hears
// the unit as a station's. Throws TBackupError.
TUnitOutcome RestoreDevice(TAdapterSession& session, const TJob& manifest, const TJobImages& images,
                           const TRunPacing& pacing, TStationEvents& events, const std::string& portName,
                           const std::function<bool(const TDeviceTarget&)>& confirm = {});

} // namespace lindprog
