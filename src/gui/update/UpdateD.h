#pragma once
// The firmware update dialog: a progress bar, its own log, and one button that
// starts the update worker and, once the worker has ended, closes the dialog.
// While the worker runs the dialog can't be closed: the worker uses it and the
// image to the end.

#include "core/update/ProgramThread.h"
#include "gui/main/QtDispatcher.h"

#include <QDialog>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace lindprog {

class TDevicePort;
class TPrompts;

class TUpdateDialog final : public QDialog, public TUpdateView {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 297;
    static constexpr int ClientHeight = 241;

    // The image must outlive the dialog; the dialog only reads it.
    TUpdateDialog(TDevicePort& port, std::span<const std::uint8_t> image, QWidget* parent);
    ~TUpdateDialog() override;

    // TUpdateView: also used by the dialog itself and by the update command.
    void AddLine(const std::string& text) override;
    void SetProgress(int position) override;

    void btnStartClick();
    // Runs on the UI thread after the worker's body has returned.
    void WorkerDone();
    bool WorkerRunning() const { return Worker && StartTag == 0; }

    QProgressBar* pb;
    QPlainTextEdit* Memo;
    QPushButton* btnStart;

public slots:
    // The close box and Esc end here; refused while the worker runs.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    int PageCount() const;

    TDevicePort& Port;
    TQtDispatcher Dispatcher; // declared before Worker: it outlives the worker
    std::unique_ptr<TProgramThread> Worker;
    std::span<const std::uint8_t> Image;
    int StartTag = 0; // 0 while btnStart means Start, 1 once it means Close
    bool Shown = false;
};

// The two entries of odFirmware, as a Qt file dialog takes them.
QStringList FirmwareFilters();

// Options > "Firmware update...": choose a file, check its size, and run the
// update dialog on its image. A file that can't be opened throws, for the
// application's error box.
void RunFirmwareUpdate(QWidget* parent, TDevicePort& port, TPrompts& prompts);

} // namespace lindprog
