#include "core/production/Job.h"

#include "core/base/Suggestion.h"
#include "core/buffer/FileAccess.h"
#include "core/ops/Operation.h"
#include "core/production/UnitDatabase.h"
#include "core/settings/Settings.h"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <limits>

namespace lindprog {

namespace {

// A job file is a page of text; anything much larger is the wrong file.
constexpr std::uint64_t MaxJobFileSize = 1024 * 1024;
constexpr std::int64_t Unbounded = std::numeric_limits<std::int64_t>::max();

constexpr std::array<std::string_view, 9> TopLevelKeys{
    "name", "device", "voltage", "jtag_delay", "power_off", "ignore_read_errors", "step", "serial", "backup"};
constexpr std::array<std::string_view, 7> StepKeys{"region", "operation",  "image",    "base",
                                                   "pad",    "expect_crc", "preverify"};
constexpr std::array<std::string_view, 6> SerialKeys{"region", "offset", "format", "start", "step", "db"};
constexpr std::array<std::string_view, 7> BackupKeys{"device", "adapter", "firmware", "key",
                                                     "date",   "regions", "region"};
constexpr std::array<std::string_view, 8> BackupRegionKeys{"name", "index", "size",   "flags",
                                                           "file", "crc32", "sha256", "failed_reads"};

// The keys of one table, with errors that name the file and the key's place
// ("step[2].image"). A key the table does not know is refused before any is
// read: "fromat" is then named as the typo it is, with the key it stands
// for, rather than "format" as missing.
class TFields {
public:
    TFields(const toml::table& table, const std::string& file, std::string prefix,
            std::span<const std::string_view> keys)
        : Table(table), File(file), Prefix(std::move(prefix))
    {
        for (const auto& [key, node] : Table)
            if (std::find(keys.begin(), keys.end(), key.str()) == keys.end())
                Fail(key.str(), "unknown key" + DidYouMean(key.str(), keys));
    }

    std::string Place(std::string_view key) const { return Prefix + std::string(key); }
    [[noreturn]] void Fail(std::string_view key, const std::string& problem) const
    {
        throw TJobError(File, Place(key), problem);
    }

    const toml::node* Take(std::string_view key) { return Table.get(key); }
    bool Has(std::string_view key) const { return Table.contains(key); }

    std::optional<std::string> Text(std::string_view key)
    {
        const toml::node* node = Take(key);
        if (node == nullptr)
            return std::nullopt;
        if (!node->is_string())
            Fail(key, "expected a string");
        return node->value<std::string>();
    }

    std::optional<std::int64_t> Integer(std::string_view key, std::int64_t least, std::int64_t most)
    {
        const toml::node* node = Take(key);
        if (node == nullptr)
            return std::nullopt;
        if (!node->is_integer())
            Fail(key, "expected an integer");
        const std::int64_t value = node->as_integer()->get();
        if (value < least || value > most)
            Fail(key, std::to_string(value) + " is out of range (" + std::to_string(least) + " to " +
                          std::to_string(most) + ")");
        return value;
    }

    std::optional<bool> Bool(std::string_view key)
    {
        const toml::node* node = Take(key);
        if (node == nullptr)
            return std::nullopt;
        if (!node->is_boolean())
            Fail(key, "expected true or false");
        return node->as_boolean()->get();
    }

    std::optional<TEntryChoice> Entry(std::string_view key)
    {
        const toml::node* node = Take(key);
        if (node == nullptr)
            return std::nullopt;
        if (node->is_integer() && node->as_integer()->get() >= 0)
            return TEntryChoice{{}, static_cast<std::size_t>(node->as_integer()->get())};
        if (!node->is_string() || node->as_string()->get().empty())
            Fail(key, "expected a name or an index from 0");
        return TEntryChoice{node->as_string()->get(), std::nullopt};
    }

private:
    const toml::table& Table;
    const std::string& File;
    const std::string Prefix;
};

std::filesystem::path Folder(const std::string& jobPath)
{
    return std::filesystem::path(jobPath).parent_path();
}

std::string PathBeside(const std::string& jobPath, const std::string& name)
{
    return (Folder(jobPath) / name).lexically_normal().string();
}

// "1A2B3C4D" or 0x1A2B3C4D: the log prints CRCs as eight hex digits, so a job
// may quote them as they were read off a log.
std::uint32_t ExpectedCrc(TFields& fields, std::string_view key = "expect_crc")
{
    const toml::node* node = fields.Take(key);
    if (node->is_integer()) {
        const std::int64_t value = node->as_integer()->get();
        if (value < 0 || value > 0xFFFFFFFF)
            fields.Fail(key, "out of range for a CRC-32");
        return static_cast<std::uint32_t>(value);
    }
    std::string_view digits = node->is_string() ? std::string_view(node->as_string()->get()) : std::string_view();
    if (digits.starts_with("0x") || digits.starts_with("0X"))
        digits.remove_prefix(2);
    std::uint32_t crc = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), crc, 16);
    if (digits.empty() || digits.size() > 8 || error != std::errc() || end != digits.data() + digits.size())
        fields.Fail(key, "expected a CRC-32: an integer or up to 8 hex digits");
    return crc;
}

