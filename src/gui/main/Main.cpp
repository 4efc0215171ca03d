#include "gui/main/Main.h"

#include "core/base/AdapterText.h"
#include "core/base/TextFormat.h"
#include "core/ops/JtagScan.h"
#include "gui/buffer/DumpF.h"
#include "gui/buffer/EditCommands.h"
#include "gui/buffer/StringFinderCommand.h"
#include "gui/link/SelectPortD.h"
#include "gui/main/AboutD.h"
#include "gui/main/Application.h"
#include "gui/main/ElidedLabel.h"
#include "gui/main/LogView.h"
#include "gui/main/MessagePrompts.h"
#include "gui/main/ToolbarImages.h"
#include "gui/main/WindowStore.h"
#include "gui/ops/ActionD.h"
#include "gui/production/ProductionView.h"
#include "gui/settings/SettingsD.h"
#include "gui/update/UpdateD.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace lindprog {

namespace {

constexpr int ToolBarHeight = 62;
constexpr int StripHeight = 49;
constexpr int DumpHeight = 286;
// Below this the hex view shows too few lines to work in.
constexpr int MinimumDumpHeight = 120;
constexpr int StatusBarHeight = 19;
constexpr const char* HintProperty = "hint";
constexpr int HintPanelWidth = 300;

QFrame* HorizontalRule(QWidget* parent)
{
    auto* rule = new QFrame(parent);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    return rule;
}

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.c_str(), static_cast<qsizetype>(text.size()));
}

// A name the adapter gave, with its control characters shown as escapes.
QString Shown(const std::string& adapterText)
{
    return Text(ShowControlCharacters(adapterText));
}

} // namespace

QString LongHint(const QString& hint)
{
    const qsizetype bar = hint.indexOf('|');
    return bar < 0 ? hint : hint.mid(bar + 1);
}

TMainForm::TMainForm(TPrompts* prompts, QWidget* parent)
    : QMainWindow(parent), OwnPrompts(prompts ? nullptr : std::make_unique<TMessageBoxPrompts>(this)),
      ActivePrompts(prompts ? prompts : OwnPrompts.get()), PortNames(TPortNames::DefaultAssignmentsFile()),
      Dispatcher(this), WorkerPrompts(*ActivePrompts)
{
    FormCreate();
}

TMainForm::~TMainForm()
{
    FormDestroy();
}

void TMainForm::FormCreate()
{
    setObjectName("MainForm");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    // Also the application's font (TApplication); set here too so the window
    // keeps its layout under any application object.
    setFont(WindowFont());
    Caption = TConnection::ProductName;
    setWindowTitle(Caption);
    setAcceptDrops(true);

    CreateMenus();
    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    pToolBar = CreateToolBar();
    column->addWidget(pToolBar);
    pStrip = CreateSelectionStrip();
    column->addWidget(pStrip);
    pStripRule = HorizontalRule(client);
    column->addWidget(pStripRule);
    // The hex view and the log share what the window has below the strip;
    // the splitter between them moves the line, and both grow with the window.
    spLog = new QSplitter(Qt::Vertical, client);
    spLog->setObjectName("spLog");
    spLog->setChildrenCollapsible(false);
    pDump = new QFrame(spLog);
    pDump->setObjectName("pDump");
    pDump->setMinimumHeight(MinimumDumpHeight);
    DumpView = new TDumpFrame(pDump);
    DumpView->AttachTo(pDump);
    auto* stringFinder = new TStringFinderCommand(*DumpView); // owned by the view
    DumpView->SetFindStringsHandler([stringFinder] { stringFinder->cmFindStringClick(); });
    TEditCommandHooks hooks;
    hooks.BaseAddress = [this] {
        const TRegionPlace place = SelectedPlace();
        return RememberedBase(place.Device, place.Region);
    };
    hooks.Report = [this](const QString& text) { lvLog->AddLogLine(text.toStdString()); };
    AddEditCommands(mnEdit, *DumpView, std::move(hooks));
    pDump->installEventFilter(this);
    // The title's "*" follows the view's edits, undone ones too.
    connect(DumpView, &TDumpFrame::EditsChanged, this, &TMainForm::UpdateTitle);
    lvLog = new TLogView(spLog);
    lvLog->setMinimumHeight(MinimumLogHeight);
    spLog->addWidget(pDump);
    spLog->addWidget(lvLog);
    spLog->setStretchFactor(0, 3);
    spLog->setStretchFactor(1, 1);
    spLog->setSizes({DumpHeight, LogHeight});
    column->addWidget(spLog, 1);
    setCentralWidget(client);
    CreateStatusBar();
    FitMinimumSize();
    resize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());

    qApp->installEventFilter(this); // hints follow the mouse over every control
    lvLog->setFocus();

    Registry = std::make_unique<TMyRegistry>();
    CurrentSettings.Load(*Registry);
    // The connection and the runner report through the worker's faces, which
    // pass a call straight on when it comes from the UI thread.
    Worker = std::make_unique<TOperationWorker>(Dispatcher, *lvLog, WorkerPrompts, *this, *this);
    Session = std::make_unique<TAdapterSession>(PortNames, Dispatcher, CurrentSettings,
                                                TSessionFaces{*Worker, *Worker, *Worker, *Worker});
    AdapterSearch =
        new TAdapterSearch({*Worker, Session->Connection(), Session->Port(), PortNames, WorkerPrompts, *lvLog}, this);
    AdapterSearch->OnNoAdapterChanged = [this] {
        if (Panels[2]->text().isEmpty()) { // no adapter's version shown
            mIdentity->SetFullText(AdapterSearch->NoAdapterText());
            FitStatusPanels();
        }
    };
    AdapterSearch->OnEnded = [this] {
        if (CloseWhenDone)
            close();
        else
            RestoreKeptRegion();
        return !CloseWhenDone;
    };
    Session->Port().SetOnVanished([this] { AdapterSearch->PortVanished(!UpdatingFirmware); });
    // The window comes up at once; the adapter is looked for behind it.
    AdapterSearch->Connect(CurrentSettings.SerialPort, true);
    RestorePlacement();
}

