#pragma once
// The serial port of the adapter: opened by port number, set to the adapter's
// line settings (921600 8N1, raw, no flow control, DTR/RTS off), with a read
// that returns within 200 ms and a write that gives up after 1000 ms plus
// 5 ms per byte.
//
// Read runs on the receiver thread and Write on the requesting thread; each
// direction touches only its own state, so one of each may be in progress at
// the same time. Open, ResetPort and Close are called only while no Read is in
// progress (the endpoint stops its receiver first).
//
// One interface, one implementation per system, chosen by the build:
// ComPosix.cpp (termios, poll, an eventfd for the wake-up) and ComWin32.cpp
// (overlapped I/O on "\\.\COM<N>", events). What each keeps of an open port
// lives in TPlatformPort, which only its own file defines.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lindprog {

class TPortNames;

// The log line that explains why COM<portNumber> could not be opened when the
// system refused access, and how to get it; empty for every other reason and
// on systems where there is nothing to advise. reason is TCom::OpenError.
std::string OpenFailureAdvice(int portNumber, const std::string& reason);

enum class TComError {
    None,
    PortGone,  // the device went away (unplugged, pty master closed)
    Cancelled, // CancelRead woke the read
    Other,
};

class TCom {
public:
    static constexpr int ReadTimeoutMs = 200;
    static constexpr int WriteTimeoutConstantMs = 1000;
    static constexpr int WriteTimeoutPerByteMs = 5;
    static constexpr std::uint32_t BaudRate = 921600;
    static constexpr std::uint32_t BitsPerByte = 10; // start, 8 data, stop

    explicit TCom(TPortNames& portNames);
    ~TCom();
    TCom(const TCom&) = delete;
    TCom& operator=(const TCom&) = delete;

    bool Open(int portNumber);
    void Close();
    bool IsOpen() const { return Opened; }
    int PortNumber() const { return Number; }
    // Why the last Open failed, as the system put it (empty after success).
    const std::string& OpenError() const { return LastOpenError; }
    const std::string& DevicePath() const { return Path; }

    // Reads up to count bytes; on return count holds how many were read
    // (0 after the 200 ms timeout, which is a success). False on failure, with
    // the reason in LastReadError().
    bool Read(std::uint8_t* buffer, std::size_t& count);
    // Writes count bytes; on return count holds how many were written. False
    // when not all of them went: an error, or the write deadline passed while
    // the adapter took no more (its input stalled), with count telling how
    // far it got.
    bool Write(const std::uint8_t* buffer, std::size_t& count);
    TComError LastReadError() const { return ReadError; }
    // Sleeps until `count` bytes are waiting, for at most the line time they
    // need (plus a little), or until CancelRead. Taking a frame in one read
    // instead of one per USB packet keeps the receiver's CPU time low.
    void WaitForBytes(std::size_t count);

    // Wakes a Read in progress (and the next one) at once; the receiver uses it
    // so that closing never waits out the read timeout.
    void CancelRead();
    void ClearCancel();

    void Purge();
    void ResetPort();

    static int WriteTimeoutMs(std::size_t count);
    // Replaces the write deadline's fixed and per-byte parts for every port of
    // the process. Tests shorten it so that a stalled write gives up in
    // milliseconds; the program never changes it.
    static void SetWriteTimeout(int constantMs, int perByteMs);

private:
    struct TPlatformPort;
    // The system's part of Open and Close: a handle of the device at `path`
    // set to the line settings (LastOpenError says why not), and its release.
    bool OpenDevice(const std::string& path);
    void CloseDevice();

    TPortNames& PortNames;
    // The port's handle and the wake-up of a read, both as the system has
    // them; the wake-up lives as long as the object.
    std::unique_ptr<TPlatformPort> Device;
    // Asked from any thread (the update worker asks while the UI thread may
    // close a port that went away); every other use is the endpoint's, under
    // its lock.
    std::atomic<bool> Opened = false;
    std::atomic<int> Number = 0;
    std::string Path;
    std::string LastOpenError;
    TComError ReadError = TComError::None;
};

} // namespace lindprog