void ReadStepOperation(TFields& fields, TJobStep& step)
{
    const auto name = fields.Text("operation");
    if (!name)
        fields.Fail("operation", "missing");
    if (*name == "compare") {
        step.Compare = true;
        step.Operation = TOperation::Read;
        return;
    }
    const auto operation = OperationNamed(*name);
    if (!operation)
        fields.Fail("operation", "unknown operation '" + *name +
                                     "'; use read, write, verify, program, erase, blank-check, unlock or compare");
    step.Operation = *operation;
}

void ReadStepImage(TFields& fields, TJobStep& step, const std::string& jobPath)
{
    const bool reads = step.Operation == TOperation::Read && !step.Compare;
    const bool takesImage = step.Compare || SendsImage(step.Operation) || reads;
    if (const auto image = fields.Text("image"))
        step.Image = PathBeside(jobPath, *image);
    if (step.Image.empty() && takesImage && !reads)
        fields.Fail("image", "missing: " + step.OperationName() + " needs an image");
    if (!step.Image.empty() && !takesImage)
        fields.Fail("image", step.OperationName() + " takes no image");
    if (const auto base = fields.Integer("base", 0, Unbounded))
        step.Base = static_cast<std::uint64_t>(*base);
    step.Pad = fields.Bool("pad").value_or(false);
    if (fields.Has("expect_crc"))
        step.ExpectCrc = ExpectedCrc(fields);
    step.Preverify = fields.Bool("preverify").value_or(false);
    const char* alone = step.Base ? "base" : step.Pad ? "pad" : step.ExpectCrc ? "expect_crc" : nullptr;
    if (alone != nullptr && step.Image.empty())
        fields.Fail(alone, "only for a step with an image");
    if ((step.Pad || step.ExpectCrc) && reads)
        fields.Fail(step.Pad ? "pad" : "expect_crc", "only for a step that sends or checks an image");
    if (step.Preverify && step.Operation != TOperation::Write && step.Operation != TOperation::Program)
        fields.Fail("preverify", "only for write and program");
}

TJobStep ReadStep(const toml::table& table, std::size_t number, const std::string& jobPath)
{
    TFields fields(table, jobPath, "step[" + std::to_string(number) + "].", StepKeys);
    TJobStep step;
    step.Number = number;
    const auto region = fields.Entry("region");
    if (!region)
        fields.Fail("region", "missing");
    step.Region = *region;
    ReadStepOperation(fields, step);
    ReadStepImage(fields, step, jobPath);
    return step;
}

