#include "gui/main/AdapterSearch.h"

#include "core/base/AdapterText.h"
#include "core/base/TextFormat.h"
#include "core/link/DevicePort.h"
#include "core/link/PortNames.h"
#include "gui/link/DemoAdapter.h"
#include "gui/ops/OperationWorker.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace lindprog {

void TBackgroundPrompts::ShowError(const std::string& text)
{
    if (!Quiet)
        Prompts.ShowError(text);
}

TAdapterSearch::TAdapterSearch(const TParts& parts, QObject* parent)
    : QObject(parent), tmrConnect(new QTimer(this)), Parts(parts), Demo(new TDemoAdapter(this))
{
    tmrConnect->setObjectName("tmrConnect");
    tmrConnect->setInterval(RetryMs);
    tmrConnect->setSingleShot(true);
    connect(tmrConnect, &QTimer::timeout, this, &TAdapterSearch::tmrConnectTimer);
}

TAdapterSearch::~TAdapterSearch() = default;

void TAdapterSearch::Connect(int port, bool quiet)
{
    Attempt(port, quiet, false);
}

void TAdapterSearch::Attempt(int port, bool quiet, bool retrying)
{
    LastPort = port;
    Parts.Prompts.Quiet = quiet;
    MuteLog = retrying;
    auto result = std::make_shared<TConnectResult>(TConnectResult::CannotOpen);
    Parts.Worker.Start([this, port, result] { *result = Parts.Connection.Connect(port); },
                       [this, result, quiet] { Ended(*result, quiet); });
}

void TAdapterSearch::Ended(TConnectResult result, bool quiet)
{
    Parts.Prompts.Quiet = false;
    MuteLog = false;
    if (OnEnded && !OnEnded())
        return;
    const bool found = result == TConnectResult::Application || result == TConnectResult::Bootloader ||
                       result == TConnectResult::UnknownMode;
    if (found) {
        NoAdapter.clear();
        // The panels show the adapter only while it is there; the log keeps
        // which one the window worked with, and from when.
        const TDevicePort& port = Parts.Port;
        Parts.Log.AddLogLine(Format("Connected to %s on COM%d, firmware v%d.%d",
                                    ShowControlCharacters(port.Identity()).c_str(), LastPort, port.VersionMajor(),
                                    port.VersionMinor()));
        return;
    }
    if (quiet && NoAdapter.isEmpty()) {
        NoAdapter = QString::fromStdString(Format("No adapter on COM%d \u2014 Options > Port...", LastPort));
        Parts.Log.AddLogLine(NoAdapter.toStdString());
        if (const std::string& refusal = Parts.Connection.RegionRefusal(); !refusal.empty())
            Parts.Log.AddLogLine(refusal);
        if (OnNoAdapterChanged)
            OnNoAdapterChanged();
    }
    tmrConnect->start();
}

void TAdapterSearch::tmrConnectTimer()
{
    // Not while a dialog owns the window (a firmware update may use the port).
    if (QApplication::activeModalWidget() != nullptr || Parts.Worker.Busy()) {
        tmrConnect->start();
        return;
    }
    Attempt(LastPort, true, true);
}

bool TAdapterSearch::DemoAvailable() const
{
    return !TDemoAdapter::SimulatorPath().isEmpty();
}

void TAdapterSearch::ConnectDemo()
{
    // Closed before the simulator it may be talking to goes.
    Parts.Connection.Disconnect();
    QString error;
    const QString link = Demo->Start(error);
    if (link.isEmpty()) {
        Parts.Prompts.ShowError("Cannot start the simulated adapter: " + error.toStdString());
        return;
    }
    // A number of its own, after every port the system lists; the stored
    // port stays, so the next start looks for the real adapter again.
    int number = 1;
    for (const TPortEntry& port : Parts.PortNames.AvailablePorts())
        number = std::max(number, port.Number + 1);
    Parts.PortNames.Pin(number, link.toStdString());
    Connect(number, false);
}

void TAdapterSearch::LeaveDemo()
{
    if (!Demo->Running())
        return;
    Parts.Connection.Disconnect();
    Demo->Stop();
}

void TAdapterSearch::Stop()
{
    // The attempt under way is left, not waited out: the user is choosing
    // another port, and a silent adapter would hold this one for seconds.
    if (Parts.Worker.Busy())
        Parts.Port.Interrupt();
    WaitForWorker();
    tmrConnect->stop(); // also a retry the attempt's end has just planned
    if (!NoAdapter.isEmpty()) {
        NoAdapter.clear();
        if (OnNoAdapterChanged)
            OnNoAdapterChanged();
    }
}

void TAdapterSearch::WaitForWorker()
{
    if (!Parts.Worker.Busy())
        return;
    QEventLoop wait;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &wait, [this, &wait] {
        if (!Parts.Worker.Busy())
            wait.quit();
    });
    poll.start(10);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
}

void TAdapterSearch::PortVanished(bool watch)
{
    // The worker may still be inside a request (which fails at once on a
    // vanished port); the closed state follows once it has ended.
    if (Parts.Worker.Busy()) {
        QTimer::singleShot(10, this, [this, watch] { PortVanished(watch); });
        return;
    }
    Parts.Connection.PortVanished();
    if (watch && !Parts.Port.IsOpen())
        tmrConnect->start();
}

void TAdapterSearch::Shutdown()
{
    tmrConnect->stop();
    Demo->Stop();
}

} // namespace lindprog
