#include "core/base/AdapterText.h"

#include "core/base/TextFormat.h"

#include <array>

namespace lindprog {

namespace {

// Code points of 0x80-0x9F; the unassigned ones keep their own number.
constexpr std::array<char32_t, 32> HighControls = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                   0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& text, char32_t point)
{
    if (point < 0x80) {
        text.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (point >> 6)));
        text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        text.push_back(static_cast<char>(0xE0 | (point >> 12)));
        text.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

} // namespace

std::string AdapterTextToUtf8(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (const std::uint8_t byte : bytes)
        AppendUtf8(text, byte >= 0x80 && byte < 0xA0 ? HighControls[byte - 0x80] : char32_t{byte});
    return text;
}

std::string ShowControlCharacters(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t k = 0; k < text.size(); ++k) {
        const auto byte = static_cast<unsigned char>(text[k]);
        // C1 controls are U+0080-U+009F: 0xC2 and a second byte 0x80-0x9F.
        const bool c1 = byte == 0xC2 && k + 1 < text.size() && (static_cast<unsigned char>(text[k + 1]) & 0xE0) == 0x80;
        if (byte >= 0x20 && byte != 0x7F && !c1) {
            shown += text[k];
            continue;
        }
        const unsigned code = c1 ? static_cast<unsigned char>(text[++k]) : byte;
        switch (code) {
        case '\n': shown += "\\n"; break;
        case '\r': shown += "\\r"; break;
        case '\t': shown += "\\t"; break;
        default: shown += Format("\\x%02X", code); break;
        }
    }
    return shown;
}

} // namespace lindprog