TSerialRule ReadSerial(const toml::table& table, const std::string& jobPath)
{
    TFields fields(table, jobPath, "serial.", SerialKeys);
    TSerialRule rule;
    const auto region = fields.Entry("region");
    const auto offset = fields.Integer("offset", 0, std::numeric_limits<std::uint32_t>::max());
    const auto format = fields.Text("format");
    if (!region || !offset || !format)
        fields.Fail(!region ? "region" : !offset ? "offset" : "format", "missing");
    const auto parsed = TSerialFormat::Parse(*format);
    if (!parsed)
        fields.Fail("format", "unknown format '" + *format +
                                  "'; use u32le, u32be, u64le, u64be, ascii-dec:WIDTH or ascii-hex:WIDTH "
                                  "(WIDTH 1 to 20)");
    rule.Region = *region;
    rule.Offset = static_cast<std::uint64_t>(*offset);
    rule.Format = *parsed;
    rule.Start = static_cast<std::uint64_t>(fields.Integer("start", 0, Unbounded).value_or(1));
    rule.Step = static_cast<std::uint64_t>(fields.Integer("step", 1, Unbounded).value_or(1));
    if (rule.Start > rule.Format.Largest())
        fields.Fail("start", "does not fit " + rule.Format.Text());
    if (const auto database = fields.Text("db"))
        rule.Database = IsServerDatabase(*database) ? *database : PathBeside(jobPath, *database);
    return rule;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> ReadFailedReads(TFields& fields)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> blocks;
    const toml::node* node = fields.Take("failed_reads");
    if (node == nullptr)
        return blocks;
    const toml::array* list = node->as_array();
    if (list == nullptr)
        fields.Fail("failed_reads", "expected a list of [offset, length] pairs");
    for (const toml::node& item : *list) {
        const toml::array* pair = item.as_array();
        const auto offset = pair && pair->size() == 2 ? (*pair)[0].value<std::int64_t>() : std::nullopt;
        const auto length = pair && pair->size() == 2 ? (*pair)[1].value<std::int64_t>() : std::nullopt;
        if (!offset || !length || *offset < 0 || *length <= 0 || *offset > 0xFFFFFFFF || *length > 0xFFFFFFFF)
            fields.Fail("failed_reads", "expected a list of [offset, length] pairs");
        blocks.emplace_back(static_cast<std::uint32_t>(*offset), static_cast<std::uint32_t>(*length));
    }
    return blocks;
}

TBackupRegion ReadBackupRegion(const toml::table& table, std::size_t number, const std::string& jobPath)
{
    TFields fields(table, jobPath, "backup.region[" + std::to_string(number) + "].", BackupRegionKeys);
    TBackupRegion region;
    const auto name = fields.Text("name");
    const auto index = fields.Integer("index", 0, 255);
    const auto size = fields.Integer("size", 0, std::numeric_limits<std::uint32_t>::max());
    const auto flags = fields.Integer("flags", 0, std::numeric_limits<std::uint32_t>::max());
    const auto file = fields.Text("file");
    const auto sha = fields.Text("sha256");
    if (!name || !index || !size || !flags || !file || !sha || !fields.Has("crc32"))
        fields.Fail(!name    ? "name"
                    : !index ? "index"
                    : !size  ? "size"
                    : !flags ? "flags"
                    : !file  ? "file"
                    : !sha   ? "sha256"
                             : "crc32",
                    "missing");
    if (sha->size() != 64 || sha->find_first_not_of("0123456789abcdef") != std::string::npos)
        fields.Fail("sha256", "expected 64 lowercase hex digits");
    region.Name = *name;
    region.Index = static_cast<std::size_t>(*index);
    region.Size = static_cast<std::uint32_t>(*size);
    region.Flags = static_cast<std::uint32_t>(*flags);
    region.File = PathBeside(jobPath, *file);
    region.Crc = ExpectedCrc(fields, "crc32");
    region.Sha256 = *sha;
    region.FailedReads = ReadFailedReads(fields);
    return region;
}

TBackupInfo ReadBackup(const toml::table& table, const std::string& jobPath)
{
    TFields fields(table, jobPath, "backup.", BackupKeys);
    TBackupInfo backup;
    const auto device = fields.Text("device");
    if (!device)
        fields.Fail("device", "missing: the name of the device backed up");
    backup.Device = *device;
    backup.Adapter = fields.Text("adapter").value_or("");
    backup.Firmware = fields.Text("firmware").value_or("");
    backup.Key = fields.Text("key").value_or("");
    backup.Date = fields.Text("date").value_or("");
    const auto count = fields.Integer("regions", 0, 255);
    if (!count)
        fields.Fail("regions", "missing: the device's region count");
    backup.RegionCount = static_cast<std::size_t>(*count);
    const toml::node* regions = fields.Take("region");
    if (regions == nullptr || !regions->is_array_of_tables())
        fields.Fail("region", "a backup needs its [[backup.region]] tables");
    std::size_t number = 0;
    for (const auto& region : *regions->as_array())
        backup.Regions.push_back(ReadBackupRegion(*region.as_table(), ++number, jobPath));
    return backup;
}

