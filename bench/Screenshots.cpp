// The pictures in docs/, taken from the real window against the simulator:
// the main window after a read, the progress dialog during Program, the
// compare view with its marks, and the production view of a job on two
// adapters during a run and after one of them failed. Each is the widget's own rendering, so the
// same picture comes out with or without a display; QT_SCALE_FACTOR=2 gives
// the high-density ones. The production view is taken at the window's first
// size, the one a new user meets; SIZE (WIDTHxHEIGHT, or "minimum") takes it
// at another, to see how it holds up there.
//
//   lindprog-screenshots FOLDER SUFFIX [SIZE]   (e.g. docs "" or docs "@2x")

#include "SimProcess.h"
#include "WindowRig.h"
#include "core/base/Prompts.h"
#include "gui/buffer/DumpF.h"
#include "gui/main/Application.h"
#include "gui/main/Main.h"
#include "gui/ops/ActionD.h"
#include "gui/production/ProductionView.h"
#include "gui/production/StationColumn.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

using namespace lindprog;

namespace {

constexpr int PortNumber = 9;

// The demo's adapter refusing every write: the unit on it fails.
std::string RefusingDemoScenario()
{
    std::ifstream file(LINDPROG_DEMO_SCENARIO);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t open = text.find('{');
    if (open == std::string::npos)
        return {};
    return text.insert(open + 1, R"("faults": [{"command": 162, "kind": "status", "status": 17}],)");
}

// A job for the demo's device: a small program image with a serial number in
// the code flash, and a verify of the data flash's calibration record.
void WriteDemoJob(const QString& folder)
{
    const std::string path = folder.toStdString();
    std::ofstream image(path + "/app.srec");
    for (unsigned address = 0; address < 0x1800; address += 16) {
        std::string record = "S113";
        char field[8];
        std::snprintf(field, sizeof field, "%04X", address);
        record += field;
        unsigned sum = 0x13 + (address >> 8) + (address & 0xFF);
        for (unsigned k = 0; k < 16; ++k) {
            const unsigned byte = (address + k * 7) & 0xFF;
            std::snprintf(field, sizeof field, "%02X", byte);
            record += field;
            sum += byte;
        }
        std::snprintf(field, sizeof field, "%02X", ~sum & 0xFF);
        image << record << field << "\n";
    }
    image << "S9030000FC\n";
    std::string data(0x10000, '\xFF');
    data.replace(0, 12, "\xCA\x1B\x00\x01\x00\x00\x00\x40\x00\x00\xA5\xA5", 12);
    std::ofstream(path + "/data.bin", std::ios::binary) << data;
    std::ofstream(path + "/job.toml") << "name = \"controller-rev-c\"\ndevice = \"SPC560B50\"\n"
                                         "[[step]]\nregion = \"Code flash\"\noperation = \"program\"\n"
                                         "image = \"app.srec\"\n"
                                         "[[step]]\nregion = \"Data flash\"\noperation = \"verify\"\n"
                                         "image = \"data.bin\"\n"
                                         "[serial]\nregion = \"Code flash\"\noffset = 0x1A60\n"
                                         "format = \"u32le\"\nstart = 240100\n";
}

bool Save(QWidget& widget, const QString& path)
{
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toLocal8Bit().constData());
    return saved;
}