void TMainForm::FitMinimumSize()
{
    const int menu = menuBar()->sizeHint().height();
    int width = ClientWidth * 3 / 4;
    int height = MinimumDumpHeight + MinimumLogHeight + ToolBarHeight + StripHeight + StatusBarHeight + menu;
    // A job's view needs more than the hex view, and more as its columns
    // narrow and their lines wrap: the window never gets smaller than the
    // view can be read in.
    if (ProductionView != nullptr) {
        const QSize view = ProductionView->minimumSizeHint();
        width = std::max(width, view.width());
        height = std::max(height, menu + view.height() + spLog->handleWidth() + MinimumLogHeight + StatusBarHeight);
    }
    if (minimumSize() != QSize(width, height))
        setMinimumSize(width, height);
}

void TMainForm::FormDestroy()
{
    qApp->removeEventFilter(this);
    // A loop's units under way are cancelled at their next block; its
    // workers end while the dispatcher they report through is still here.
    delete ProductionView;
    ProductionView = nullptr;
    // A run is cancelled at its next block, a question under way counts as
    // "&No"; the worker ends before what it uses goes.
    Worker->Shutdown();
    // The receiver must not post into a window that is going away, and the
    // simulated adapter's terminal must not vanish under an open port.
    Session->Port().Close();
    AdapterSearch->Shutdown();
    SavePlacement();
    try {
        CurrentSettings.Store(*Registry);
    } catch (const TSettingsError& error) {
        ShowApplicationError(nullptr, error.what());
    }
}

