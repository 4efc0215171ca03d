#include "JsonFields.h"

#include "Wire.h"

#include <charconv>
#include <limits>

namespace lindprog::sim {

void FailAt(const std::string& path, const std::string& message)
{
    throw TScenarioError(path + ": " + message);
}

namespace {

std::string Shown(const nlohmann::json& value)
{
    std::string text = value.dump();
    if (text.size() > 40)
        text = text.substr(0, 37) + "...";
    return text;
}

// "0x1A40" style strings, so addresses in scenarios can be written in hex.
bool ParseHexNumber(const std::string& text, std::uint64_t& out)
{
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    const char* first = text.data() + 2;
    const char* last = text.data() + text.size();
    const auto result = std::from_chars(first, last, out, 16);
    return result.ec == std::errc() && result.ptr == last;
}

bool AsUnsigned(const nlohmann::json& value, std::uint64_t& out)
{
    if (value.is_number_unsigned()) {
        out = value.get<std::uint64_t>();
        return true;
    }
    if (value.is_number_integer()) {
        const auto signedValue = value.get<std::int64_t>();
        if (signedValue < 0)
            return false;
        out = static_cast<std::uint64_t>(signedValue);
        return true;
    }
    if (value.is_string())
        return ParseHexNumber(value.get<std::string>(), out);
    return false;
}

// Decodes UTF-8 (already validated by the JSON parser) into code points.
bool NextCodePoint(const std::string& text, std::size_t& pos, std::uint32_t& code)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    int extra = 0;
    if (lead < 0x80) {
        code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        code = lead & 0x1F;
        extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
        code = lead & 0x0F;
        extra = 2;
    } else {
        code = lead & 0x07;
        extra = 3;
    }
    if (pos + static_cast<std::size_t>(extra) >= text.size())
        return false;
    for (int i = 1; i <= extra; ++i) {
        code = (code << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    }
    pos += static_cast<std::size_t>(extra) + 1;
    return true;
}

} // namespace

std::uint64_t ReadUnsigned(const nlohmann::json& value, const std::string& path, std::uint64_t max)
{
    std::uint64_t number = 0;
    if (!AsUnsigned(value, number) || number > max) {
        FailAt(path, "expected an unsigned integer from 0 to " + std::to_string(max) + ", got " + Shown(value));
    }
    return number;
}

std::int64_t ReadSigned(const nlohmann::json& value, const std::string& path, std::int64_t min, std::int64_t max)
{
    const std::string expected = "expected an integer from " + std::to_string(min) + " to " + std::to_string(max);
    std::uint64_t positive = 0;
    if (AsUnsigned(value, positive)) {
        if (positive > static_cast<std::uint64_t>(max))
            FailAt(path, expected + ", got " + Shown(value));
        return static_cast<std::int64_t>(positive);
    }
    if (!value.is_number_integer())
        FailAt(path, expected + ", got " + Shown(value));
    const auto number = value.get<std::int64_t>();
    if (number < min || number > max)
        FailAt(path, expected + ", got " + Shown(value));
    return number;
}

bool ReadBool(const nlohmann::json& value, const std::string& path)
{
    if (!value.is_boolean())
        FailAt(path, "expected true or false, got " + Shown(value));
    return value.get<bool>();
}

std::string ReadLatin1(const nlohmann::json& value, const std::string& path)
{
    if (!value.is_string())
        FailAt(path, "expected a string, got " + Shown(value));
    const auto& text = value.get_ref<const std::string&>();
    std::string bytes;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::uint32_t code = 0;
        if (!NextCodePoint(text, pos, code))
            FailAt(path, "malformed UTF-8");
        if (code > 0xFF) {
            FailAt(path, "character U+" + std::to_string(code) +
                             " does not fit the adapter's 8-bit character set (U+0000..U+00FF)");
        }
        bytes.push_back(static_cast<char>(code));
    }
    return bytes;
}

std::vector<std::uint8_t> ReadHex(const nlohmann::json& value, const std::string& path)
{
    if (!value.is_string())
        FailAt(path, "expected a hex string, got " + Shown(value));
    auto bytes = ParseHexBytes(value.get<std::string>());
    if (!bytes)
        FailAt(path, "expected pairs of hex digits (spaces allowed)");
    return *bytes;
}

const nlohmann::json& ExpectArray(const nlohmann::json& value, const std::string& path)
{
    if (!value.is_array())
        FailAt(path, "expected an array, got " + Shown(value));
    return value;
}

std::string IndexPath(const std::string& path, std::size_t index)
{
    return path + "[" + std::to_string(index) + "]";
}

TFieldReader::TFieldReader(const nlohmann::json& object, std::string path) : Object(object), Path(std::move(path))
{
    if (!Object.is_object()) {
        FailAt(Path.empty() ? "scenario" : Path, "expected an object, got " + Shown(Object));
    }
}

std::string TFieldReader::PathOf(std::string_view key) const
{
    return Path.empty() ? std::string(key) : Path + "." + std::string(key);
}

bool TFieldReader::Has(std::string_view key) const
{
    return Object.find(std::string(key)) != Object.end();
}

const nlohmann::json* TFieldReader::Find(std::string_view key)
{
    const auto it = Object.find(std::string(key));
    if (it == Object.end())
        return nullptr;
    Used.emplace(key);
    return &*it;
}

const nlohmann::json& TFieldReader::Require(std::string_view key)
{
    const nlohmann::json* value = Find(key);
    if (value == nullptr)
        FailAt(PathOf(key), "missing");
    return *value;
}

std::uint64_t TFieldReader::Unsigned(std::string_view key, std::uint64_t max, std::uint64_t fallback)
{
    const nlohmann::json* value = Find(key);
    return value == nullptr ? fallback : ReadUnsigned(*value, PathOf(key), max);
}

std::uint64_t TFieldReader::RequireUnsigned(std::string_view key, std::uint64_t max)
{
    return ReadUnsigned(Require(key), PathOf(key), max);
}

std::int64_t TFieldReader::Signed(std::string_view key, std::int64_t min, std::int64_t max, std::int64_t fallback)
{
    const nlohmann::json* value = Find(key);
    return value == nullptr ? fallback : ReadSigned(*value, PathOf(key), min, max);
}

bool TFieldReader::Bool(std::string_view key, bool fallback)
{
    const nlohmann::json* value = Find(key);
    return value == nullptr ? fallback : ReadBool(*value, PathOf(key));
}

std::string TFieldReader::Latin1(std::string_view key, const std::string& fallback)
{
    const nlohmann::json* value = Find(key);
    return value == nullptr ? fallback : ReadLatin1(*value, PathOf(key));
}

void TFieldReader::RejectUnknown() const
{
    for (const auto& [key, value] : Object.items()) {
        if (Used.find(key) == Used.end())
            FailAt(PathOf(key), "unknown key");
    }
}

} // namespace lindprog::sim
