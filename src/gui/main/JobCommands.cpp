// Job > ... and File > Open job...: a production job shown in place of the
// hex view, its loop run with the window's port given up to it, and the
// buffer kept for its region meanwhile.

#include "core/link/AdapterCommands.h"
#include "core/production/JobImages.h"
#include "gui/buffer/DumpF.h"
#include "gui/main/LogView.h"
#include "gui/main/Main.h"
#include "gui/production/ProductionView.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>

#include <algorithm>

namespace lindprog {

void TMainForm::CreateJobMenu()
{
    QMenu* job = menuBar()->addMenu("&Job");
    job->setObjectName("mnJob");
    cmJobStart = job->addAction("&Start", this, [this] {
        if (ProductionView != nullptr)
            ProductionView->Start();
    });
    cmJobStop = job->addAction("S&top", this, [this] {
        if (ProductionView != nullptr)
            ProductionView->Stop();
    });
    job->addSeparator();
    cmJobExport = job->addAction("&Export...");
    connect(
        cmJobExport, &QAction::triggered, this,
        [this] {
            if (ProductionView != nullptr)
                ProductionView->cmExportClick();
        },
        Qt::QueuedConnection);
    job->addSeparator();
    cmJobClose = job->addAction("&Close job", this, &TMainForm::CloseJob);
    const std::pair<QAction*, const char*> names[] = {
        {cmJobStart, "cmJobStart"}, {cmJobStop, "cmJobStop"}, {cmJobExport, "cmJobExport"}, {cmJobClose, "cmJobClose"}};
    for (const auto& [action, name] : names)
        action->setObjectName(name);
    EnableJobCommands();
}

void TMainForm::EnableJobCommands()
{
    const bool open = ProductionView != nullptr;
    const bool running = open && ProductionView->Running();
    cmJobStart->setEnabled(open && !running);
    cmJobStop->setEnabled(running);
    cmJobExport->setEnabled(open);
    cmJobClose->setEnabled(open && !running);
}

void TMainForm::OpenJob(const QString& path)
{
    if (Worker->Busy() || (ProductionView != nullptr && ProductionView->Running()))
        return;
    const QString chosen =
        path.isEmpty() ? QFileDialog::getOpenFileName(this, "Open job", QString(), "Jobs (*.toml);;All files (*)")
                       : path;
    if (chosen.isEmpty())
        return;
    TJob job;
    TJobImages images;
    try {
        job = LoadJob(chosen.toStdString());
        images = ReadJobImages(job);
    } catch (const TJobError& error) {
        lvLog->AddLogLine(error.what());
        ActivePrompts->ShowError(error.what());
        return;
    }
    CloseJob();
    lvLog->AddLogLine("Opening job [" + job.Path + "]");
    TProductionHost host{Dispatcher,
                         PortNames,
                         CurrentSettings,
                         *ActivePrompts,
                         [this](const std::string& line) { lvLog->AddLogLine(line); },
                         AdapterSearch->LastPortNumber()};
    ProductionView = new TProductionView(std::move(job), std::move(images), std::move(host), spLog);
    ProductionView->OnRunningChanged = [this](bool running) { ProductionRunning(running); };
    // The tool bar and the device strip work on the buffer, which the job's
    // view takes the place of: they give their height to the operator's view.
    HexSplit = spLog->saveState();
    pToolBar->hide();
    pStrip->hide();
    pStripRule->hide();
    spLog->insertWidget(0, ProductionView);
    spLog->setStretchFactor(0, 3);
    pDump->hide();
    // The view gets what it needs, the log what is left of its usual height
    // and at least its minimum; the window grows with the view's share.
    layout()->activate();
    const int room = spLog->height() - spLog->handleWidth();
    const int log = std::clamp(room - ProductionView->minimumSizeHint().height(), MinimumLogHeight, LogHeight);
    spLog->setSizes({room - log, 0, log}); // the view, the hidden hex view, the log
    FitMinimumSize();
    EnableJobCommands();
}

void TMainForm::CloseJob()
{
    if (ProductionView == nullptr || ProductionView->Running())
        return;
    delete ProductionView;
    ProductionView = nullptr;
    pToolBar->show();
    pStrip->show();
    pStripRule->show();
    pDump->show();
    spLog->restoreState(HexSplit);
    FitMinimumSize();
    EnableJobCommands();
}

void TMainForm::ProductionRunning(bool running)
{
    if (running) {
        // The loop opens the ports itself, the window's among them.
        AdapterSearch->Stop();
        TConnection& connection = Session->Connection();
        const int device = connection.SelectedDevice();
        const int region = connection.SelectedRegion();
        // A kept region whose adapter never came back is still the buffer's.
        if (!KeptRegion && Session->Port().IsOpen() && device >= 0 && region >= 0 && connection.RegionRefusal().empty())
            KeptRegion = TKeptRegion{device, region, connection.Devices()[static_cast<std::size_t>(device)].Name(),
                                     connection.Regions()[static_cast<std::size_t>(region)].Name(), MainBuffer.Size()};
        connection.Disconnect();
        LockedActions.clear();
        QList<QAction*> actions{cmFileOpen,         cmFileSave,      cmFileOpenJob,   mnRecent->menuAction(),
                                cmBufferSwap,       cmBufferFill,    cmDeviceDetect,  cmDeviceProgram,
                                cmDeviceRead,       cmDeviceWrite,   cmDeviceVerify,  cmDeviceErase,
                                cmDeviceBlankCheck, cmDeviceUnlock,  cmDeviceCompare, cmOptionsPort,
                                cmSettings,         cmFirmwareUpdate};
        actions += mnEdit->actions();
        for (QAction* action : actions)
            if (action->isEnabled()) {
                action->setEnabled(false);
                LockedActions.push_back(action);
            }
        pStrip->setEnabled(false);
        DumpView->setEnabled(false);
        EnableJobCommands();
        return;
    }
    for (QAction* action : LockedActions)
        action->setEnabled(true);
    LockedActions.clear();
    pStrip->setEnabled(true);
    DumpView->setEnabled(true);
    EnableJobCommands();
    if (CloseWhenDone)
        close();
    else // the port the window had before, the simulated adapter's too
        AdapterSearch->Connect(AdapterSearch->LastPortNumber(), true);
}

void TMainForm::RestoreKeptRegion()
{
    // Not before the adapter is back in application mode: until then the
    // buffer waits, as it would for the next attempt.
    if (!KeptRegion || !Session->Port().IsOpen() || Session->Port().Mode() != ModeApplication)
        return;
    const TKeptRegion kept = *KeptRegion;
    TConnection& connection = Session->Connection();
    const auto& devices = connection.Devices();
    bool offered = kept.Device < static_cast<int>(devices.size()) &&
                   devices[static_cast<std::size_t>(kept.Device)].Name() == kept.DeviceName;
    if (offered) {
        const auto& regions = connection.RegionsOf(static_cast<std::uint8_t>(kept.Device));
        offered = kept.Region < static_cast<int>(regions.size()) &&
                  regions[static_cast<std::size_t>(kept.Region)].Name() == kept.RegionName &&
                  regions[static_cast<std::size_t>(kept.Region)].Size() == kept.Size;
    }
    if (offered) {
        RestoringRegion = true;
        if (connection.SelectedDevice() != kept.Device)
            connection.SelectDevice(kept.Device);
        connection.SelectRegion(kept.Region);
        RestoringRegion = false;
        cbDevice->setCurrentIndex(kept.Device);
        cbRegion->setCurrentIndex(kept.Region);
    }
    KeptRegion.reset();
    if (!offered && connection.SelectedRegion() >= 0)
        connection.SelectRegion(connection.SelectedRegion());
}

} // namespace lindprog