void TMainForm::CreateMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    cmFileOpen = file->addAction("&Open...");
    cmFileSave = file->addAction("&Save...");
    // Queued: a file error then reaches the application's handler from a
    // plain event rather than from the middle of a menu's or button's code.
    connect(cmFileOpen, &QAction::triggered, this, &TMainForm::cmFileOpenClick, Qt::QueuedConnection);
    connect(cmFileSave, &QAction::triggered, this, &TMainForm::cmFileSaveClick, Qt::QueuedConnection);
    mnRecent = file->addMenu("&Recent files");
    mnRecent->setObjectName("mnRecent");
    connect(mnRecent, &QMenu::aboutToShow, this, &TMainForm::FillRecentMenu);
    file->addSeparator();
    cmFileOpenJob = file->addAction("Open &job...");
    cmFileOpenJob->setObjectName("cmFileOpenJob");
    connect(
        cmFileOpenJob, &QAction::triggered, this, [this] { OpenJob(QString()); }, Qt::QueuedConnection);
    cmFileRestore = file->addAction("Restore &backup...");
    cmFileRestore->setObjectName("cmFileRestore");
    cmFileRestore->setEnabled(false);
    connect(
        cmFileRestore, &QAction::triggered, this, [this] { RestoreBackup(QString()); }, Qt::QueuedConnection);
    file->addSeparator();
    cmFileExit = file->addAction("E&xit", this, &QWidget::close);

    // Filled by the hex view's edit commands.
    mnEdit = menuBar()->addMenu("&Edit");
    mnEdit->setObjectName("mnEdit");

    QMenu* buffer = menuBar()->addMenu("&Buffer");
    cmBufferSwap = buffer->addAction("&Swap bytes", this, &TMainForm::cmBufferSwapClick);
    cmBufferFill = buffer->addAction("&Fill", this, &TMainForm::cmBufferFillClick);

    QMenu* device = menuBar()->addMenu("&Device");
    // Hidden for now; a hidden action also reads as disabled, so whether a
    // scan may run is kept by the connection (Connection().Actions().Detect).
    cmDeviceDetect = device->addAction("&Detect");
    cmDeviceDetect->setVisible(false);
    device->addSeparator()->setVisible(false);
    cmDeviceProgram = device->addAction("&Program");
    device->addSeparator();
    cmDeviceRead = device->addAction("&Read");
    cmDeviceWrite = device->addAction("&Write");
    cmDeviceVerify = device->addAction("&Verify");
    cmDeviceErase = device->addAction("&Erase");
    cmDeviceBlankCheck = device->addAction("&Blank check");
    cmDeviceCompare = device->addAction("&Compare", this, &TMainForm::cmDeviceCompareClick);
    cmDeviceCompare->setEnabled(false);
    cmDeviceCompare->setToolTip("Read the region and mark where it differs from the buffer (F8: next difference)");
    device->addSeparator();
    cmDeviceUnlock = device->addAction("&Unlock");
    device->addSeparator();
    cmDeviceBackup = device->addAction("B&ackup device...");
    cmDeviceBackup->setObjectName("cmDeviceBackup");
    cmDeviceBackup->setEnabled(false);
    connect(
        cmDeviceBackup, &QAction::triggered, this, [this] { BackupDevice(QString()); }, Qt::QueuedConnection);

    CreateJobMenu();

    QMenu* options = menuBar()->addMenu("&Options");
    cmOptionsPort = options->addAction("&Port...", this, &TMainForm::cmOptionsPortClick);
    cmSettings = options->addAction("&Settings...", this, &TMainForm::cmSettingsClick);
    cmFirmwareUpdate = options->addAction("&Firmware update...", this, [this] {
        AdapterSearch->Stop();
        Session->Connection().SetWatchPort(false);
        UpdatingFirmware = true;
        RunFirmwareUpdate(this, Session->Port(), *ActivePrompts);
        UpdatingFirmware = false;
        Session->Connection().SetWatchPort(true);
        // An update can end with the port closed (the adapter did not come
        // back). The window then shows the closed state, as after any lost
        // port: no port in the caption, no adapter in the panels, nothing
        // enabled that needs the port.
        if (!Session->Port().IsOpen())
            Session->Connection().Disconnect();
    });
    cmFirmwareUpdate->setEnabled(false);

    QMenu* log = menuBar()->addMenu("&Log");
    cmLogSave = log->addAction("&Save as...");
    connect(cmLogSave, &QAction::triggered, this, &TMainForm::cmLogSaveClick, Qt::QueuedConnection);

    QMenu* help = menuBar()->addMenu("&Help");
    cmHelpAbout = help->addAction("&About...", this, [this] { ShowAbout(this, Session->Port()); });

    for (const auto& [action, operation] : OperationActions()) {
        action->setEnabled(false);
        connect(action, &QAction::triggered, this, [this, operation = operation] { cmDeviceReadClick(operation); });
    }
    connect(cmDeviceDetect, &QAction::triggered, this, &TMainForm::cmDeviceDetectClick);
    const std::pair<QAction*, const char*> names[] = {
        {cmFileOpen, "cmFileOpen"},           {cmFileSave, "cmFileSave"},
        {cmFileExit, "cmFileExit"},           {cmBufferSwap, "cmBufferSwap"},
        {cmBufferFill, "cmBufferFill"},       {cmDeviceDetect, "cmDeviceDetect"},
        {cmDeviceProgram, "cmDeviceProgram"}, {cmDeviceRead, "cmDeviceRead"},
        {cmDeviceWrite, "cmDeviceWrite"},     {cmDeviceVerify, "cmDeviceVerify"},
        {cmDeviceErase, "cmDeviceErase"},     {cmDeviceBlankCheck, "cmDeviceBlankCheck"},
        {cmDeviceUnlock, "cmDeviceUnlock"},   {cmOptionsPort, "cmOptionsPort"},
        {cmSettings, "cmSettings"},           {cmFirmwareUpdate, "cmFirmwareUpdate"},
        {cmHelpAbout, "cmHelpAbout"},         {cmLogSave, "cmLogSave"},
        {cmDeviceCompare, "cmDeviceCompare"}};
    for (const auto& [action, name] : names)
        action->setObjectName(name);
    // Function keys for the device commands people repeat all day; none of
    // them is one the hex view's find, go-to and undo keys use. A station's
    // job opens, starts and stops from the keyboard too: F11 and Shift+F11 as
    // a pair, the way debuggers start and stop, away from the operator's
    // Space and Enter.
    const std::pair<QAction*, QKeySequence> keys[] = {{cmFileOpen, QKeySequence::Open},
                                                      {cmFileSave, QKeySequence::Save},
                                                      {cmFileExit, QKeySequence::Quit},
                                                      {cmFileOpenJob, QKeySequence(Qt::CTRL | Qt::Key_J)},
                                                      {cmJobStart, Qt::Key_F11},
                                                      {cmJobStop, QKeySequence(Qt::SHIFT | Qt::Key_F11)},
                                                      {cmDeviceRead, Qt::Key_F5},
                                                      {cmDeviceVerify, Qt::Key_F6},
                                                      {cmDeviceProgram, Qt::Key_F7},
                                                      {cmDeviceWrite, Qt::Key_F9},
                                                      {cmDeviceErase, QKeySequence(Qt::CTRL | Qt::Key_E)},
                                                      {cmDeviceBlankCheck, QKeySequence(Qt::CTRL | Qt::Key_B)},
                                                      {cmDeviceCompare, QKeySequence(Qt::CTRL | Qt::Key_K)}};
    for (const auto& [action, key] : keys)
        action->setShortcut(key);
}

