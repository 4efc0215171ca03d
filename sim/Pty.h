#pragma once

// Operating-system handles the simulator serves through: the pseudo-terminal
// that stands in for the adapter's serial port, an eventfd to wake the
// serving thread, and a watch that sees the host open and close the port.

#include <string>

namespace lindprog::sim {

class TFd {
public:
    TFd() = default;
    explicit TFd(int fd)
        : fd_(fd)
    {
    }
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept
        : fd_(other.Release())
    {
    }
    TFd& operator=(TFd&& other) noexcept;
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

class TEventFd {
public:
    TEventFd();
    bool Valid() const { return fd_.Valid(); }
    int Get() const { return fd_.Get(); }
    void Signal() const;
    void Drain() const;

private:
    TFd fd_;
};

class TPseudoTerminal {
public:
    // Creates the pair, puts the slave side into raw mode (so bytes pass
    // untouched even before the host configures the port) and makes the master
    // non-blocking. Returns false with a message on failure.
    bool Open(std::string& error);
    void Close() { master_.Reset(); }

    bool IsOpen() const { return master_.Valid(); }
    int Master() const { return master_.Get(); }
    const std::string& SlavePath() const { return slave_path_; }

    // True while no host has the slave side open.
    bool HostAbsent() const;
    // Drops reply bytes the host has not read yet, so a host that reopens the
    // port does not find answers meant for its previous session.
    void DropUnreadReplies() const;

private:
    TFd master_;
    std::string slave_path_;
};

// Follows opens and closes of the slave device node (inotify). Without it a
// host that closes and at once reopens the port could slip between two polls
// of the master and the simulator would never see the reopen.
class THostWatch {
public:
    struct TChanges {
        int starts = 0; // times the port went from closed to open
        int ends = 0; // times the last opener went away
        bool open_now = false; // someone has the port open after these events
    };

    bool Start(const std::string& path);
    bool Active() const { return fd_.Valid(); }
    int Get() const { return fd_.Get(); }
    // Consumes the queued open/close events, in order.
    TChanges Drain();

private:
    void Apply(unsigned mask, TChanges& changes);

    TFd fd_;
    int openers_ = 0;
};

} // namespace lindprog::sim
