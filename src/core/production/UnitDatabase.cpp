#include "core/production/UnitDatabase.h"

#include "core/base/Passwords.h"
#include "core/base/TextFormat.h"
#include "core/production/PgUnitDatabase.h"
#include "core/production/SqliteUnitDatabase.h"
#include "core/production/UnitRow.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <ctime>

namespace lindprog {

namespace {

// Seconds since 1970 of a UtcTimestamp; nothing for any other text.
std::optional<double> EpochSeconds(const std::string& stamp)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0;
    if (std::sscanf(stamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%lf", &year, &month, &day, &hour, &minute, &second) != 6)
        return std::nullopt;
    // Days from the civil date (Howard Hinnant's algorithm): no time zone
    // of this host may enter a UTC stamp.
    year -= month <= 2 ? 1 : 0;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const double days = static_cast<double>(era) * 146097 + dayOfEra - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::optional<std::uint64_t> UnsignedOf(const std::optional<std::string>& text)
{
    if (!text || text->empty())
        return std::nullopt;
    return std::stoull(*text);
}

} // namespace

std::string UtcTimestamp(std::chrono::system_clock::time_point time)
{
    const auto since = time.time_since_epoch();
    const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                  utc.tm_min, utc.tm_sec, static_cast<int>(millis));
}

std::string StepsJson(const std::vector<TUnitStep>& steps)
{
    nlohmann::json list = nlohmann::json::array();
    for (const TUnitStep& step : steps)
        list.push_back({{"step", step.Title}, {"result", step.Result}, {"line", step.Line}});
    return list.dump();
}

std::string ImageCrcText(std::uint32_t crc)
{
    return Format("%08X", crc);
}

std::optional<std::uint32_t> ImageCrcOf(const std::string& text)
{
    std::uint32_t crc = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), crc, 16);
    if (text.size() != 8 || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return crc;
}

std::vector<TUnitStep> StepsFromJson(const std::string& text)
{
    std::vector<TUnitStep> steps;
    const auto list = nlohmann::json::parse(text, nullptr, false);
    if (!list.is_array())
        return steps;
    for (const auto& step : list)
        if (step.is_object())
            steps.push_back({step.value("step", ""), step.value("result", ""), step.value("line", "")});
    return steps;
}

TRowFields UnitRowOf(const TUnitRecord& record)
{
    const auto number = [](const auto& value) -> std::optional<std::string> {
        if (!value)
            return std::nullopt;
        return std::to_string(*value);
    };
    return {record.Started,
            record.Ended,
            record.Station,
            record.Port,
            record.Adapter,
            record.Firmware,
            record.AdapterKey,
            record.Device,
            record.Job,
            record.JobHash,
            StepsJson(record.Steps),
            number(record.Serial),
            record.ImageCrc ? std::optional<std::string>(ImageCrcText(*record.ImageCrc)) : std::nullopt,
            std::string(record.Passed ? "PASS" : "FAIL"),
            std::to_string(record.ExitCode),
            record.FailedStep,
            record.Message,
            Format("%.6f", record.Seconds)};
}

TUnitRecord UnitFromRow(std::int64_t id, const std::function<std::optional<std::string>(int)>& field)
{
    const auto text = [&](int column) { return field(column).value_or(""); };
    TUnitRecord record;
    record.Id = id;
    std::string* const texts[] = {&record.Started,  &record.Ended,      &record.Station, &record.Port, &record.Adapter,
                                  &record.Firmware, &record.AdapterKey, &record.Device,  &record.Job,  &record.JobHash};
    for (int column = 0; column < 10; ++column)
        *texts[column] = text(column);
    record.Steps = StepsFromJson(text(10));
    record.Serial = UnsignedOf(field(11));
    record.ImageCrc = ImageCrcOf(text(12));
    record.Passed = text(13) == "PASS";
    record.ExitCode = static_cast<int>(UnsignedOf(field(14)).value_or(0));
    record.FailedStep = text(15);
    record.Message = text(16);
    record.Seconds = std::strtod(text(17).c_str(), nullptr);
    return record;
}

TUnitStats StatsOf(const std::vector<TUnitRecord>& units)
{
    TUnitStats stats;
    std::optional<double> first, last;
    for (const TUnitRecord& unit : units) {
        ++stats.Units;
        if (unit.Passed)
            ++stats.Passed;
        else
            ++stats.FailuresByStep[unit.FailedStep];
        if (const auto start = EpochSeconds(unit.Started))
            first = std::min(first.value_or(*start), *start);
        if (const auto end = EpochSeconds(unit.Ended))
            last = std::max(last.value_or(*end), *end);
    }
    const double hours = first && last ? (*last - *first) / 3600.0 : 0.0;
    stats.UnitsPerHour = hours > 0 ? static_cast<double>(stats.Units) / hours : 0.0;
    return stats;
}

std::vector<std::pair<std::string, TUnitStats>> StatsByStation(const std::vector<TUnitRecord>& units)
{
    std::map<std::string, std::vector<TUnitRecord>> byStation;
    for (const TUnitRecord& unit : units)
        byStation[unit.Station].push_back(unit);
    std::vector<std::pair<std::string, TUnitStats>> stats;
    for (const auto& [station, records] : byStation)
        stats.emplace_back(station, StatsOf(records));
    return stats;
}

bool IsServerDatabase(const std::string& where)
{
    return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::string WithoutPassword(const std::string& where)
{
    return IsServerDatabase(where) ? WithoutPasswords(where) : where;
}

std::unique_ptr<TUnitDatabase> OpenUnitDatabase(const std::string& where)
{
    if (IsServerDatabase(where))
        return std::make_unique<TPgUnitDatabase>(where);
    return std::make_unique<TSqliteUnitDatabase>(where);
}

} // namespace lindprog
