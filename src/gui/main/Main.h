#pragma once
// The main window: menus, tool bar, device/region strip, hex dump view,
// message log and status bar. It owns everything that lasts for the run: the
// settings, the adapter endpoint and its connection, the buffer and the view.

#include "core/base/Prompts.h"
#include "core/buffer/Buffer.h"
#include "core/link/DevicePort.h"
#include "core/link/PortNames.h"
#include "core/ops/Connection.h"
#include "core/ops/OperationRunner.h"
#include "core/settings/Settings.h"
#include "gui/main/FileCommands.h"
#include "gui/main/QtDispatcher.h"
#include "gui/main/ToolbarImages.h"
#include "gui/settings/MyReg.h"

#include <QMainWindow>

#include <array>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QTimer;
class QToolButton;

namespace lindprog {

class TActionDialog;
class TDumpFrame;
class TLogView;

class TMainForm final : public QMainWindow, public TConnectionView, public TRunView {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 610;
    static constexpr int ClientHeight = 536;

    // prompts: where questions go; the window's own message boxes when null.
    explicit TMainForm(TPrompts* prompts = nullptr, QWidget* parent = nullptr);
    ~TMainForm() override;

    TDevicePort& Port() { return *DevicePort; }
    TConnection& Connection() { return *AdapterConnection; }
    TOperationRunner& Runner() { return *OperationRunner; }
    // The progress dialog of the running operation, if any.
    TActionDialog* CurrentAction() const { return ActionDialog; }
    TSettings& Settings() { return CurrentSettings; }
    TBuffer& Buffer() { return MainBuffer; }
    TDumpFrame& Dump() { return *DumpView; }
    TLogView& Log() { return *lvLog; }
    TPrompts& Prompts() { return *ActivePrompts; }
    QString PanelText(int panel) const;

    void AddLogLine(const std::string& text) override;
    void cmFileOpenClick();
    void cmFileSaveClick();
    void cmBufferSwapClick();
    void cmBufferFillClick();
    void cmSettingsClick();
    // Every device operation item; tag is its operation code. A click while
    // the next stage of a plan is pending runs that stage.
    void cmDeviceReadClick(int tag);
    void tmrActionTimer();
    void cmDeviceDetectClick();

    // TRunView
    void BufferReplaced() override;
    void ShowSpeed(std::uint32_t bytesPerSecond) override;

    // TConnectionView
    void ShowQuerying() override;
    void ShowBusy(bool busy) override;
    void ClearHintPanel() override;
    void ShowAdapter(const std::string& identity, const std::string& version) override;
    void SetCaption(const std::string& caption) override;
    void ShowDevices(const std::vector<std::string>& names, int selected) override;
    void ShowVoltages(const std::vector<TVoltageEntry>& entries, int selected) override;
    void ShowRegions(const std::vector<std::string>& names, int selected) override;
    bool ResizeBuffer(std::uint32_t size) override;
    void ApplyActions(const TActionState& actions) override;
    void SetFirmwareUpdateEnabled(bool enabled) override;
    void FocusLog() override;

    QAction *cmFileOpen, *cmFileSave, *cmFileExit;
    QAction *cmBufferSwap, *cmBufferFill;
    QAction *cmDeviceDetect, *cmDeviceProgram, *cmDeviceRead, *cmDeviceWrite, *cmDeviceVerify, *cmDeviceErase,
        *cmDeviceBlankCheck, *cmDeviceUnlock;
    QAction *cmOptionsPort, *cmSettings, *cmFirmwareUpdate, *cmHelpAbout;
    QToolButton *btnOpen, *btnSave, *btnProgram, *btnRead, *btnWrite, *btnVerify, *btnErase, *btnBlankCheck;
    QComboBox *cbDevice, *cbVoltage, *cbRegion, *cbViewMode;
    QCheckBox* cbSwapBytes;
    QLabel* mBufferSize;
    QFrame* pDump;
    TLogView* lvLog;
    QTimer* tmrAction;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    void CreateMenus();
    QWidget* CreateToolBar();
    QWidget* CreateSelectionStrip();
    void CreateStatusBar();
    void ShowPointerHint(const QPoint& globalPosition);
    void ApplicationHint(const QString& hint);
    QToolButton* MakeToolButton(QWidget* bar, QAction* action, TToolImage image, const char* name, const char* hint);
    // The device and region the buffer belongs to, as the lists name them.
    TRegionPlace SelectedPlace() const;
    // The running stage under its progress dialog; then its result and,
    // when the plan goes on, the pause before the next stage.
    void RunStage();
    void RestorePlacement();
    void SavePlacement();

    std::unique_ptr<TPrompts> OwnPrompts;
    TPrompts* ActivePrompts;
    TSettings CurrentSettings;
    std::unique_ptr<TMyRegistry> Registry;
    TPortNames PortNames;
    TQtDispatcher Dispatcher;
    std::unique_ptr<TDevicePort> DevicePort;
    std::unique_ptr<TConnection> AdapterConnection;
    std::unique_ptr<TOperationRunner> OperationRunner;
    TActionDialog* ActionDialog = nullptr;
    TBuffer MainBuffer;
    TDumpFrame* DumpView = nullptr;
    TBufferFileDialogs FileDialogs{this};
    std::array<QLabel*, 5> Panels{};
    bool Querying = false;
};

// The long part of a hint: what follows its first "|", or all of it.
QString LongHint(const QString& hint);

} // namespace lindprog
