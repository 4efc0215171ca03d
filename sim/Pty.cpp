#include "Pty.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace lindprog::sim {

namespace {

std::string Failure(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool MakeSlaveRaw(const std::string& path, std::string& error)
{
    TFd slave(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave.Valid()) {
        error = Failure(("open " + path).c_str());
        return false;
    }
    termios mode{};
    if (::tcgetattr(slave.Get(), &mode) != 0) {
        error = Failure("tcgetattr");
        return false;
    }
    ::cfmakeraw(&mode);
    ::cfsetispeed(&mode, B921600);
    ::cfsetospeed(&mode, B921600);
    if (::tcsetattr(slave.Get(), TCSANOW, &mode) != 0) {
        error = Failure("tcsetattr");
        return false;
    }
    return true;
}

} // namespace

TFd& TFd::operator=(TFd&& other) noexcept
{
    if (this != &other)
        Reset(other.Release());
    return *this;
}

int TFd::Release()
{
    const int fd = Fd;
    Fd = -1;
    return fd;
}

void TFd::Reset(int fd)
{
    if (Fd >= 0)
        ::close(Fd);
    Fd = fd;
}

TEventFd::TEventFd() : Fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

void TEventFd::Signal() const
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(Fd.Get(), &one, sizeof one);
}

void TEventFd::Drain() const
{
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(Fd.Get(), &count, sizeof count);
}

bool TPseudoTerminal::Open(std::string& error)
{
    TFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.Valid()) {
        error = Failure("posix_openpt");
        return false;
    }
    if (::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0) {
        error = Failure("grantpt/unlockpt");
        return false;
    }
    char name[PATH_MAX] = {};
    if (::ptsname_r(master.Get(), name, sizeof name) != 0) {
        error = Failure("ptsname_r");
        return false;
    }
    const int flags = ::fcntl(master.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(master.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        error = Failure("fcntl O_NONBLOCK");
        return false;
    }
    if (!MakeSlaveRaw(name, error))
        return false;
    MasterFd = std::move(master);
    SlaveNodePath = name;
    return true;
}

bool TPseudoTerminal::HostAbsent() const
{
    pollfd entry{MasterFd.Get(), POLLIN, 0};
    if (::poll(&entry, 1, 0) < 0)
        return false;
    return (entry.revents & POLLHUP) != 0;
}

void TPseudoTerminal::DropUnreadReplies() const
{
    ::tcflush(MasterFd.Get(), TCOFLUSH);
}

bool THostWatch::Start(const std::string& path)
{
    TFd fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd.Valid())
        return false;
    if (::inotify_add_watch(fd.Get(), path.c_str(), IN_OPEN | IN_CLOSE) < 0)
        return false;
    Fd = std::move(fd);
    Openers = 0;
    return true;
}

void THostWatch::Apply(unsigned mask, TChanges& changes)
{
    if ((mask & IN_OPEN) != 0 && Openers++ == 0)
        ++changes.Starts;
    if ((mask & IN_CLOSE) != 0 && Openers > 0) {
        --Openers;
        if (Openers == 0)
            ++changes.Ends;
    }
}

THostWatch::TChanges THostWatch::Drain()
{
    TChanges changes;
    alignas(inotify_event) char buffer[4096];
    if (!Active())
        return changes;
    for (;;) {
        const ssize_t got = ::read(Fd.Get(), buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t pos = 0; pos < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + pos);
            Apply(event->mask, changes);
            pos += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    changes.OpenNow = Openers > 0;
    return changes;
}

} // namespace lindprog::sim