QToolButton* TMainForm::MakeToolButton(QWidget* bar, QAction* action, TToolImage image, const char* name,
                                       const char* hint)
{
    auto* button = new QToolButton(bar);
    button->setObjectName(name);
    button->setAutoRaise(true);
    button->setFixedSize(71, 54);
    button->setIconSize(QSize(64, 48));
    button->setIcon(ToolbarIcon(image));
    button->setProperty(HintProperty, hint);
    const QString key = action->shortcut().toString(QKeySequence::NativeText);
    button->setToolTip(key.isEmpty() ? QString(hint) : QString("%1 (%2)").arg(hint, key));
    button->setEnabled(action->isEnabled());
    // A button is enabled exactly when its menu item is, and does what it does.
    connect(action, &QAction::enabledChanged, button, &QWidget::setEnabled);
    connect(button, &QToolButton::clicked, action, &QAction::trigger);
    return button;
}

QWidget* TMainForm::CreateToolBar()
{
    auto* bar = new QFrame(this);
    bar->setObjectName("ToolBar1");
    bar->setFixedHeight(ToolBarHeight);
    bar->setFrameShape(QFrame::StyledPanel);
    bar->setFrameShadow(QFrame::Sunken);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(2, 3, 2, 3);
    row->setSpacing(0);
    btnOpen = MakeToolButton(bar, cmFileOpen, TToolImage::Open, "btnOpen", "Load file into buffer");
    btnSave = MakeToolButton(bar, cmFileSave, TToolImage::Save, "btnSave", "Save buffer into file");
    btnProgram = MakeToolButton(bar, cmDeviceProgram, TToolImage::Program, "btnProgram",
                                "Erase, blank-check, write and verify device");
    btnRead = MakeToolButton(bar, cmDeviceRead, TToolImage::Read, "btnRead", "Read device into buffer");
    btnWrite = MakeToolButton(bar, cmDeviceWrite, TToolImage::Write, "btnWrite", "Write buffer to device");
    btnVerify = MakeToolButton(bar, cmDeviceVerify, TToolImage::Verify, "btnVerify", "Verify device against buffer");
    btnErase = MakeToolButton(bar, cmDeviceErase, TToolImage::Erase, "btnErase", "Erase device");
    btnBlankCheck =
        MakeToolButton(bar, cmDeviceBlankCheck, TToolImage::BlankCheck, "btnBlankCheck", "Blank check device");
    row->addWidget(btnOpen);
    row->addWidget(btnSave);
    row->addSpacing(16);
    row->addWidget(btnProgram);
    row->addSpacing(16);
    for (QToolButton* button : {btnRead, btnWrite, btnVerify, btnErase, btnBlankCheck})
        row->addWidget(button);
    row->addStretch(1);
    return bar;
}

QWidget* TMainForm::CreateSelectionStrip()
{
    auto* strip = new QWidget(this);
    strip->setObjectName("pCaption");
    strip->setFixedHeight(StripHeight);
    // The positions are the design's; where this platform's font makes a
    // caption wider than the design allowed, what follows on the row moves
    // right just enough not to cover it.
    int rowEnd = 0;
    const auto label = [strip, &rowEnd](const char* text, int x, int y) {
        auto* caption = new QLabel(text, strip);
        caption->move(std::max(x, rowEnd + 8), y);
        caption->adjustSize();
        rowEnd = caption->geometry().right();
        return caption;
    };
    const auto list = [strip, &rowEnd](const char* name, int x, int width) {
        auto* box = new QComboBox(strip);
        box->setObjectName(name);
        box->setGeometry(std::max(x, rowEnd + 4), 4, width, 21);
        box->setMaxVisibleItems(16);
        box->setProperty(HintProperty, "Device selection");
        box->setToolTip("Device selection");
        rowEnd = box->geometry().right();
        return box;
    };
    label("Device:", 8, 8);
    cbDevice = list("cbDevice", 52, 117);
    label("Output voltage:", 184, 8);
    cbVoltage = list("cbVoltage", 265, 56);
    cbVoltage->addItems({"3.3 V", "5.0 V"});
    label("Region:", 336, 8);
    cbRegion = list("cbRegion", 379, 158);
    rowEnd = 0;
    label("Buffer size:", 8, 32);
    mBufferSize = label("n/a", 72, 32);
    mBufferSize->setObjectName("mBufferSize");
    mBufferSize->setStyleSheet("color: rgb(0, 0, 128);");
    mBufferSize->setMinimumWidth(100);

    // Present for a later display mode; not shown.
    auto* viewAs = label("View as:", 440, 32);
    cbViewMode = new QComboBox(strip);
    cbViewMode->setObjectName("cbViewMode");
    cbViewMode->addItems({"Bytes", "Words", "DWords"});
    cbSwapBytes = new QCheckBox("Swap bytes", strip);
    cbSwapBytes->setObjectName("cbSwapBytes");
    for (QWidget* hidden : std::initializer_list<QWidget*>{viewAs, cbViewMode, cbSwapBytes})
        hidden->hide();

    // While a connect attempt runs on the worker the lists are its to fill.
    connect(cbDevice, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (!Worker->Busy())
            Session->Connection().SelectDevice(index);
    });
    connect(cbRegion, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (!Worker->Busy())
            Session->Connection().SelectRegion(index);
    });
    connect(cbVoltage, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (!Worker->Busy())
            Session->Connection().SelectVoltage(index);
    });
    return strip;
}

