// What both systems' file access share: the order of the in-place rewrite.

#include "core/buffer/FileAccess.h"

namespace lindprog {

unsigned long RewriteInPlace(TFileInPlace& file, std::span<const std::uint8_t> bytes)
{
    // Emptying the file first would lose the old contents to a disk that
    // then turns out too small; the room is taken while they still stand.
    if (const unsigned long error = file.Reserve(bytes.size()))
        return error;
    if (const unsigned long error = file.WriteFromStart(bytes))
        return error;
    if (const unsigned long error = file.CutAt(bytes.size()))
        return error;
    return file.Flush();
}

} // namespace lindprog
