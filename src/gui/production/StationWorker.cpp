#include "gui/production/StationWorker.h"

#include "core/base/AdapterText.h"
#include "core/base/TextFormat.h"
#include "core/link/PortNames.h"
#include "core/settings/Settings.h"

namespace lindprog {

namespace {

// The operator's trigger: the worker's click, handed on.
class TClickWait final : public TBoardWait {
public:
    explicit TClickWait(std::function<TWaitEnd()> wait) : Wait(std::move(wait)) {}
    TWaitEnd ForBoard() override { return Wait(); }

private:
    std::function<TWaitEnd()> Wait;
};

} // namespace

TStationWorker::TStationWorker(TUiDispatcher& ui, TStationView& view, TStationSetup setup)
    : Ui(ui), View(view), Setup(std::move(setup))
{
    Answers.IgnoreReadErrors = Setup.Job.IgnoreReadErrors.value_or(Setup.IgnoreReadErrors);
}

TStationWorker::~TStationWorker()
{
    {
        const std::lock_guard lock(Mutex);
        Stopping = true;
    }
    Cancel = true;
    Changed.notify_all();
    {
        const std::lock_guard lock(PortMutex);
        if (LivePort != nullptr)
            LivePort->Interrupt();
    }
    Shared->Gone = true;
    if (Thread.joinable())
        Thread.join();
}

void TStationWorker::Start()
{
    if (Active.exchange(true))
        return;
    if (Thread.joinable())
        Thread.join();
    {
        const std::lock_guard lock(Mutex);
        Stopping = false;
        Clicks = 0;
    }
    Thread = std::thread([this] { Loop(); });
}

void TStationWorker::Stop()
{
    {
        const std::lock_guard lock(Mutex);
        Stopping = true;
    }
    Changed.notify_all();
}

void TStationWorker::Next()
{
    {
        const std::lock_guard lock(Mutex);
        if (!WaitingForClick)
            return; // a press during a unit must not start the same board again
        ++Clicks;
    }
    Changed.notify_all();
}

TWaitEnd TStationWorker::WaitForClick()
{
    std::unique_lock lock(Mutex);
    WaitingForClick = true;
    Changed.wait(lock, [this] { return Stopping || Clicks > 0; });
    WaitingForClick = false;
    if (Stopping)
        return TWaitEnd::Stopped;
    Clicks = 0;
    return TWaitEnd::Ready;
}

void TStationWorker::Sleep(std::chrono::milliseconds pause)
{
    std::unique_lock lock(Mutex);
    Changed.wait_for(lock, pause, [this] { return Stopping; });
}

bool TStationWorker::StopAsked()
{
    const std::lock_guard lock(Mutex);
    return Stopping;
}

void TStationWorker::Tell(std::function<void(TStationView&)> call)
{
    Ui.Post([shared = Shared, view = &View, call = std::move(call)] {
        if (!shared->Gone)
            call(*view);
    });
}

void TStationWorker::Loop()
{
    std::string reason;
    try {
        reason = RunJob();
    } catch (const std::exception& error) {
        reason = error.what();
    }
    Active = false;
    Tell([reason](TStationView& view) { view.StationEnded(reason); });
}

std::string TStationWorker::RunJob()
{
    TPortNames names(TPortNames::DefaultAssignmentsFile());
    names.Pin(Setup.PortNumber, Setup.DevicePath);
    TSettings settings;
    settings.TurnOffPower = Setup.Job.PowerOff.value_or(Setup.TurnOffPower);
    settings.JtagDelay = Setup.Job.JtagDelay.value_or(Setup.JtagDelay);
    TAdapterSession session(names, PortDispatcher, settings, {*this, Answers, *this, *this});
    TStation station(session,
                     {Setup.Job, Setup.Images, Setup.Database, Setup.UnitNumbers, Setup.Station, Setup.PortName,
                      Setup.PortName + " (" + Setup.DevicePath + ")", Setup.SkipErased},
                     *this);
    {
        const std::lock_guard lock(PortMutex);
        LivePort = &session.Port();
    }
    std::string reason;
    if (const auto failed = station.Start(Setup.PortNumber))
        reason = failed->Message;
    else
        reason = RunUnits(session, station);
    PortDispatcher.RunPending();
    {
        const std::lock_guard lock(PortMutex);
        LivePort = nullptr;
    }
    session.Port().Close();
    PortDispatcher.RunPending();
    return reason;
}

std::string TStationWorker::RunUnits(TAdapterSession& session, TStation& station)
{
    const TDevicePort& port = session.Port();
    const std::string identity = ShowControlCharacters(port.Identity()) + " " + std::to_string(port.VersionMajor()) +
                                 "." + std::to_string(port.VersionMinor());
    Tell([identity, plan = JobCheckText(Setup.Job, Setup.Images, &station.Job())](TStationView& view) {
        view.StationAdapter(identity, plan);
    });
    AddLogLine(Format("Connected to %s, firmware v%d.%d", ShowControlCharacters(port.Identity()).c_str(),
                      port.VersionMajor(), port.VersionMinor()));
    Resolved = &station.Job();
    TChainWait chain(
        session.Adapter(), PortDispatcher, [this] { return StopAsked(); },
        [this](std::chrono::milliseconds pause) { Sleep(pause); });
    TClickWait click([this] { return WaitForClick(); });
    TBoardWait& wait = Setup.Trigger == TTrigger::Scan ? static_cast<TBoardWait&>(chain) : click;
    TRunPacing pacing;
    pacing.Stop = [this] { return Cancel.load(); };
    // The receiver's end-of-thread notice (a vanished port) closes the port.
    pacing.AfterStep = [this](bool more) {
        PortDispatcher.RunPending();
        // Not shortened by Stop: the unit runs on as the adapter needs it.
        if (more && Setup.BlockPause.count() > 0)
            std::this_thread::sleep_for(Setup.BlockPause);
    };
    const TLoopEnd end = station.RunLoop(wait, {}, pacing);
    Resolved = nullptr;
    return end == TLoopEnd::LinkLost || end == TLoopEnd::UnitAborted ? station.Failure().Message : std::string();
}

void TStationWorker::WaitingForBoard()
{
    Tell([](TStationView& view) { view.StationWaiting(false); });
}

void TStationWorker::WaitingForRemoval()
{
    Tell([](TStationView& view) { view.StationWaiting(true); });
}

void TStationWorker::UnitStarted(std::optional<std::uint64_t> serial)
{
    LastPercent = -1;
    Tell([serial](TStationView& view) { view.StationRunning(serial); });
}

void TStationWorker::UnitEnded(const TUnitOutcome& outcome, int)
{
    for (const TStepResult& step : outcome.Steps)
        for (const std::string& line : step.Report)
            AddLogLine(line);
}

void TStationWorker::Counted(const TUnitOutcome& outcome, int number, const TLoopCounters& counters)
{
    Tell([outcome, number, counters](TStationView& view) { view.StationVerdict(outcome, number, counters); });
}

void TStationWorker::StageStarted(const TStageProgress& progress)
{
    LastPercent = progress.Percent;
    const auto step =
        Resolved ? Resolved->StepProgress(progress.StageNumber, progress.Percent) : TResolvedJob::TStepProgress{};
    Tell([step](TStationView& view) { view.StationProgress(step.Title, step.Percent); });
}

void TStationWorker::StageProgress(const TStageProgress& progress)
{
    if (progress.Percent != LastPercent)
        StageStarted(progress);
}

void TStationWorker::AddLogLine(const std::string& text)
{
    Tell([text](TStationView& view) { view.StationLog(text); });
}

} // namespace lindprog
