// The pictures in docs/, taken from the real window against the simulator:
// the main window after a read, the progress dialog during Program, and the
// compare view with its marks. Each is the widget's own rendering, so the
// same picture comes out with or without a display; QT_SCALE_FACTOR=2 gives
// the high-density ones.
//
//   lindprog-screenshots FOLDER SUFFIX   (e.g. docs "" or docs "@2x")

#include "SimProcess.h"
#include "core/base/Prompts.h"
#include "gui/buffer/DumpF.h"
#include "gui/main/Application.h"
#include "gui/main/Main.h"
#include "gui/ops/ActionD.h"

#include <QAction>
#include <QElapsedTimer>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace lindprog;

namespace {

constexpr int PortNumber = 9;

class TYesPrompts final : public TPrompts {
public:
    void ShowError(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
    void ShowInfo(const std::string&) override {}
    bool AskConfirm(const std::string&) override { return true; }
    TAnswer AskConfirmButton(const std::string&) override { return TAnswer::Yes; }
    TAnswer AskWarning(const std::string&) override { return TAnswer::No; }
};

bool Save(QWidget& widget, const QString& path)
{
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toLocal8Bit().constData());
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    const QString folder = argc > 1 ? argv[1] : "docs";
    const QString suffix = argc > 2 ? argv[2] : "";
    const QTemporaryDir settingsFolder;
    ::setenv("XDG_CONFIG_HOME", settingsFolder.path().toLocal8Bit().constData(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Fenwick Arl", "Lindprog")
        .setValue("SerialPort", PortNumber);

    // The demo's adapter, paced so that the progress dialog is seen mid-way.
    bench::TSimProcess sim("", {"--pace"});
    ::setenv(("LINDPROG_COM" + std::to_string(PortNumber)).c_str(), sim.SlavePath().c_str(), 1);
    TYesPrompts prompts;
    TMainForm form(&prompts);
    form.resize(760, 600);
    form.show();
    QElapsedTimer bound;
    bound.start();
    while (!form.cmDeviceRead->isEnabled() && bound.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!form.cmDeviceRead->isEnabled()) {
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
    return saved ? 0 : 1;
}