void TMainForm::CreateStatusBar()
{
    auto* bar = new QStatusBar(this);
    bar->setObjectName("StatusBar");
    bar->setFixedHeight(StatusBarHeight);
    bar->setSizeGripEnabled(true);
    // The identity panel takes what the others leave: the whole identity
    // shows when there is room, and is cut, with a tooltip, when not.
    const int widths[] = {HintPanelWidth, 80, 35, 50, 50};
    for (std::size_t panel = 0; panel < Panels.size(); ++panel) {
        Panels[panel] = panel == 1 ? (mIdentity = new TElidedLabel(bar)) : new QLabel(bar);
        Panels[panel]->setObjectName(QString("Panel%1").arg(panel));
        if (panel == 1)
            Panels[panel]->setMinimumWidth(widths[panel]);
        else
            Panels[panel]->setFixedWidth(widths[panel]);
        Panels[panel]->setFrameShape(QFrame::Panel);
        Panels[panel]->setFrameShadow(QFrame::Sunken);
        bar->addWidget(Panels[panel], panel == 1 ? 1 : 0);
    }
    // The hint panel gives way first when the window is narrow (the
    // application's event filter sees the bar's resizing).
    Panels[0]->setMinimumWidth(0);
    setStatusBar(bar);
}

QString TMainForm::PanelText(int panel) const
{
    return panel == 1 ? mIdentity->FullText() : Panels[static_cast<std::size_t>(panel)]->text();
}

