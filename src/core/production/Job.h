#pragma once
// A production job: one TOML file that says everything a station does to each
// board (device, regions, images, voltage, checks, serial number), so that no
// operator retypes options. This unit reads the file and checks every key and
// value; the images are read by JobImages and placed against the adapter's
// catalogue by JobPlan.
//
// Keys the program does not know are errors, not ignored: a misspelt
// `expect_crc` would otherwise switch a check off without anyone noticing.
// Steps are counted from 1 in every message, as the verdict line counts them.

#include "core/link/AdapterCommands.h"
#include "core/ops/Target.h"
#include "core/production/SerialFormat.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lindprog {

// "line.toml: step[2].image: no such file": the file, the place in it (a key,
// or "line 3" for a syntax error) and what is wrong.
class TJobError : public std::runtime_error {
public:
    TJobError(const std::string& file, const std::string& place, const std::string& problem);
    std::string Place;
};

struct TJobStep {
    std::size_t Number = 1; // from 1
    TEntryChoice Region;
    TOperation Operation = TOperation::Read;
    // Read the region and compare it with the image on the computer, rather
    // than the adapter comparing (Verify): the report can then say where and
    // how the bytes differ. Operation is Read.
    bool Compare = false;
    std::string Image; // absolute path; empty for none
    std::optional<std::uint64_t> Base;
    bool Pad = false;
    bool Preverify = false;
    std::optional<std::uint32_t> ExpectCrc;

    // "program", "compare", ...: the name the job gives the operation.
    std::string OperationName() const;
    // "step 2 program": how messages and the verdict line name the step.
    std::string Title() const;
};

struct TSerialRule {
    TEntryChoice Region;
    std::uint64_t Offset = 0;
    TSerialFormat Format;
    std::uint64_t Start = 1;
    std::uint64_t Step = 1;
    std::string Database; // absolute path, or a server's URI; empty: JobDatabasePath's default
};

// A region as a backup saved it: where it was, its file beside the
// manifest and the checksums of that file. FailedReads: blocks that could
// not be read (a backup made ignoring read errors); such a region is not
// restored.
struct TBackupRegion {
    std::string Name;
    std::size_t Index = 0;
    std::uint32_t Size = 0;
    std::uint32_t Flags = 0;
    std::string File; // absolute
    std::uint32_t Crc = 0;
    std::string Sha256;                                               // 64 lowercase hex digits
    std::vector<std::pair<std::uint32_t, std::uint32_t>> FailedReads; // offset, length
};

// A backup's manifest is a job that puts the device back (its [backup]
// table says where the bytes came from).
struct TBackupInfo {
    std::string Device; // its name; the job's device is its index
    std::string Adapter;
    std::string Firmware;
    std::string Key;
    std::string Date;            // UTC
    std::size_t RegionCount = 0; // of the device, readable or not
    std::vector<TBackupRegion> Regions;
};

struct TJob {
    std::string Path;   // absolute
    std::string Source; // the file's text, for the records' hash
    std::string Name;
    TEntryChoice Device;
    std::optional<std::string> Voltage; // "3.3", "5.0" or "3+5"
    std::optional<std::int32_t> JtagDelay;
    std::optional<bool> PowerOff;
    std::optional<bool> IgnoreReadErrors;
    std::vector<TJobStep> Steps;
    std::optional<TSerialRule> Serial;
    std::optional<TBackupInfo> Backup; // a backup's manifest
};

// Whether a step of this operation sends the image (write, program), checks
// against it (verify, compare) or may save into it (read).
bool SendsImage(TOperation operation);

// The job in `text`, as read from `path` (which places relative paths and
// names the file in errors). Throws TJobError.
TJob ParseJob(std::string_view text, const std::string& path);
// Reads and parses the file. Throws TJobError, also when it cannot be read.
TJob LoadJob(const std::string& path);

// The job's unit database: the one its [serial] names, else beside the job
// under its own name (".db" for ".toml"). The command line's --db comes
// before either.
std::string JobDatabasePath(const TJob& job);

} // namespace lindprog
