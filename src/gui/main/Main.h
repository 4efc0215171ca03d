#pragma once
// The main window: menus, tool bar, device/region strip, hex dump view,
// message log and status bar. It owns everything that lasts for the run: the
// settings, the adapter endpoint and its connection, the buffer and the view.

#include "core/base/Prompts.h"
#include "core/buffer/Buffer.h"
#include "core/link/PortNames.h"
#include "core/ops/AdapterSession.h"
#include "core/settings/Settings.h"
#include "gui/main/AdapterSearch.h"
#include "gui/main/FileCommands.h"
#include "gui/main/QtDispatcher.h"
#include "gui/main/ToolbarImages.h"
#include "gui/ops/OperationWorker.h"
#include "gui/settings/MyReg.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;
class QToolButton;

namespace lindprog {

class TActionDialog;
class TDumpFrame;
class TProductionView;
class TElidedLabel;
class TLogView;

class TMainForm final : public QMainWindow, public TConnectionView, public TRunView {
    Q_OBJECT
public:
    // The window's first size; it can be resized from there.
    static constexpr int ClientWidth = 610;
    static constexpr int ClientHeight = 536;
    // The log's first height, and the least it keeps beside the hex view or
    // a job's view.
    static constexpr int LogHeight = 108;
    static constexpr int MinimumLogHeight = 48;

    // prompts: where questions go; the window's own message boxes when null.
    explicit TMainForm(TPrompts* prompts = nullptr, QWidget* parent = nullptr);
    ~TMainForm() override;

    TDevicePort& Port() { return Session->Port(); }
    TConnection& Connection() { return Session->Connection(); }
    TOperationRunner& Runner() { return Session->Runner(); }
    // The progress dialog of the running operation, if any.
    TActionDialog* CurrentAction() const { return ActionDialog; }
    // Whether the worker runs an operation or a connect attempt.
    bool WorkerBusy() const { return Worker->Busy(); }
    TAdapterSearch& Search() { return *AdapterSearch; }
    TSettings& Settings() { return CurrentSettings; }
    TBuffer& Buffer() { return MainBuffer; }
    TDumpFrame& Dump() { return *DumpView; }
    TLogView& Log() { return *lvLog; }
    TPrompts& Prompts() { return *ActivePrompts; }
    QString PanelText(int panel) const;

    void AddLogLine(const std::string& text) override;
    void cmFileOpenClick();
    void cmFileSaveClick();
    // Loads path as File > Open would after its chooser (Recent files, a
    // file dropped on the window); an empty path asks with the chooser.
    void OpenFile(const QString& path);
    void cmLogSaveClick();
    // File > Open job...: the job file checked and shown in the production
    // view in place of the hex view; an empty path asks with a chooser. A
    // job with an error is shown as an error and nothing opens.
    void OpenJob(const QString& path);
    // Job > Close job: back to the hex view, unless a loop runs.
    void CloseJob();
    // Device > Backup device...: every readable region of the selected
    // device into the folder, with its manifest; an empty folder asks with
    // a chooser.
    void BackupDevice(const QString& folder);
    // File > Restore backup...: the manifest's files checked, the question
    // asked, then the backup put back on the adapter; an empty path asks
    // with a chooser.
    void RestoreBackup(const QString& manifestPath);
    TProductionView* Production() const { return ProductionView; }
    static constexpr const char* StopLoopQuestion =
        "A production loop is running. Stop it after the units under way and close the window?";
    // The question before unsaved edits of the buffer are lost; true when
    // there are none or the user lets them go.
    bool ConfirmDiscard();
    static constexpr const char* DiscardQuestion =
        "The buffer holds changes that were neither saved nor written. Discard them?";
    // The menu the edit commands go into, between File and Buffer.
    QMenu* EditMenu() const { return mnEdit; }
    void cmBufferSwapClick();
    void cmBufferFillClick();
    void cmSettingsClick();
    // Options > Port...: a port, or the simulated adapter, connected behind
    // the window with the usual boxes when nothing answers.
    void cmOptionsPortClick();
    // Every device operation item. The plan runs on the worker under the
    // progress dialog; the click returns when it ended.
    void cmDeviceReadClick(TOperation operation);
    // Each device operation item with the operation it runs.
    std::vector<std::pair<QAction*, TOperation>> OperationActions() const;
    void cmDeviceDetectClick();
    void cmDeviceCompareClick();

    // TRunView
    void BufferReplaced() override;
    void StageStarted(const TStageProgress& progress) override;
    void StageProgress(const TStageProgress& progress) override;

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

