#include "AdapterSim.h"

#include "FrameLog.h"
#include "Pty.h"
#include "Server.h"
#include "SimState.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace lindprog::sim {

namespace {

bool CreateLink(const std::string& link, const std::string& target, std::string& error)
{
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = link + " exists and is not a symlink; not replacing it";
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        error = "cannot create symlink " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// Only removes the link while it still points at our pty, so a newer
// simulator that took over the same name keeps its link.
void RemoveLinkIfOurs(const std::string& link, const std::string& target)
{
    if (link.empty())
        return;
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (length < 0 || std::string(buffer, static_cast<std::size_t>(length)) != target)
        return;
    ::unlink(link.c_str());
}

} // namespace

struct TAdapterSim::TImpl {
    TImpl(TScenario scenarioIn, TSimOptions optionsIn)
        : Scenario(std::move(scenarioIn)), Options(std::move(optionsIn)), State(Scenario)
    {
    }

    bool StartServing(std::string& error);
    void OnVanish();

    template <typename TPredicate>
    bool WaitFor(std::chrono::milliseconds timeout, TPredicate predicate) const
    {
        std::unique_lock lock(State.Mutex);
        State.Changed.wait_for(lock, timeout, [&] { return predicate() || State.Vanished || !State.Serving; });
        return predicate();
    }

    const TScenario Scenario;
    const TSimOptions Options;
    TSimState State;
    std::string Error;     // guarded by State.mutex
    std::string SlavePath; // guarded by State.mutex

    std::mutex Lifecycle; // serialises Start and Stop
    bool Started = false;
    TPseudoTerminal Pty;
    THostWatch Watch;
    TEventFd StopEvent;
    std::optional<TFrameLog> Log;
    std::unique_ptr<TServer> Server;
    std::thread Thread;
};

bool TAdapterSim::TImpl::StartServing(std::string& failure)
{
    if (!StopEvent.Valid()) {
        failure = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    if (!Pty.Open(failure))
        return false;
    // Without the watch, reopen detection falls back to polling the master.
    Watch.Start(Pty.SlavePath());
    Log.emplace(std::chrono::steady_clock::now(), Options.Log);
    if (!Log->OpenTranscript(Options.TranscriptPath, failure))
        return false;
    if (!Options.LinkPath.empty() && !CreateLink(Options.LinkPath, Pty.SlavePath(), failure)) {
        return false;
    }
    TServerSetup setup{Options.Pace, Scenario.VanishAfter, [this] { OnVanish(); }};
    Server = std::make_unique<TServer>(State, Pty, Watch, StopEvent, *Log, std::move(setup));
    {
        std::lock_guard guard(State.Mutex);
        State.Serving = true;
        SlavePath = Pty.SlavePath();
    }
    Thread = std::thread([this] { Server->Run(); });
    return true;
}

void TAdapterSim::TImpl::OnVanish()
{
    // A vanished adapter takes its device node with it.
    RemoveLinkIfOurs(Options.LinkPath, Pty.SlavePath());
    if (Options.OnVanish)
        Options.OnVanish();
}

TAdapterSim::TAdapterSim(TScenario Scenario, TSimOptions Options)
    : Impl(std::make_unique<TImpl>(std::move(Scenario), std::move(Options)))
{
}

TAdapterSim::~TAdapterSim()
{
    Stop();
}

bool TAdapterSim::Start()
{
    std::lock_guard guard(Impl->Lifecycle);
    std::string failure;
    if (Impl->Started) {
        failure = "simulator already started";
    } else {
        Impl->Started = true;
        if (Impl->StartServing(failure))
            return true;
        Impl->Pty.Close();
    }
    std::lock_guard lock(Impl->State.Mutex);
    Impl->Error = failure;
    return false;
}

void TAdapterSim::Stop()
{
    std::lock_guard guard(Impl->Lifecycle);
    if (Impl->Thread.joinable()) {
        Impl->StopEvent.Signal();
        Impl->Thread.join();
    }
    Impl->Pty.Close();
    RemoveLinkIfOurs(Impl->Options.LinkPath, Impl->Pty.SlavePath());
}

std::string TAdapterSim::SlavePath() const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->SlavePath;
}

std::string TAdapterSim::LastError() const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->Error;
}

std::vector<std::uint8_t> TAdapterSim::RegionContents(int device, int region) const
{
    std::lock_guard lock(Impl->State.Mutex);
    const auto& flash = Impl->State.Core.Flash();
    if (device < 0 || region < 0 || !flash.Exists(device, region))
        return {};
    const auto bytes = flash.Bytes(device, region);
    return {bytes.begin(), bytes.end()};
}

bool TAdapterSim::SetRegionContents(int device, int region, std::span<const std::uint8_t> bytes, std::uint32_t offset)
{
    std::lock_guard lock(Impl->State.Mutex);
    auto& flash = Impl->State.Core.Flash();
    if (device < 0 || region < 0 || !flash.InRange(device, region, offset, bytes.size())) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), flash.Bytes(device, region).begin() + offset);
    return true;
}

std::vector<std::vector<std::uint8_t>> TAdapterSim::ReceivedPages() const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->State.Core.ReceivedPages();
}

int TAdapterSim::RequestCount(std::uint8_t code) const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->State.Core.RequestCount(code);
}

std::size_t TAdapterSim::RequestTotal() const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->State.Core.RequestTotal();
}

std::vector<std::vector<std::uint8_t>> TAdapterSim::RequestPayloads() const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->State.Core.RequestPayloads();
}

std::uint8_t TAdapterSim::Mode() const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->State.Core.Mode();
}

void TAdapterSim::DetachTarget()
{
    std::lock_guard lock(Impl->State.Mutex);
    Impl->State.Core.DetachTarget();
}

void TAdapterSim::AttachTarget(bool keep)
{
    std::lock_guard lock(Impl->State.Mutex);
    Impl->State.Core.AttachTarget(keep);
}

bool TAdapterSim::TargetAttached() const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->State.Core.TargetAttached();
}

bool TAdapterSim::Vanished() const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->State.Vanished;
}

bool TAdapterSim::HostConnected() const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->State.HostConnected;
}

int TAdapterSim::HostOpenCount() const
{
    std::lock_guard lock(Impl->State.Mutex);
    return Impl->State.HostOpens;
}

bool TAdapterSim::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    return Impl->WaitFor(timeout, [&] { return Impl->State.Core.RequestTotal() >= count; });
}

bool TAdapterSim::WaitForHostOpens(int count, std::chrono::milliseconds timeout) const
{
    return Impl->WaitFor(timeout, [&] { return Impl->State.HostOpens >= count; });
}

bool TAdapterSim::WaitForHostClosed(std::chrono::milliseconds timeout) const
{
    return Impl->WaitFor(timeout, [&] { return !Impl->State.HostConnected; });
}

bool TAdapterSim::WaitForVanished(std::chrono::milliseconds timeout) const
{
    return Impl->WaitFor(timeout, [&] { return Impl->State.Vanished; });
}

} // namespace lindprog::sim
