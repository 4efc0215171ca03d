// TCom on a POSIX terminal: termios for the line, poll for the read timeout
// and the write deadline, an eventfd to wake a read.

#include "core/base/UniqueFd.h"
#include "core/link/Com.h"
#include "core/link/PortNames.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace lindprog {

struct TCom::TPlatformPort {
    TUniqueFd Fd;
    TUniqueFd CancelFd; // eventfd
};

namespace {

bool IsGoneErrno(int error)
{
    // What a vanished USB bridge or a closed pty master gives on read.
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

std::string DescribeErrno(int error)
{
    return std::strerror(error);
}

// USB serial bridges hold short replies back for their latency timer (16 ms
// on common ones), which alone would cap a block loop far below the line
// speed. Drivers that know the flag then hand each reply on at once; a pty or
// a driver without it refuses, and the port works as before.
void RequestLowLatency(int fd)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
}

} // namespace

TCom::TCom(TPortNames& portNames) : PortNames(portNames), Device(std::make_unique<TPlatformPort>())
{
    Device->CancelFd.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
}

TCom::~TCom()
{
    Close();
}

bool TCom::OpenDevice(const std::string& path)
{
    TUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        LastOpenError = DescribeErrno(errno);
        return false;
    }
    if (!::isatty(fd.Get())) {
        LastOpenError = "not a serial device";
        return false;
    }
    // The adapter serves one program at a time; a second one on the same
    // port would steal replies.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        LastOpenError = errno == EWOULDBLOCK ? "port is in use by another program" : DescribeErrno(errno);
        return false;
    }
    // The lock keeps out programs that ask for it; the terminal's exclusive
    // mode also refuses a plain open by anyone else (root excepted).
    ::ioctl(fd.Get(), TIOCEXCL);
    RequestLowLatency(fd.Get());
    // termios has no driver queue sizes to set; the kernel's are large enough
    // for the longest frame.
    Device->Fd = std::move(fd);
    return true;
}

void TCom::CloseDevice()
{
    ::ioctl(Device->Fd.Get(), TIOCNXCL);
    Device->Fd.Reset();
}

std::string OpenFailureAdvice(int portNumber, const std::string& reason)
{
    // TCom keeps the system's own text of the error; the same process gives
    // the same text for the same code. On Debian the serial devices belong to
    // the dialout group.
    if (reason.empty() || reason != DescribeErrno(EACCES))
        return {};
    return "COM" + std::to_string(portNumber) + ": " + reason +
           ". Serial ports are open to members of the dialout group: add your user to it "
           "(sudo adduser $USER dialout) and log in again";
}

void TCom::ResetPort()
{
    if (!Device->Fd.Valid())
        return;
    // Results are ignored on purpose: a pty or an unusual bridge may refuse one
    // of these, and the port is usable all the same.
    termios settings{};
    if (::tcgetattr(Device->Fd.Get(), &settings) == 0) {
        ::cfmakeraw(&settings);
        settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        ::cfsetispeed(&settings, B921600);
        ::cfsetospeed(&settings, B921600);
        ::tcsetattr(Device->Fd.Get(), TCSANOW, &settings);
    }
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(Device->Fd.Get(), TIOCMBIC, &lines);
    Purge();
}

void TCom::Purge()
{
    if (Device->Fd.Valid())
        ::tcflush(Device->Fd.Get(), TCIOFLUSH);
}

void TCom::CancelRead()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(Device->CancelFd.Get(), &one, sizeof one);
}

void TCom::ClearCancel()
{
    std::uint64_t value = 0;
    [[maybe_unused]] auto drained = ::read(Device->CancelFd.Get(), &value, sizeof value);
}

bool TCom::Read(std::uint8_t* buffer, std::size_t& count)
{
    const std::size_t wanted = count;
    count = 0;
    ReadError = TComError::None;
    if (!Device->Fd.Valid()) {
        ReadError = TComError::Other;
        return false;
    }
    pollfd fds[2] = {{Device->Fd.Get(), POLLIN, 0}, {Device->CancelFd.Get(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, ReadTimeoutMs);
    if (ready < 0) {
        if (errno == EINTR)
            return true;
        ReadError = TComError::Other;
        return false;
    }
    if (fds[1].revents & POLLIN) {
        ReadError = TComError::Cancelled;
        return true;
    }
    if (ready == 0)
        return true;
    if (fds[0].revents & POLLNVAL) {
        ReadError = TComError::PortGone;
        return false;
    }
    const ssize_t got = ::read(Device->Fd.Get(), buffer, wanted);
    if (got > 0) {
        count = static_cast<std::size_t>(got);
        return true;
    }
    if (got == 0 || (fds[0].revents & (POLLHUP | POLLERR)) || IsGoneErrno(errno)) {
        // Readable but nothing to read: the device is no longer there.
        ReadError = TComError::PortGone;
        return false;
    }
    if (errno == EAGAIN || errno == EINTR)
        return true;
    ReadError = TComError::Other;
    return false;
}

void TCom::WaitForBytes(std::size_t count)
{
    using namespace std::chrono;
    using Clock = steady_clock;
    const auto byteTime = nanoseconds(1'000'000'000LL * BitsPerByte / BaudRate);
    // Bridges hand bytes over in packets; allow one packet of slack.
    const auto slack = byteTime * 64;
    const auto deadline = Clock::now() + byteTime * count + slack;
    for (;;) {
        int waiting = 0;
        if (::ioctl(Device->Fd.Get(), FIONREAD, &waiting) != 0 || static_cast<std::size_t>(waiting) >= count)
            return;
        const auto now = Clock::now();
        if (now >= deadline)
            return;
        const auto untilEnough = byteTime * (count - static_cast<std::size_t>(waiting));
        const auto pause = std::min<nanoseconds>(untilEnough, deadline - now);
        const timespec timeout{static_cast<time_t>(pause.count() / 1'000'000'000),
                               static_cast<long>(pause.count() % 1'000'000'000)};
        pollfd cancel{Device->CancelFd.Get(), POLLIN, 0};
        if (::ppoll(&cancel, 1, &timeout, nullptr) != 0)
            return; // cancelled (or interrupted): let the caller look
    }
}

bool TCom::Write(const std::uint8_t* buffer, std::size_t& count)
{
    const std::size_t wanted = count;
    count = 0;
    if (!Device->Fd.Valid())
        return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(WriteTimeoutMs(wanted));
    while (count < wanted) {
        const ssize_t put = ::write(Device->Fd.Get(), buffer + count, wanted - count);
        if (put > 0) {
            count += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        // The adapter has stopped taking bytes; waiting longer would only hold
        // the request, and a frame cut short can never be answered.
        if (left.count() <= 0)
            return false;
        pollfd out{Device->Fd.Get(), POLLOUT, 0};
        if (::poll(&out, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return false;
        if (out.revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
    }
    return true;
}

} // namespace lindprog
