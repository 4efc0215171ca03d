#include "gui/link/DemoAdapter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

// The scenario is compiled into the static GUI library, whose resources are
// not registered by themselves.
static void RegisterDemoResources()
{
    Q_INIT_RESOURCE(demo);
}

namespace lindprog {

namespace {

constexpr int StartBoundMs = 5000;
constexpr int StopBoundMs = 3000;

} // namespace

TDemoAdapter::TDemoAdapter(QObject* parent) : QObject(parent)
{
}

TDemoAdapter::~TDemoAdapter()
{
    Stop();
}

QString TDemoAdapter::SimulatorPath()
{
    const QDir here(QCoreApplication::applicationDirPath());
    // Installed: beside the program. Built: the build's sim folder, two up
    // from the window's own folder.
    for (const QString& candidate : {here.filePath("lindprog-sim"), here.filePath("../../sim/lindprog-sim")}) {
        const QFileInfo file(candidate);
        if (file.isFile() && file.isExecutable())
            return file.canonicalFilePath();
    }
    return {};
}

bool TDemoAdapter::Running() const
{
    return Process != nullptr && Process->state() == QProcess::Running;
}

QString TDemoAdapter::Start(QString& error)
{
    Stop();
    const QString simulator = SimulatorPath();
    if (simulator.isEmpty()) {
        error = "lindprog-sim is not installed";
        return {};
    }
    RegisterDemoResources();
    Folder = std::make_unique<QTemporaryDir>();
    const QString scenario = Folder->filePath("demo.json");
    const QString link = Folder->filePath("ttyDEMO");
    if (!Folder->isValid() || !QFile::copy(":/demo/demo.json", scenario)) {
        error = "cannot write the demo scenario";
        return {};
    }
    Process = std::make_unique<QProcess>();
    Process->start(simulator, {"--scenario", scenario, "--link", link, "--pace", "--quiet"});
    // It prints its terminal's path once it serves.
    if (!Process->waitForStarted(StartBoundMs) || !Process->waitForReadyRead(StartBoundMs) ||
        !QFileInfo::exists(link)) {
        error = QString::fromLocal8Bit(Process->readAllStandardError()).trimmed();
        if (error.isEmpty())
            error = Process->errorString();
        Stop();
        return {};
    }
    return link;
}

void TDemoAdapter::Stop()
{
    if (Process != nullptr) {
        // Asked to end, it removes its link and closes its terminal.
        Process->terminate();
        if (!Process->waitForFinished(StopBoundMs))
            Process->kill();
        Process->waitForFinished(StopBoundMs);
        Process.reset();
    }
    Folder.reset();
}

} // namespace lindprog
