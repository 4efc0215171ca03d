#include "AdapterSim.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "FrameLog.h"
#include "Pty.h"
#include "Server.h"
#include "SimState.h"

namespace lindprog::sim {

namespace {

bool CreateLink(const std::string& link, const std::string& target, std::string& error)
{
    struct stat info { };
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
    TImpl(TScenario scenario_in, TSimOptions options_in)
        : scenario(std::move(scenario_in))
        , options(std::move(options_in))
        , state(scenario)
    {
    }

    bool StartServing(std::string& error);
    void OnVanish();

    template <typename TPredicate>
    bool WaitFor(std::chrono::milliseconds timeout, TPredicate predicate) const
    {
        std::unique_lock lock(state.mutex);
        state.changed.wait_for(
            lock, timeout, [&] { return predicate() || state.vanished || !state.serving; });
        return predicate();
    }

    const TScenario scenario;
    const TSimOptions options;
    TSimState state;
    std::string error; // guarded by state.mutex
    std::string slave_path; // guarded by state.mutex

    std::mutex lifecycle; // serialises Start and Stop
    bool started = false;
    TPseudoTerminal pty;
    THostWatch watch;
    TEventFd stop;
    std::optional<TFrameLog> log;
    std::unique_ptr<TServer> server;
    std::thread thread;
};

bool TAdapterSim::TImpl::StartServing(std::string& failure)
{
    if (!stop.Valid()) {
        failure = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    if (!pty.Open(failure))
        return false;
    // Without the watch, reopen detection falls back to polling the master.
    watch.Start(pty.SlavePath());
    log.emplace(std::chrono::steady_clock::now(), options.log);
    if (!log->OpenTranscript(options.transcript_path, failure))
        return false;
    if (!options.link_path.empty() && !CreateLink(options.link_path, pty.SlavePath(), failure)) {
        return false;
    }
    TServerSetup setup{options.pace, scenario.vanish_after, [this] { OnVanish(); }};
    server = std::make_unique<TServer>(state, pty, watch, stop, *log, std::move(setup));
    {
        std::lock_guard guard(state.mutex);
        state.serving = true;
        slave_path = pty.SlavePath();
    }
    thread = std::thread([this] { server->Run(); });
    return true;
}

void TAdapterSim::TImpl::OnVanish()
{
    // A vanished adapter takes its device node with it.
    RemoveLinkIfOurs(options.link_path, pty.SlavePath());
    if (options.on_vanish)
        options.on_vanish();
}

TAdapterSim::TAdapterSim(TScenario scenario, TSimOptions options)
    : impl_(std::make_unique<TImpl>(std::move(scenario), std::move(options)))
{
}

TAdapterSim::~TAdapterSim()
{
    Stop();
}

bool TAdapterSim::Start()
{
    std::lock_guard guard(impl_->lifecycle);
    std::string failure;
    if (impl_->started) {
        failure = "simulator already started";
    } else {
        impl_->started = true;
        if (impl_->StartServing(failure))
            return true;
        impl_->pty.Close();
    }
    std::lock_guard lock(impl_->state.mutex);
    impl_->error = failure;
    return false;
}

void TAdapterSim::Stop()
{
    std::lock_guard guard(impl_->lifecycle);
    if (impl_->thread.joinable()) {
        impl_->stop.Signal();
        impl_->thread.join();
    }
    impl_->pty.Close();
    RemoveLinkIfOurs(impl_->options.link_path, impl_->pty.SlavePath());
}

std::string TAdapterSim::SlavePath() const
{
    std::lock_guard lock(impl_->state.mutex);
    return impl_->slave_path;
}

std::string TAdapterSim::LastError() const
{
    std::lock_guard lock(impl_->state.mutex);
    return impl_->error;
}

std::vector<std::uint8_t> TAdapterSim::RegionContents(int device, int region) const
{
    std::lock_guard lock(impl_->state.mutex);
    const auto& flash = impl_->state.core.Flash();
    if (device < 0 || region < 0 || !flash.Exists(device, region))
        return {};
    const auto bytes = flash.Bytes(device, region);
    return {bytes.begin(), bytes.end()};
}

bool TAdapterSim::SetRegionContents(
    int device, int region, std::span<const std::uint8_t> bytes, std::uint32_t offset)
{
    std::lock_guard lock(impl_->state.mutex);
    auto& flash = impl_->state.core.Flash();
    if (device < 0 || region < 0 || !flash.InRange(device, region, offset, bytes.size())) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), flash.Bytes(device, region).begin() + offset);
    return true;
}

std::vector<std::vector<std::uint8_t>> TAdapterSim::ReceivedPages() const
{
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.core.ReceivedPages();
}

int TAdapterSim::RequestCount(std::uint8_t code) const
{
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.core.RequestCount(code);
}

std::size_t TAdapterSim::RequestTotal() const
{
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.core.RequestTotal();
}

std::vector<std::vector<std::uint8_t>> TAdapterSim::RequestPayloads() const
{
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.core.RequestPayloads();
}

std::uint8_t TAdapterSim::Mode() const
{
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.core.Mode();
}

bool TAdapterSim::Vanished() const
{
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.vanished;
}

bool TAdapterSim::HostConnected() const
{
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.host_connected;
}

int TAdapterSim::HostOpenCount() const
{
    std::lock_guard lock(impl_->state.mutex);
    return impl_->state.host_opens;
}

bool TAdapterSim::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    return impl_->WaitFor(timeout, [&] { return impl_->state.core.RequestTotal() >= count; });
}

bool TAdapterSim::WaitForHostOpens(int count, std::chrono::milliseconds timeout) const
{
    return impl_->WaitFor(timeout, [&] { return impl_->state.host_opens >= count; });
}

bool TAdapterSim::WaitForHostClosed(std::chrono::milliseconds timeout) const
{
    return impl_->WaitFor(timeout, [&] { return !impl_->state.host_connected; });
}

bool TAdapterSim::WaitForVanished(std::chrono::milliseconds timeout) const
{
    return impl_->WaitFor(timeout, [&] { return impl_->state.vanished; });
}

} // namespace lindprog::sim
