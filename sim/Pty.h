#pragma once

// Operating-system handles the simulator serves through: the pseudo-terminal
// that stands in for the adapter's serial port, an eventfd to wake the
// serving thread, and a watch that sees the host open and close the port.

#include <string>

namespace lindprog::sim {

class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept : Fd(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept;
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return Fd; }
    bool Valid() const { return Fd >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int Fd = -1;
};

class TEventFd {
public:
    TEventFd();
    bool Valid() const { return Fd.Valid(); }
    int Get() const { return Fd.Get(); }
    void Signal() const;
    void Drain() const;

private:
    TFd Fd;
};

class TPseudoTerminal {
public:
    // Creates the pair, puts the slave side into raw mode (so bytes pass
    // untouched even before the host configures the port) and makes the master
    // non-blocking. Returns false with a message on failure.
    bool Open(std::string& error);
    void Close() { MasterFd.Reset(); }

    bool IsOpen() const { return MasterFd.Valid(); }
    int Master() const { return MasterFd.Get(); }
    const std::string& SlavePath() const { return SlaveNodePath; }

    // True while no host has the slave side open.
    bool HostAbsent() const;
    // Drops reply bytes the host has not read yet, so a host that reopens the
    // port does not find answers meant for its previous session.
    void DropUnreadReplies() const;

private:
    TFd MasterFd;
    std::string SlaveNodePath;
};

// Follows opens and closes of the slave device node (inotify). Without it a
// host that closes and at once reopens the port could slip between two polls
// of the master and the simulator would never see the reopen.
class THostWatch {
public:
    struct TChanges {
        int Starts = 0;       // times the port went from closed to open
        int Ends = 0;         // times the last opener went away
        bool OpenNow = false; // someone has the port open after these events
    };

    bool Start(const std::string& path);
    bool Active() const { return Fd.Valid(); }
    int Get() const { return Fd.Get(); }
    // Consumes the queued open/close events, in order.
    TChanges Drain();

private:
    void Apply(unsigned mask, TChanges& changes);

    TFd Fd;
    int Openers = 0;
};

} // namespace lindprog::sim
