#pragma once
// printf-style formatting into a std::string, for the program's fixed
// message texts ("Read failed at offset %X (%s)" and the like).

#include <cstdio>
#include <string>

namespace lindprog {

template <typename... TArgs>
std::string Format(const char* format, TArgs... args)
{
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.pop_back();
    return text;
}

} // namespace lindprog