std::optional<std::string> ReadVoltage(TFields& fields)
{
    const toml::node* node = fields.Take("voltage");
    if (node == nullptr)
        return std::nullopt;
    // voltage = 3.3 reads as naturally as "3.3".
    if (const auto number = node->value_exact<double>(); number && (*number == 3.3 || *number == 5.0))
        return *number == 3.3 ? "3.3" : "5.0";
    const auto text = node->value_exact<std::string>();
    if (!text || (*text != "3.3" && *text != "5.0" && *text != "3+5"))
        fields.Fail("voltage", "expected \"3.3\", \"5.0\" or \"3+5\"");
    return text;
}

void ReadSteps(TFields& fields, TJob& job)
{
    const toml::node* steps = fields.Take("step");
    if (steps == nullptr || !steps->is_array_of_tables() || steps->as_array()->empty())
        fields.Fail("step", "a job needs at least one [[step]] table");
    std::size_t number = 0;
    for (const auto& table : *steps->as_array())
        job.Steps.push_back(ReadStep(*table.as_table(), ++number, job.Path));
}

void ReadTopLevel(TFields& fields, TJob& job)
{
    const auto name = fields.Text("name");
    if (!name || name->empty())
        fields.Fail("name", "missing: a job needs a name for its records");
    job.Name = *name;
    job.Device = fields.Entry("device").value_or(TEntryChoice{{}, 0});
    job.Voltage = ReadVoltage(fields);
    job.JtagDelay = fields.Integer("jtag_delay", TSettings::MinJtagDelay, TSettings::MaxJtagDelay);
    job.PowerOff = fields.Bool("power_off");
    job.IgnoreReadErrors = fields.Bool("ignore_read_errors");
}

} // namespace

TJobError::TJobError(const std::string& file, const std::string& place, const std::string& problem)
    : std::runtime_error(file + ": " + (place.empty() ? "" : place + ": ") + problem), Place(place)
{
}

std::string TJobStep::OperationName() const
{
    return Compare ? "compare" : OperationInfo(Operation).Command;
}

std::string TJobStep::Title() const
{
    return "step " + std::to_string(Number) + " " + OperationName();
}

bool SendsImage(TOperation operation)
{
    return operation == TOperation::Write || operation == TOperation::Verify || operation == TOperation::Program;
}

TJob ParseJob(std::string_view text, const std::string& path)
{
    TJob job;
    job.Path = std::filesystem::absolute(path).lexically_normal().string();
    job.Source = text;
    toml::table document;
    try {
        document = toml::parse(text, job.Path);
    } catch (const toml::parse_error& error) {
        throw TJobError(job.Path, "line " + std::to_string(error.source().begin.line),
                        std::string(error.description()));
    }
    TFields fields(document, job.Path, "", TopLevelKeys);
    ReadTopLevel(fields, job);
    ReadSteps(fields, job);
    if (const toml::node* serial = fields.Take("serial")) {
        if (!serial->is_table())
            fields.Fail("serial", "expected a [serial] table");
        job.Serial = ReadSerial(*serial->as_table(), job.Path);
    }
    if (const toml::node* backup = fields.Take("backup")) {
        if (!backup->is_table())
            fields.Fail("backup", "expected a [backup] table");
        job.Backup = ReadBackup(*backup->as_table(), job.Path);
    }
    return job;
}

TJob LoadJob(const std::string& path)
{
    const std::string name = std::filesystem::absolute(path).lexically_normal().string();
    TFileReader file(name);
    if (!file.IsOpen())
        throw TJobError(name, "", "cannot be read (" + file.Failure() + ")");
    if (file.Size() > MaxJobFileSize)
        throw TJobError(name, "", "is no job file (larger than 1 MiB)");
    std::string text(static_cast<std::size_t>(file.Size()), '\0');
    const auto read = file.ReadUpTo(std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
    if (!read)
        throw TJobError(name, "", "cannot be read (" + file.Failure() + ")");
    text.resize(*read);
    return ParseJob(text, name);
}

std::string JobDatabasePath(const TJob& job)
{
    if (job.Serial && !job.Serial->Database.empty())
        return job.Serial->Database;
    return std::filesystem::path(job.Path).replace_extension(".db").string();
}

} // namespace lindprog
