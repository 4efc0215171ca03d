#include "core/base/Passwords.h"

#include <algorithm>
#include <cctype>

namespace lindprog {

namespace {

bool EndsUri(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) || c == '"' || c == '\'';
}

bool InScheme(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// One URI, "scheme://..." whole (or "scheme:/...": a path made absolute
// folds the two slashes of a URI given as a file name into one).
std::string UriWithoutPassword(std::string_view uri)
{
    std::size_t authority = uri.find(":/") + 1;
    while (authority < uri.size() && uri[authority] == '/')
        ++authority;
    const std::size_t query = std::min(uri.find('?'), uri.size());
    std::string text(uri.substr(0, query));
    // The last '@' ends the user part: a password may hold '@' and '/'.
    if (const std::size_t at = text.rfind('@'); at != std::string::npos && at > authority) {
        if (const std::size_t colon = text.find(':', authority); colon < at)
            text.erase(colon, at - colon);
    }
    std::string kept;
    for (std::size_t start = query + 1; start <= uri.size();) {
        const std::size_t end = std::min(uri.find('&', start), uri.size());
        const std::string_view parameter = uri.substr(start, end - start);
        if (!parameter.empty() && !parameter.starts_with("password="))
            kept += std::string(kept.empty() ? "?" : "&") + std::string(parameter);
        start = end + 1;
    }
    return text + kept;
}

} // namespace

std::string WithoutPasswords(std::string_view text)
{
    std::string shown;
    std::size_t done = 0;
    for (std::size_t mark = text.find(":/"); mark != std::string_view::npos; mark = text.find(":/", mark + 2)) {
        std::size_t start = mark;
        while (start > done && InScheme(text[start - 1]))
            --start;
        if (start == mark || !std::isalpha(static_cast<unsigned char>(text[start])))
            continue; // no scheme before it
        std::size_t end = mark + 2;
        while (end < text.size() && !EndsUri(text[end]))
            ++end;
        shown.append(text.substr(done, start - done));
        shown += UriWithoutPassword(text.substr(start, end - start));
        done = end;
        mark = end - 2; // the next search starts past this URI
    }
    shown.append(text.substr(done));
    return shown;
}

} // namespace lindprog
