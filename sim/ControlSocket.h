#pragma once

// lindprog-sim's control socket: a Unix stream socket on which a script or a
// test says what happens to the target on the adapter's cable, so that a
// production loop can be driven board by board. One command per line:
//   detach        the board is taken away
//   attach        a new board (flash as the scenario starts it)
//   attach keep   the same board back
// Each line is answered with "ok" or "error: ..." once it has taken effect,
// so the sender knows the next request already sees the change.

#include "Pty.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace lindprog::sim {

class TControlSocket {
public:
    // Gets one command line; returns "" when it was done, else why not.
    using THandler = std::function<std::string(const std::string& line)>;

    explicit TControlSocket(THandler handler);
    ~TControlSocket();
    TControlSocket(const TControlSocket&) = delete;
    TControlSocket& operator=(const TControlSocket&) = delete;

    // Listens at `path` (a socket left there by an earlier run is replaced;
    // any other file is not) and serves on a thread of its own.
    bool Start(const std::string& path, std::string& error);
    // Stops serving and removes the socket; also run by the destructor.
    void Stop();

private:
    struct TClient {
        TFd Fd;
        std::string Pending;
    };

    void Serve();
    void Accept();
    // False when the client hung up.
    bool ReadFrom(TClient& client);

    THandler Handler;
    std::string Path;
    TFd Listener;
    TEventFd StopEvent;
    std::vector<TClient> Clients;
    std::thread Thread;
};

// What lindprog-sim does with a control line for the simulator `sim`.
class TAdapterSim;
std::string ApplyControlLine(TAdapterSim& sim, const std::string& line);

} // namespace lindprog::sim
