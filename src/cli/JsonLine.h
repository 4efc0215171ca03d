#pragma once
// Builds the one-line JSON objects of --json output. Only writing is needed
// here, and only objects, arrays, strings, numbers and booleans, so a small
// writer keeps the command line free of a JSON library.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lindprog::cli {

// A string as a JSON string literal, quotes included. The text is UTF-8
// already (adapter texts are decoded once in the core); control characters
// are escaped.
std::string JsonString(std::string_view text);

class TJsonObject {
public:
    TJsonObject& Add(std::string_view key, std::string_view value);
    TJsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
    TJsonObject& Add(std::string_view key, std::int64_t value);
    TJsonObject& Add(std::string_view key, int value) { return Add(key, std::int64_t{value}); }
    TJsonObject& Add(std::string_view key, std::uint32_t value) { return Add(key, std::int64_t{value}); }
    TJsonObject& Add(std::string_view key, double value);
    TJsonObject& Add(std::string_view key, bool value);
    // value is JSON text already (a nested object or array).
    TJsonObject& AddRaw(std::string_view key, std::string_view value);
    std::string Text() const { return "{" + Members + "}"; }

private:
    void Key(std::string_view key);
    std::string Members;
};

// "[a,b,...]" from items that are JSON text already.
std::string JsonArray(const std::vector<std::string>& items);

} // namespace lindprog::cli