void TMainForm::FitStatusPanels()
{
    // The identity is shown whole where it can be: the hint panel (300
    // pixels by design) takes what is left beside it, the identity is cut
    // only when even that is not enough.
    int others = 0;
    for (std::size_t panel = 2; panel < Panels.size(); ++panel)
        others += Panels[panel]->width() + statusBar()->layout()->spacing();
    const int room = statusBar()->contentsRect().width() - others - 3 * statusBar()->layout()->spacing() - 24;
    Panels[0]->setFixedWidth(std::clamp(room - mIdentity->sizeHint().width(), 0, HintPanelWidth));
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && Panels[0] != nullptr && watched == Panels[0]->parent())
        FitStatusPanels();
    // The view's layout changed: its columns came or went, or a line wrapped.
    if (event->type() == QEvent::LayoutRequest && ProductionView != nullptr && watched == ProductionView)
        FitMinimumSize();
    if (watched == pDump && event->type() == QEvent::Wheel) {
        DumpView->WheelFromParent(static_cast<QWheelEvent*>(event));
        return true;
    }
    if (!watched->isWidgetType())
        return QMainWindow::eventFilter(watched, event);
    // Enter alone is not enough: moving from a control onto its parent's
    // background enters nothing, and the parent only sees mouse moves (which
    // reach application filters even where no one tracks the mouse). So the
    // hint is taken afresh from whatever is under the pointer.
    switch (event->type()) {
    case QEvent::MouseMove: ShowPointerHint(static_cast<QMouseEvent*>(event)->globalPosition().toPoint()); break;
    case QEvent::Enter:
    case QEvent::Leave: ShowPointerHint(QCursor::pos()); break;
    default: break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::ShowPointerHint(const QPoint& globalPosition)
{
    // "Quering device, please wait..." stays while the adapter is asked, even
    // when a message box of the query is under the pointer.
    if (Querying)
        return;
    // The hint of the control under the pointer, or of its nearest parent
    // that has one.
    QString hint;
    for (QWidget* w = QApplication::widgetAt(globalPosition); w != nullptr && hint.isEmpty(); w = w->parentWidget())
        hint = w->property(HintProperty).toString();
    ApplicationHint(hint);
}

void TMainForm::ApplicationHint(const QString& hint)
{
    const QString longHint = LongHint(hint);
    const QString text = longHint.isEmpty() ? QString() : ' ' + longHint;
    if (Panels[0]->text() != text)
        Panels[0]->setText(text);
}

void TMainForm::AddLogLine(const std::string& text)
{
    // A retry says nothing new: the first attempt has said it.
    if (!AdapterSearch->Retrying())
        lvLog->AddLogLine(text);
}

void TMainForm::cmFileOpenClick()
{
    OpenFile(QString());
}

void TMainForm::OpenFile(const QString& path)
{
    // A file dropped on the window while a loop runs is not opened either.
    if (Worker->Busy() || (ProductionView != nullptr && ProductionView->Running()) || !ConfirmDiscard())
        return;
    QString chosen;
    const auto choose = [this, &path, &chosen] {
        chosen = path.isEmpty() ? FileDialogs.ChooseOpen() : path;
        return chosen;
    };
    // Without an adapter there is no region: the file sizes the buffer.
    const TBufferSizer sizer = [this](std::uint32_t size) { return ResizeBuffer(size); };
    const auto loaded = OpenFileIntoBuffer(
        *lvLog, MainBuffer, *DumpView, *ActivePrompts, choose, SelectedPlace(),
        Session->Port().IsOpen() && !Session->Connection().Regions().empty() ? TBufferSizer() : sizer);
    if (loaded)
        BufferFromImage = *loaded != TImageFormat::Raw;
    if (!chosen.isEmpty()) {
        FileName = chosen;
        AddRecentFile(chosen);
    }
    UpdateTitle();
}

void TMainForm::cmFileSaveClick()
{
    QString chosen;
    SaveBufferIntoFile(
        *lvLog, MainBuffer, *DumpView,
        [this, &chosen] {
            chosen = FileDialogs.ChooseSave();
            return chosen;
        },
        SelectedPlace());
    if (!chosen.isEmpty()) {
        FileName = chosen;
        AddRecentFile(chosen);
    }
    UpdateTitle();
}

void TMainForm::FillRecentMenu()
{
    mnRecent->clear();
    for (const QString& path : RecentFiles()) {
        QAction* item = mnRecent->addAction(QDir::toNativeSeparators(path));
        // Queued as File > Open is, for the same reason.
        connect(
            item, &QAction::triggered, this, [this, path] { OpenFile(path); }, Qt::QueuedConnection);
        item->setEnabled(QFileInfo(path).isFile());
    }
    if (mnRecent->isEmpty())
        mnRecent->addAction("(none)")->setEnabled(false);
}

void TMainForm::cmLogSaveClick()
{
    const QString path =
        QFileDialog::getSaveFileName(this, "Save log", "lindprog-log.txt", "Text file (*.txt);;All files (*)");
    if (!path.isEmpty())
        lvLog->SaveToFile(path);
}

bool TMainForm::ConfirmDiscard()
{
    return !DumpView->Modified() || ActivePrompts->AskWarning(DiscardQuestion) == TAnswer::Yes;
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event)
{
    const QString path = event->mimeData()->urls().value(0).toLocalFile();
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // After the drop has ended, so that a box about the file (or an error)
    // does not come up inside the drag and drop's own loop.
    // A job file opens as a job, as File > Open job would.
    const bool job = QFileInfo(path).suffix().compare("toml", Qt::CaseInsensitive) == 0;
    QTimer::singleShot(0, this, [this, path, job] { job ? OpenJob(path) : OpenFile(path); });
}

void TMainForm::UpdateTitle()
{
    QString title = Caption;
    if (!FileName.isEmpty())
        title += " - " + QFileInfo(FileName).fileName();
    if (DumpView->Modified())
        title += " *";
    if (windowTitle() != title)
        setWindowTitle(title);
}

TRegionPlace TMainForm::SelectedPlace() const
{
    return {cbDevice->currentText(), cbRegion->currentText()};
}

void TMainForm::cmBufferSwapClick()
{
    SwapBytes(MainBuffer.Bytes());
    DumpView->UpdateChanges();
    UpdateTitle();
}

void TMainForm::cmBufferFillClick()
{
    FillCounting(MainBuffer.Bytes());
    DumpView->UpdateChanges();
    UpdateTitle();
}

void TMainForm::cmSettingsClick()
{
    EditSettings(this, CurrentSettings);
}

std::vector<std::pair<QAction*, TOperation>> TMainForm::OperationActions() const
{
    using enum TOperation;
    return {{cmDeviceRead, Read},      {cmDeviceWrite, Write},           {cmDeviceVerify, Verify},
            {cmDeviceErase, Erase},    {cmDeviceBlankCheck, BlankCheck}, {cmDeviceUnlock, Unlock},
            {cmDeviceProgram, Program}};
}

void TMainForm::cmDeviceReadClick(TOperation operation)
{
    if (Worker->Busy())
        return;
    if (operation == TOperation::Read && !ConfirmDiscard())
        return;
    TPlanOptions options;
    options.SkipErased = BufferFromImage && CurrentSettings.SkipErasedBlocks;
    TPlan plan = PlanFor(operation, Session->Connection().Target(MainBuffer.Bytes()), options);
    // Asked here, before the progress dialog comes up; the runner then has
    // no question left to ask.
    if (!plan.Confirmation.empty() && !ActivePrompts->AskConfirm(plan.Confirmation))
        return;
    plan.Confirmation.clear();
    RunPlan(std::move(plan));
    if (operation == TOperation::Read && Session->Runner().Outcome().Confirmed)
        BufferFromImage = false;
    ShowWhereItDiffers();
}

void TMainForm::cmDeviceCompareClick()
{
    if (Worker->Busy())
        return;
    Expected.assign(MainBuffer.Bytes().begin(), MainBuffer.Bytes().end());
    TPlanOptions options;
    options.Expected = Expected;
    RunPlan(PlanFor(TOperation::Read, Session->Connection().Target(MainBuffer.Bytes()), options), false);
    ShowWhereItDiffers();
}

void TMainForm::ShowWhereItDiffers()
{
    const TPlanOutcome& outcome = Session->Runner().Outcome();
    const TStageOutcome& last = outcome.Last();
    if (last.Mismatch.Found) {
        DumpView->GoToOffset(last.Mismatch.Offset);
        return;
    }
    if (outcome.Compared.empty() || !last.Started || last.Cancelled || last.Stage != TOperation::Read)
        return;
    DumpView->ShowDifferences(outcome.Compared.back().Ranges);
    DumpView->GoToNextDifference();
}

void TMainForm::RunPlan(TPlan plan, bool intoBuffer)
{
    WorkIntoBuffer = intoBuffer;
    WorkBuffer.assign(MainBuffer.Bytes().begin(), MainBuffer.Bytes().end());
    for (TPlanStage& stage : plan.Stages)
        stage.Buffer = WorkBuffer;
    RunUnderDialog([this, plan = std::move(plan)](const TRunPacing& pacing) mutable {
        Session->Runner().Run(std::move(plan), pacing);
    });
    std::vector<std::uint8_t>().swap(WorkBuffer);
    std::vector<std::uint8_t>().swap(Expected);
}

void TMainForm::RunUnderDialog(std::function<void(const TRunPacing& pacing)> work)
{
    const std::chrono::milliseconds pause(CurrentSettings.BlockPause);
    TActionDialog dialog(this);
    connect(&dialog, &TActionDialog::CancelRequested, this, [this] { Worker->Cancel(); });
    const bool started = Worker->Start(
        [this, work = std::move(work), pause] {
            TRunPacing pacing;
            pacing.Stop = [this] { return Worker->CancelRequested(); };
            if (pause.count() > 0) {
                // The old pacing for adapters that need it: the pause after
                // every block, and the window's former 100 ms between stages.
                pacing.AfterStep = [this, pause](bool more) {
                    if (more)
                        Worker->Pause(pause);
                };
                pacing.BetweenStages = [this, pause] {
                    Worker->Pause(std::max(pause, std::chrono::milliseconds(100)));
                };
            }
            work(pacing);
        },
        [&dialog] { dialog.Finish(); });
    if (!started)
        return;
    ActionDialog = &dialog;
    dialog.Run();
    ActionDialog = nullptr;
    if (CloseWhenDone)
        QTimer::singleShot(0, this, &QWidget::close);
}

void TMainForm::cmDeviceDetectClick()
{
    // A silent adapter holds the scan for its reply time: behind the
    // window, which keeps painting; its lines reach the log as they come.
    Worker->Start([this] { RunJtagScan(Session->Adapter(), *Worker); }, [] {});
}

void TMainForm::BufferReplaced()
{
    // A compare reads beside the buffer: nothing of it changes.
    if (!WorkIntoBuffer)
        return;
    // The worker waits while the bytes it has are taken over.
    if (!WorkBuffer.empty() && WorkBuffer.size() == MainBuffer.Size())
        std::copy(WorkBuffer.begin(), WorkBuffer.end(), MainBuffer.Bytes().begin());
    DumpView->Repaint();
    DumpView->UpdateChanges();
    UpdateTitle();
}

void TMainForm::StageStarted(const TStageProgress& progress)
{
    if (ActionDialog != nullptr)
        ActionDialog->ShowStage(progress);
}

void TMainForm::StageProgress(const TStageProgress& progress)
{
    if (ActionDialog != nullptr)
        ActionDialog->ShowProgress(progress);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    // A production loop ends between units, when the operator agrees.
    if (ProductionView != nullptr && ProductionView->Running()) {
        if (CloseWhenDone || ActivePrompts->AskConfirm(StopLoopQuestion)) {
            CloseWhenDone = true;
            ProductionView->Stop();
        }
        event->ignore();
        return;
    }
    // The worker must end first: a run stops at its next block, a connect
    // attempt when its request has its answer; then the window closes.
    if (Worker->Busy()) {
        CloseWhenDone = true;
        Worker->Cancel();
        // A connect attempt (no operation under way) need not wait out a
        // silent adapter's replies; an operation stops at its next block.
        if (ActionDialog == nullptr)
            Session->Port().Interrupt();
        event->ignore();
        return;
    }
    if (!ConfirmDiscard()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TMainForm::cmOptionsPortClick()
{
    AdapterSearch->Stop();
    const int chosen = AskPort(this, PortNames, CurrentSettings.SerialPort, AdapterSearch->DemoAvailable());
    if (chosen == TSelectPortDialog::DemoEntry) {
        AdapterSearch->ConnectDemo();
        return;
    }
    if (chosen <= 0)
        return;
    CurrentSettings.SerialPort = chosen;
    AdapterSearch->LeaveDemo();
    AdapterSearch->Connect(chosen, false);
}

void TMainForm::ShowQuerying()
{
    Querying = true;
    Panels[0]->setText("Quering device, please wait...");
    statusBar()->repaint(); // the commands that follow block the window
}

void TMainForm::ShowBusy(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TMainForm::ClearHintPanel()
{
    Querying = false;
    Panels[0]->clear();
}

void TMainForm::ShowAdapter(const std::string& identity, const std::string& version)
{
    mIdentity->SetFullText(identity.empty() && version.empty() ? AdapterSearch->NoAdapterText() : Shown(identity));
    Panels[2]->setText(Text(version));
    FitStatusPanels();
}

void TMainForm::SetCaption(const std::string& caption)
{
    Caption = Text(caption);
    UpdateTitle();
}

void TMainForm::ShowDevices(const std::vector<std::string>& names, int selected)
{
    const QSignalBlocker quiet(cbDevice);
    cbDevice->clear();
    for (const auto& name : names)
        cbDevice->addItem(Shown(name));
    cbDevice->setEnabled(!names.empty());
    cbDevice->setCurrentIndex(selected);
}

void TMainForm::ShowVoltages(const std::vector<TVoltageEntry>& entries, int selected)
{
    const QSignalBlocker quiet(cbVoltage);
    cbVoltage->clear();
    for (const auto& entry : entries)
        cbVoltage->addItem(Text(entry.Text), entry.Code);
    cbVoltage->setCurrentIndex(selected);
}

void TMainForm::ShowRegions(const std::vector<std::string>& names, int selected)
{
    const QSignalBlocker quiet(cbRegion);
    cbRegion->clear();
    for (const auto& name : names)
        cbRegion->addItem(Shown(name));
    cbRegion->setEnabled(!names.empty());
    cbRegion->setCurrentIndex(selected);
}

bool TMainForm::ResizeBuffer(std::uint32_t size)
{
    // While the window connects after a production loop, and while it then
    // chooses the buffer's region again, the buffer stays as it is.
    if (KeptRegion && (Worker->Busy() || RestoringRegion))
        return true;
    KeptRegion.reset();
    const bool resized = lindprog::ResizeBuffer(MainBuffer, *DumpView, size);
    mBufferSize->setText(QString::fromStdString(MainBuffer.SizeCaption()));
    return resized;
}

void TMainForm::ApplyActions(const TActionState& actions)
{
    cmFirmwareUpdate->setEnabled(actions.FirmwareUpdate);
    cmDeviceDetect->setEnabled(actions.Detect);
    for (const auto& [action, operation] : OperationActions())
        action->setEnabled(actions.Allows(operation));
    cmDeviceCompare->setEnabled(actions.Allows(TOperation::Read));
    // The whole device, whichever region is chosen: an adapter that runs
    // operations is enough.
    cmDeviceBackup->setEnabled(actions.Detect);
    cmFileRestore->setEnabled(actions.Detect);
}

void TMainForm::SetFirmwareUpdateEnabled(bool enabled)
{
    cmFirmwareUpdate->setEnabled(enabled);
}

void TMainForm::FocusLog()
{
    lvLog->setFocus();
}

void TMainForm::RestorePlacement()
{
    const auto store = OpenWindowStore();
    if (store->contains("Left") && store->contains("Top"))
        move(store->value("Left").toInt(), store->value("Top").toInt());
    if (store->contains("Width") && store->contains("Height"))
        resize(std::max(store->value("Width").toInt(), minimumWidth()),
               std::max(store->value("Height").toInt(), minimumHeight()));
    spLog->restoreState(store->value("Splitter").toByteArray());
    if (store->value("Maximized").toBool())
        setWindowState(Qt::WindowMaximized);
    if (store->value("Minimized").toBool())
        setWindowState(windowState() | Qt::WindowMinimized);
}

void TMainForm::SavePlacement()
{
    const auto store = OpenWindowStore();
    // The size as it was before the window was maximized, so that it comes
    // back to it when restored.
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    store->setValue("Left", pos().x());
    store->setValue("Top", pos().y());
    store->setValue("Width", normal.width());
    store->setValue("Height", normal.height());
    store->setValue("Splitter", spLog->saveState());
    store->setValue("Maximized", isMaximized());
    store->setValue("Minimized", isMinimized());
}

} // namespace lindprog
