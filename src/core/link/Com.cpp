// What both implementations of TCom share: the port number's lookup, the
// state of an open port, and the write deadline.

#include "core/link/Com.h"

#include "core/link/PortNames.h"

namespace lindprog {

namespace {
std::atomic<int> WriteConstantMs{TCom::WriteTimeoutConstantMs};
std::atomic<int> WritePerByteMs{TCom::WriteTimeoutPerByteMs};
} // namespace

bool TCom::Open(int portNumber)
{
    Close();
    const auto path = PortNames.DevicePath(portNumber);
    if (!path) {
        LastOpenError = "no such port";
        return false;
    }
    if (!OpenDevice(*path))
        return false;
    Path = *path;
    LastOpenError.clear();
    Number = portNumber;
    Opened = true;
    ReadError = TComError::None;
    ResetPort();
    return true;
}

void TCom::Close()
{
    if (!Opened)
        return;
    CloseDevice();
    Opened = false;
    Number = 0;
    Path.clear();
}

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
