#include "ControlSocket.h"

#include "AdapterSim.h"

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace lindprog::sim {

namespace {

bool RemoveStaleSocket(const std::string& path, std::string& error)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return true;
    if (!S_ISSOCK(info.st_mode)) {
        error = path + " exists and is not a socket; not replacing it";
        return false;
    }
    ::unlink(path.c_str());
    return true;
}

void Answer(int fd, const std::string& failure)
{
    const std::string reply = failure.empty() ? "ok\n" : "error: " + failure + "\n";
    (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
}

} // namespace

TControlSocket::TControlSocket(THandler handler) : Handler(std::move(handler))
{
}

TControlSocket::~TControlSocket()
{
    Stop();
}

bool TControlSocket::Start(const std::string& path, std::string& error)
{
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        error = "control socket path too long: " + path;
        return false;
    }
    if (!StopEvent.Valid()) {
        error = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    if (!RemoveStaleSocket(path, error))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    Listener.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!Listener.Valid() || ::bind(Listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(Listener.Get(), 4) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    Path = path;
    Thread = std::thread([this] { Serve(); });
    return true;
}

void TControlSocket::Stop()
{
    if (!Thread.joinable())
        return;
    StopEvent.Signal();
    Thread.join();
    ::unlink(Path.c_str());
}

void TControlSocket::Serve()
{
    for (;;) {
        std::vector<pollfd> fds{{StopEvent.Get(), POLLIN, 0}, {Listener.Get(), POLLIN, 0}};
        for (const TClient& client : Clients)
            fds.push_back({client.Fd.Get(), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents & POLLIN)
            Accept();
        // Backwards, so a client that hung up can be dropped in place.
        for (std::size_t k = fds.size(); k-- > 2;)
            if (fds[k].revents != 0 && !ReadFrom(Clients[k - 2]))
                Clients.erase(Clients.begin() + static_cast<std::ptrdiff_t>(k - 2));
    }
}

void TControlSocket::Accept()
{
    TFd client(::accept4(Listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.Valid())
        Clients.push_back({std::move(client), {}});
}

bool TControlSocket::ReadFrom(TClient& client)
{
    char bytes[256];
    const ssize_t count = ::read(client.Fd.Get(), bytes, sizeof bytes);
    if (count <= 0)
        return false;
    client.Pending.append(bytes, static_cast<std::size_t>(count));
    for (auto end = client.Pending.find('\n'); end != std::string::npos; end = client.Pending.find('\n')) {
        std::string line = client.Pending.substr(0, end);
        client.Pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        Answer(client.Fd.Get(), Handler(line));
    }
    return true;
}

std::string ApplyControlLine(TAdapterSim& sim, const std::string& line)
{
    if (line == "detach")
        sim.DetachTarget();
    else if (line == "attach" || line == "attach keep")
        sim.AttachTarget(line == "attach keep");
    else
        return "unknown command '" + line + "' (detach, attach, attach keep)";
    return "";
}

} // namespace lindprog::sim
