#include "core/link/ReplyLayout.h"

#include "core/base/AdapterText.h"

#include <algorithm>

namespace lindprog {

std::string ReadReplyText(std::span<const std::uint8_t> data)
{
    const auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
    return AdapterTextToUtf8(data.first(static_cast<std::size_t>(end - data.begin())));
}

} // namespace lindprog
