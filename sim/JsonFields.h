#pragma once

// Strict reading of scenario JSON: every value is checked for type and range,
// unknown keys are rejected (a typo in a test scenario should fail loudly, not
// silently fall back to a default), and every error names the field by its
// path, e.g. "devices[1].regions[0].size".

#include <nlohmann/json.hpp>

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lindprog::sim {

class TScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void FailAt(const std::string& path, const std::string& message);

// Unsigned integer in [0, max]; accepts JSON numbers and "0x..." strings.
std::uint64_t ReadUnsigned(const nlohmann::json& value, const std::string& path, std::uint64_t max);
// Signed integer in [min, max] (JSON numbers only, plus "0x..." for positives).
std::int64_t ReadSigned(const nlohmann::json& value, const std::string& path, std::int64_t min, std::int64_t max);
bool ReadBool(const nlohmann::json& value, const std::string& path);
// Text sent to the host as 8-bit characters: each character must be U+0000..U+00FF.
std::string ReadLatin1(const nlohmann::json& value, const std::string& path);
std::vector<std::uint8_t> ReadHex(const nlohmann::json& value, const std::string& path);
const nlohmann::json& ExpectArray(const nlohmann::json& value, const std::string& path);

class TFieldReader {
public:
    TFieldReader(const nlohmann::json& object, std::string path);

    bool Has(std::string_view key) const;
    // Marks the key as understood; nullptr when absent.
    const nlohmann::json* Find(std::string_view key);
    const nlohmann::json& Require(std::string_view key);
    std::string PathOf(std::string_view key) const;

    std::uint64_t Unsigned(std::string_view key, std::uint64_t max, std::uint64_t fallback);
    std::uint64_t RequireUnsigned(std::string_view key, std::uint64_t max);
    std::int64_t Signed(std::string_view key, std::int64_t min, std::int64_t max, std::int64_t fallback);
    bool Bool(std::string_view key, bool fallback);
    std::string Latin1(std::string_view key, const std::string& fallback);

    // Throws naming the first key nobody asked for.
    void RejectUnknown() const;

private:
    const nlohmann::json& Object;
    std::string Path;
    std::set<std::string, std::less<>> Used;
};

// "devices" + 2 -> "devices[2]"
std::string IndexPath(const std::string& path, std::size_t index);

} // namespace lindprog::sim
