#pragma once
// Owns one handle of the system and closes it exactly once: a POSIX file
// descriptor, or on Windows a kernel HANDLE (file, port or event).
// TUniqueFile is whichever of the two the platform opens files with, so that
// a class can hold one in its header without naming the platform.

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace lindprog {

#ifdef _WIN32

class TUniqueHandle {
public:
    TUniqueHandle() = default;
    explicit TUniqueHandle(HANDLE handle) : Handle(handle) {}
    ~TUniqueHandle() { Reset(); }
    TUniqueHandle(TUniqueHandle&& other) noexcept : Handle(std::exchange(other.Handle, nullptr)) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            Handle = std::exchange(other.Handle, nullptr);
        }
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;

    HANDLE Get() const { return Handle; }
    // CreateFile fails with INVALID_HANDLE_VALUE, CreateEvent with null.
    bool Valid() const { return Handle != nullptr && Handle != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle = nullptr)
    {
        if (Valid())
            ::CloseHandle(Handle);
        Handle = handle;
    }
    // Closes now and tells whether the system took the close; the last
    // chance for a file system to report a write it could not finish.
    bool Close()
    {
        const bool closed = !Valid() || ::CloseHandle(Handle) != 0;
        Handle = nullptr;
        return closed;
    }

private:
    HANDLE Handle = nullptr;
};

using TUniqueFile = TUniqueHandle;

#else

class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : Fd(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& other) noexcept : Fd(std::exchange(other.Fd, -1)) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept
    {
        if (this != &other) {
            Reset();
            Fd = std::exchange(other.Fd, -1);
        }
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return Fd; }
    bool Valid() const { return Fd >= 0; }
    void Reset(int fd = -1)
    {
        if (Fd >= 0)
            ::close(Fd);
        Fd = fd;
    }
    // Closes now and tells whether the system took the close; the last
    // chance for a file system to report a write it could not finish.
    bool Close()
    {
        const bool closed = Fd < 0 || ::close(Fd) == 0;
        Fd = -1;
        return closed;
    }

private:
    int Fd = -1;
};

using TUniqueFile = TUniqueFd;

#endif

} // namespace lindprog
