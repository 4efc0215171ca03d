// TCom on a Win32 communications port: "\\.\COM<N>" opened for overlapped
// I/O without sharing, one completion record and event per direction, and a
// third event that wakes a read.

#include "core/base/UniqueFd.h"
#include "core/base/Win32Error.h"
#include "core/link/Com.h"
#include "core/link/PortNames.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include <windows.h>

namespace lindprog {

namespace {

constexpr DWORD QueueSize = 32768;

TUniqueHandle MakeEvent()
{
    // Manual reset: ReadFile and WriteFile clear their event themselves, and
    // the wake-up stays set until ClearCancel, as a read may start after it.
    return TUniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

// Errors after which the port is certainly not coming back: the handle is
// dead, or the driver says its device has left (a USB bridge pulled out, or
// under Wine the pseudo-terminal's other side closed).
bool IsGoneError(DWORD error)
{
    switch (error) {
    case ERROR_INVALID_HANDLE:
    case ERROR_BROKEN_PIPE:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_NOT_READY: return true;
    default: return false;
    }
}

} // namespace

struct TCom::TPlatformPort {
    TUniqueHandle Port;
    TUniqueHandle ReadDone = MakeEvent();
    TUniqueHandle WriteDone = MakeEvent();
    TUniqueHandle Cancel = MakeEvent();
    OVERLAPPED ReadRecord{};  // Read only
    OVERLAPPED WriteRecord{}; // Write only

    bool CancelSet() const { return ::WaitForSingleObject(Cancel.Get(), 0) == WAIT_OBJECT_0; }

    // What the driver holds for us; false when it no longer answers, which
    // after a failed transfer means the device is gone. Asking also clears
    // a line error (overrun, framing) so that the next transfer may run.
    bool QueueState(COMSTAT& status) const
    {
        DWORD errors = 0;
        status = COMSTAT{};
        return ::ClearCommError(Port.Get(), &errors, &status) != 0;
    }