    QAction *cmFileOpen, *cmFileSave, *cmFileOpenJob, *cmFileRestore, *cmFileExit, *cmLogSave;
    QAction *cmJobStart, *cmJobStop, *cmJobExport, *cmJobClose;
    QMenu *mnRecent, *mnEdit;
    QAction *cmBufferSwap, *cmBufferFill;
    QAction *cmDeviceCompare, *cmDeviceBackup;
    QAction *cmDeviceDetect, *cmDeviceProgram, *cmDeviceRead, *cmDeviceWrite, *cmDeviceVerify, *cmDeviceErase,
        *cmDeviceBlankCheck, *cmDeviceUnlock;
    QAction *cmOptionsPort, *cmSettings, *cmFirmwareUpdate, *cmHelpAbout;
    QToolButton *btnOpen, *btnSave, *btnProgram, *btnRead, *btnWrite, *btnVerify, *btnErase, *btnBlankCheck;
    QComboBox *cbDevice, *cbVoltage, *cbRegion, *cbViewMode;
    QCheckBox* cbSwapBytes;
    QLabel* mBufferSize;
    QFrame* pDump;
    QSplitter* spLog;
    TLogView* lvLog;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    void CreateMenus();
    QWidget* CreateToolBar();
    QWidget* CreateSelectionStrip();
    void CreateStatusBar();
    // The hex view's minimum, or the job's view's while a job is open.
    void FitMinimumSize();
    void FitStatusPanels();
    void ShowPointerHint(const QPoint& globalPosition);
    void ApplicationHint(const QString& hint);
    QToolButton* MakeToolButton(QWidget* bar, QAction* action, TToolImage image, const char* name, const char* hint);
    // The device and region the buffer belongs to, as the lists name them.
    TRegionPlace SelectedPlace() const;
    // Runs the plan on the worker under the progress dialog, on a copy of
    // the buffer that the worker hands back at every BufferReplaced.
    // intoBuffer: the copy becomes the buffer as it changes (Read), else the
    // buffer stays as it is (Compare).
    void RunPlan(TPlan plan, bool intoBuffer = true);
    // Runs work on the worker under the progress dialog, with the window's
    // pacing (its stop, the pause between blocks); returns when it ended.
    void RunUnderDialog(std::function<void(const TRunPacing& pacing)> work);
    // After a plan: a verify that found a byte shows it; a compare marks
    // every differing byte.
    void ShowWhereItDiffers();
    void FillRecentMenu();
    void CreateJobMenu();
    // While a production loop runs the operator can neither edit nor run
    // anything else: every command but the job's is disabled, and the
    // window's own port is given up to the loop.
    void ProductionRunning(bool running);
    // After a connect: the kept region chosen again, buffer and all, if the
    // adapter still offers it; else the region the connection chose gets a
    // buffer of its own.
    void RestoreKeptRegion();
    void EnableJobCommands();
    // The caption, the file's name and "*" while the buffer holds unsaved edits.
    void UpdateTitle();
    void RestorePlacement();
    void SavePlacement();

    std::unique_ptr<TPrompts> OwnPrompts;
    TPrompts* ActivePrompts;
    TSettings CurrentSettings;
    std::unique_ptr<TMyRegistry> Registry;
    TPortNames PortNames;
    TQtDispatcher Dispatcher;
    TBackgroundPrompts WorkerPrompts;
    std::unique_ptr<TOperationWorker> Worker;
    std::unique_ptr<TAdapterSession> Session;
    TActionDialog* ActionDialog = nullptr;
    std::vector<std::uint8_t> WorkBuffer; // the worker's bytes while a plan runs
    bool WorkIntoBuffer = true;           // and whether they become the buffer
    std::vector<std::uint8_t> Expected;   // Compare: the buffer as it was when it began
    // The buffer holds an image file's bytes (not a raw file's, not a read):
    // Write and Program may leave its erased blocks out.
    bool BufferFromImage = false;
    TBuffer MainBuffer;
    TDumpFrame* DumpView = nullptr;
    TBufferFileDialogs FileDialogs{this};
    std::array<QLabel*, 5> Panels{};
    TElidedLabel* mIdentity = nullptr; // panel 1
    bool Querying = false;
    bool UpdatingFirmware = false;
    bool CloseWhenDone = false;
    TAdapterSearch* AdapterSearch = nullptr;
    TProductionView* ProductionView = nullptr;
    QWidget* pToolBar = nullptr;
    QWidget* pStrip = nullptr;
    QWidget* pStripRule = nullptr;
    QByteArray HexSplit; // the hex view's and the log's heights while a job is shown
    // What the production lock disabled, to be enabled again after it.
    std::vector<QAction*> LockedActions;
    // The region the buffer belongs to while a production loop has the
    // window's port. The connect after the loop chooses the catalogue's
    // first region; the buffer waits for this one instead, so its bytes and
    // edits are there again when the job closes.
    struct TKeptRegion {
        int Device = -1;
        int Region = -1;
        std::string DeviceName;
        std::string RegionName;
        std::uint32_t Size = 0;
    };
    std::optional<TKeptRegion> KeptRegion;
    bool RestoringRegion = false;
    QString Caption;  // the connection's part of the title
    QString FileName; // the file last opened or saved, for the title
};

// The long part of a hint: what follows its first "|", or all of it.
QString LongHint(const QString& hint);

} // namespace lindprog
