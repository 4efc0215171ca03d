// What both implementations of TCom share: the write deadline.

#include "core/link/Com.h"

namespace lindprog {

namespace {
std::atomic<int> WriteConstantMs{TCom::WriteTimeoutConstantMs};
std::atomic<int> WritePerByteMs{TCom::WriteTimeoutPerByteMs};
} // namespace

int TCom::WriteTimeoutMs(std::size_t count)
{
    return WriteConstantMs.load() + WritePerByteMs.load() * static_cast<int>(count);
}

void TCom::SetWriteTimeout(int constantMs, int perByteMs)
{
    WriteConstantMs = constantMs;
    WritePerByteMs = perByteMs;
}

} // namespace lindprog