    // One overlapped read of up to `size` bytes: 0 when it ended, with or
    // without bytes, else the system's error. A wake-up cancels the read.
    DWORD ReadSome(std::uint8_t* buffer, DWORD size, DWORD& got, bool& cancelled)
    {
        got = 0;
        ReadRecord = OVERLAPPED{};
        ReadRecord.hEvent = ReadDone.Get();
        if (::ReadFile(Port.Get(), buffer, size, &got, &ReadRecord))
            return 0;
        if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING)
            return error;
        // The driver ends the read at its timeout; the bound here only keeps
        // a driver that ignores timeouts from holding the receiver.
        const HANDLE events[2] = {ReadDone.Get(), Cancel.Get()};
        const DWORD woken = ::WaitForMultipleObjects(2, events, FALSE, 2 * ReadTimeoutMs);
        const bool stopped = woken != WAIT_OBJECT_0;
        if (stopped) {
            cancelled = woken == WAIT_OBJECT_0 + 1;
            ::CancelIoEx(Port.Get(), &ReadRecord);
        }
        // Cancelled or not, the record and the buffer are the driver's until
        // the read has ended.
        if (::GetOverlappedResult(Port.Get(), &ReadRecord, &got, TRUE))
            return 0;
        const DWORD error = ::GetLastError();
        // Wine ends a read that ran into its timeout with ERROR_TIMEOUT where
        // Windows reports success with what arrived.
        if (error == ERROR_TIMEOUT || (stopped && error == ERROR_OPERATION_ABORTED))
            return 0;
        return error;
    }
};

TCom::TCom(TPortNames& portNames) : PortNames(portNames), Device(std::make_unique<TPlatformPort>())
{
}

TCom::~TCom()
{
    Close();
}

bool TCom::OpenDevice(const std::string& path)
{
    // No sharing: the adapter serves one program at a time, and a second one
    // on the same port would steal replies.
    TUniqueHandle port(::CreateFileW(std::filesystem::path(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!port.Valid()) {
        const DWORD error = ::GetLastError();
        LastOpenError = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                            ? "port is in use by another program"
                            : Win32ErrorText(error);
        return false;
    }
    if (::GetFileType(port.Get()) != FILE_TYPE_CHAR) {
        LastOpenError = "not a serial device";
        return false;
    }
    Device->Port = std::move(port);
    // Results are ignored on purpose: a virtual port may refuse one of these
    // and work all the same.
    ::SetupComm(Device->Port.Get(), QueueSize, QueueSize);
    // A read returns with what has come once the first byte is there (see
    // Read), or empty after the read timeout. Write keeps its own deadline,
    // so the driver is given none: it follows SetWriteTimeout that way.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = ReadTimeoutMs;
    ::SetCommTimeouts(Device->Port.Get(), &timeouts);
    return true;
}

void TCom::CloseDevice()
{
    Device->Port.Reset();
}

// Windows refuses a port only when another program holds it, which the
// open error already says.
std::string OpenFailureAdvice(int, const std::string&)
{
    return {};
}

void TCom::ResetPort()
{
    if (!Device->Port.Valid())
        return;
    const HANDLE port = Device->Port.Get();
    ::OutputDebugStringA("commResetPort;");
    // Where the driver knows the device reset, it starts from a clean state.
    ::EscapeCommFunction(port, RESETDEV);
    COMSTAT ignored;
    Device->QueueState(ignored);
    DCB state{};
    state.DCBlength = sizeof state;
    if (::GetCommState(port, &state)) {
        state.BaudRate = BaudRate;
        state.ByteSize = 8;
        state.Parity = NOPARITY;
        state.StopBits = ONESTOPBIT;
        // Binary mode alone: no handshake either way, DTR and RTS held off,
        // no parity check, no error character, NUL bytes kept, and a line
        // error never aborts the transfers in progress.
        state.fBinary = TRUE;
        state.fParity = FALSE;
        state.fOutxCtsFlow = FALSE;
        state.fOutxDsrFlow = FALSE;
        state.fDtrControl = DTR_CONTROL_DISABLE;
        state.fDsrSensitivity = FALSE;
        state.fTXContinueOnXoff = FALSE;
        state.fOutX = FALSE;
        state.fInX = FALSE;
        state.fErrorChar = FALSE;
        state.fNull = FALSE;
        state.fRtsControl = RTS_CONTROL_DISABLE;
        state.fAbortOnError = FALSE;
        ::SetCommState(port, &state);
    }
    Purge();
}

void TCom::Purge()
{
    // Only the queues: a transfer in progress is not aborted.
    if (Device->Port.Valid())
        ::PurgeComm(Device->Port.Get(), PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void TCom::CancelRead()
{
    ::SetEvent(Device->Cancel.Get());
}

void TCom::ClearCancel()
{
    ::ResetEvent(Device->Cancel.Get());
}

bool TCom::Read(std::uint8_t* buffer, std::size_t& count)
{
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(count, MAXDWORD));
    count = 0;
    ReadError = TComError::None;
    if (!Device->Port.Valid()) {
        ReadError = TComError::Other;
        return false;
    }
    if (Device->CancelSet()) {
        ReadError = TComError::Cancelled;
        return true;
    }
    // What is waiting is taken at once. With nothing waiting, one byte is
    // read, which ends as soon as a byte comes or at the read timeout, and
    // what came with it is taken too: a driver's timeouts alone would either
    // hold a short reply for the whole timeout or return at once.
    COMSTAT status;
    const bool answered = Device->QueueState(status);
    const DWORD first = answered && status.cbInQue > 0 ? std::min(status.cbInQue, wanted) : 1;
    DWORD got = 0;
    bool cancelled = false;
    if (const DWORD error = Device->ReadSome(buffer, first, got, cancelled)) {
        ReadError = IsGoneError(error) || !Device->QueueState(status) ? TComError::PortGone : TComError::Other;
        return false;
    }
    count = got;
    if (got == 1 && first == 1 && wanted > 1 && Device->QueueState(status) && status.cbInQue > 0) {
        // The bytes are there, so this read ends at once; one that fails
        // leaves its error to the next Read and the byte already read counts.
        if (Device->ReadSome(buffer + 1, std::min(status.cbInQue, wanted - 1), got, cancelled) == 0)
            count += got;
    }
    if (count == 0 && cancelled)
        ReadError = TComError::Cancelled;
    return true;
}

void TCom::WaitForBytes(std::size_t count)
{
    using namespace std::chrono;
    using Clock = steady_clock;
    if (!Device->Port.Valid())
        return;
    const auto byteTime = nanoseconds(1'000'000'000LL * BitsPerByte / BaudRate);
    // Bridges hand bytes over in packets; allow one packet of slack.
    const auto slack = byteTime * 64;
    const auto deadline = Clock::now() + byteTime * count + slack;
    for (;;) {
        COMSTAT status;
        if (!Device->QueueState(status) || status.cbInQue >= count)
            return;
        const auto now = Clock::now();
        if (now >= deadline)
            return;
        const auto untilEnough = byteTime * (count - status.cbInQue);
        const auto pause = ceil<milliseconds>(std::min<nanoseconds>(untilEnough, deadline - now));
        if (::WaitForSingleObject(Device->Cancel.Get(), static_cast<DWORD>(pause.count())) != WAIT_TIMEOUT)
            return; // woken: let the caller look
    }
}

bool TCom::Write(const std::uint8_t* buffer, std::size_t& count)
{
    const std::size_t wanted = count;
    count = 0;
    if (!Device->Port.Valid())
        return false;
    if (wanted == 0)
        return true;
    const HANDLE port = Device->Port.Get();
    OVERLAPPED& record = Device->WriteRecord;
    record = OVERLAPPED{};
    record.hEvent = Device->WriteDone.Get();
    DWORD put = 0;
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(wanted, MAXDWORD));
    if (!::WriteFile(port, buffer, size, &put, &record)) {
        if (::GetLastError() != ERROR_IO_PENDING)
            return false;
        // The adapter has stopped taking bytes; waiting longer would only
        // hold the request, and a frame cut short can never be answered.
        const DWORD deadline = static_cast<DWORD>(WriteTimeoutMs(wanted));
        if (::WaitForSingleObject(record.hEvent, deadline) != WAIT_OBJECT_0)
            ::CancelIoEx(port, &record);
        // A cancelled write still counts the bytes that went out.
        const bool finished = ::GetOverlappedResult(port, &record, &put, TRUE) != 0;
        count = put;
        return finished && put == wanted;
    }
    count = put;
    return put == wanted;
}

} // namespace lindprog