// Two columns on the operator's key: one unit each, the second adapter's refused.
bool ShootProduction(TMainForm& form, const QString& folder, const QString& suffix, const QSize& size)
{
    const QTemporaryDir jobFolder;
    WriteDemoJob(jobFolder.path());
    bench::TSimProcess refusing(RefusingDemoScenario(), {"--pace"});
    ::setenv(("LINDPROG_COM" + std::to_string(PortNumber + 1)).c_str(), refusing.SlavePath().c_str(), 1);
    // The job opens in the window's first size, as it does for a new user.
    form.resize(TMainForm::ClientWidth, TMainForm::ClientHeight + form.menuBar()->sizeHint().height());
    QCoreApplication::processEvents(); // laid out in that size, as the user has it
    form.OpenJob(jobFolder.path() + "/job.toml");
    TProductionView* view = form.Production();
    if (view == nullptr)
        return false;
    view->edStation->setText("Line 3");
    view->edPorts->setText(QString("COM%1, COM%2").arg(PortNumber).arg(PortNumber + 1));
    view->cbTrigger->setCurrentIndex(1);
    form.resize(size.expandedTo(form.minimumSize()));
    if (!view->Start())
        return false;
    const auto& columns = view->Columns();
    const auto all = [&](const auto& holds) { return std::all_of(columns.begin(), columns.end(), holds); };
    if (!bench::WaitUntil([&] { return all([](auto* c) { return c->Verdict() == "WAITING FOR BOARD"; }); }, 20000))
        return false;
    view->Next();
    const bool midway = bench::WaitUntil(
        [&] { return columns[0]->Verdict() == "RUNNING" && columns[0]->Detail().contains("program  4"); }, 30000);
    bool saved = midway && Save(form, folder + "/production-running" + suffix + ".png");
    if (!bench::WaitUntil([&] { return all([](auto* c) { return c->Passed() + c->Failed() == 1; }); }, 60000))
        return false;
    saved &= Save(form, folder + "/production-fail" + suffix + ".png");
    view->Stop();
    return bench::WaitUntil([&] { return !view->Running(); }, 10000) && saved;
}

} // namespace

int main(int argc, char** argv)
{
    bench::OffscreenUnlessChosen();
    TApplication application(argc, argv);
    const QString folder = argc > 1 ? argv[1] : "docs";
    const QString suffix = argc > 2 ? argv[2] : "";
    const QString sizeText = argc > 3 ? argv[3] : "";
    const QTemporaryDir settingsFolder;
    bench::UseSettingsIn(settingsFolder, PortNumber);

    // The demo's adapter, paced so that the progress dialog is seen mid-way.
    bench::TSimProcess sim("", {"--pace"});
    ::setenv(("LINDPROG_COM" + std::to_string(PortNumber)).c_str(), sim.SlavePath().c_str(), 1);
    bench::TYesPrompts prompts;
    TMainForm form(&prompts);
    form.resize(760, 600);
    form.show();
    if (!bench::WaitUntil([&] { return form.cmDeviceRead->isEnabled(); }, 10000)) {
        std::fprintf(stderr, "the window did not connect\n");
        return 1;
    }
    form.cmDeviceRead->trigger();
    bool saved = Save(form, folder + "/main-window" + suffix + ".png");

    // Program: the dialog is taken once its writing stage is under way.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        TActionDialog* dialog = form.CurrentAction();
        if (dialog != nullptr && dialog->windowTitle().contains("Writing") && dialog->isVisible()) {
            watch.stop();
            QTimer::singleShot(400, dialog,
                               [&, dialog] { saved &= Save(*dialog, folder + "/progress-dialog" + suffix + ".png"); });
        }
    });
    watch.start(20);
    form.cmDeviceProgram->trigger();

    // Compare: three places of the buffer changed after the program.
    auto bytes = form.Buffer().Bytes();
    for (const std::size_t at : {0x24, 0x25, 0x61, 0xB3})
        bytes[at] ^= 0x5A;
    form.Dump().Repaint();
    form.cmDeviceCompare->trigger();
    QCoreApplication::processEvents();
    saved &= Save(form, folder + "/compare-view" + suffix + ".png");
    // The window's first size; "minimum" is brought up to the window's
    // minimum once the job is open.
    QSize productionSize(TMainForm::ClientWidth, TMainForm::ClientHeight + form.menuBar()->sizeHint().height());
    if (sizeText == "minimum")
        productionSize = QSize(0, 0);
    else if (const QStringList parts = sizeText.split('x'); parts.size() == 2)
        productionSize = QSize(parts[0].toInt(), parts[1].toInt());
    return saved && ShootProduction(form, folder, suffix, productionSize) ? 0 : 1;
}
