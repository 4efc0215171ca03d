#include "gui/production/ProductionView.h"

#include "core/link/PortNames.h"
#include "core/production/JobPlan.h"
#include "core/production/UnitReport.h"
#include "core/settings/Settings.h"
#include "gui/main/WindowStore.h"
#include "gui/production/StationColumn.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QSysInfo>
#include <QTableWidget>
#include <QVBoxLayout>

#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

namespace lindprog {

namespace {

constexpr int ShownUnits = 50;
constexpr const char* StationKey = "Production/Station";
constexpr const char* PortsKey = "Production/Ports";
constexpr const char* TriggerKey = "Production/Trigger";

QString LocalTime(const std::string& utc)
{
    const QDateTime time = QDateTime::fromString(QString::fromStdString(utc), Qt::ISODateWithMs);
    return time.isValid() ? time.toLocalTime().toString("yyyy-MM-dd HH:mm:ss") : QString::fromStdString(utc);
}

QLabel* Caption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

} // namespace

std::vector<TPortRequest> ParsePortList(const std::string& text)
{
    std::vector<TPortRequest> ports;
    std::set<int> seen;
    const QStringList words = QString::fromStdString(text).split(QRegularExpression("[,;\\s]+"), Qt::SkipEmptyParts);
    static const QRegularExpression com("^COM([1-9][0-9]{0,3})$", QRegularExpression::CaseInsensitiveOption);
    for (const QString& word : words) {
        const auto match = com.match(word);
        if (!match.hasMatch())
            throw std::invalid_argument("'" + word.toStdString() + "' is not a port; name ports as COM1, COM2");
        const int number = match.captured(1).toInt();
        if (!seen.insert(number).second)
            throw std::invalid_argument("COM" + std::to_string(number) + " is named twice");
        ports.push_back({"COM" + std::to_string(number), number});
    }
    if (ports.empty())
        throw std::invalid_argument("no port named; name the adapters' ports as COM1, COM2");
    return ports;
}

TProductionView::TProductionView(TJob job, TJobImages images, TProductionHost host, QWidget* parent)
    : QWidget(parent), JobFile(std::move(job)), Images(std::move(images)), Host(std::move(host))
{
    setObjectName("ProductionView");
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(this);
    title->setObjectName("mJob");
    title->setText(QString("Job <b>%1</b> &nbsp; %2")
                       .arg(QString::fromStdString(JobFile.Name).toHtmlEscaped(),
                            QString::fromStdString(JobFile.Path).toHtmlEscaped()));
    title->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(title);

    auto* controls = new QHBoxLayout;
    controls->addWidget(Caption("Station", this));
    // A station runs the same ports and trigger every shift: the last ones
    // started come back.
    const auto store = OpenWindowStore();
    edStation = new QLineEdit(store->value(StationKey, QSysInfo::machineHostName()).toString(), this);
    edStation->setObjectName("edStation");
    controls->addWidget(edStation, 1);
    controls->addWidget(Caption("Ports", this));
    edPorts = new QLineEdit(store->value(PortsKey, QString("COM%1").arg(Host.DefaultPort)).toString(), this);
    edPorts->setObjectName("edPorts");
    edPorts->setToolTip("The adapters' ports, one column each: COM1, COM2");
    controls->addWidget(edPorts, 1);
    controls->addWidget(Caption("Start a unit", this));
    cbTrigger = new QComboBox(this);
    cbTrigger->setObjectName("cbTrigger");
    cbTrigger->addItems({"when a board is detected", "on Space or Enter"});
    cbTrigger->setCurrentIndex(store->value(TriggerKey, 0).toInt() == 1 ? 1 : 0);
    controls->addWidget(cbTrigger);
    btnStart = new QPushButton("Start", this);
    btnStart->setObjectName("btnStart");
    btnStop = new QPushButton("Stop", this);
    btnStop->setObjectName("btnStop");
    btnExport = new QPushButton("Export...", this);
    btnExport->setObjectName("btnExport");
    for (QPushButton* button : {btnStart, btnStop, btnExport})
        controls->addWidget(button);
    layout->addLayout(controls);
    connect(btnStart, &QPushButton::clicked, this, [this] { Start(); });
    connect(btnStop, &QPushButton::clicked, this, &TProductionView::Stop);
    connect(btnExport, &QPushButton::clicked, this, &TProductionView::cmExportClick, Qt::QueuedConnection);

    mPlan = new QPlainTextEdit(this);
    mPlan->setObjectName("mPlan");
    mPlan->setReadOnly(true);
    mPlan->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    mPlan->setPlainText(QString::fromStdString(JobCheckText(JobFile, Images)));
    mPlan->setMaximumHeight(mPlan->fontMetrics().lineSpacing() * 8);
    layout->addWidget(mPlan);

    pColumns = new QWidget(this);
    ColumnLayout = new QHBoxLayout(pColumns);
    ColumnLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pColumns, 2);
    mCounters = new QLabel(this);
    mCounters->setObjectName("mCounters");
    QFont bold = mCounters->font();
    bold.setBold(true);
    mCounters->setFont(bold);
    layout->addWidget(mCounters);

    tbUnits = new QTableWidget(0, 6, this);
    tbUnits->setObjectName("tbUnits");
    tbUnits->setHorizontalHeaderLabels({"Time", "Port", "Serial", "Result", "Failed step", "Seconds"});
    tbUnits->horizontalHeader()->setStretchLastSection(true);
    tbUnits->verticalHeader()->hide();
    tbUnits->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbUnits->setSelectionBehavior(QAbstractItemView::SelectRows);
    layout->addWidget(tbUnits, 1);

    // The foot switch types Enter; Space is the key under the operator's hand.
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_Space), QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setEnabled(false);
        connect(shortcut, &QShortcut::activated, this, &TProductionView::Next);
        NextKeys.push_back(shortcut);
    }
    // A line's server is reached when the loop starts, not while the job
    // opens: a server that is slow to answer must not hold the window.
    if (std::error_code error; std::filesystem::is_regular_file(DatabasePath(), error))
        OpenDatabase(false);
    ShowUnits();
    ShowCounters();
    EnableControls(false);
}

TProductionView::~TProductionView()
{
    // The columns' workers end (a unit under way is cancelled) before the
    // database they record into.
    RemoveColumns();
}

void TProductionView::RemoveColumns()
{
    for (TStationColumn* column : StationColumns)
        delete column;
    StationColumns.clear();
}

std::string TProductionView::DatabasePath() const
{
    return JobDatabasePath(JobFile);
}

bool TProductionView::OpenDatabase(bool create)
{
    if (Database)
        return true;
    const std::string path = DatabasePath();
    if (std::error_code error; !create && !IsServerDatabase(path) && !std::filesystem::is_regular_file(path, error))
        return false;
    try {
        Database = OpenUnitDatabase(path);
    } catch (const std::exception& error) {
        const std::string text =
            "unit database " + (IsServerDatabase(path) ? std::string() : path + ": ") + error.what();
        Host.Log(text);
        Host.Prompts.ShowError(text);
        return false;
    }
    return true;
}

bool TProductionView::Start()
{
    if (Active)
        return false;
    std::vector<TPortRequest> ports;
    std::vector<std::string> paths;
    try {
        ports = ParsePortList(edPorts->text().toStdString());
        for (const TPortRequest& port : ports) {
            const auto path = Host.PortNames.DevicePath(port.Number);
            if (!path)
                throw std::invalid_argument("there is no port " + port.Name);
            paths.push_back(*path);
        }
    } catch (const std::invalid_argument& error) {
        Host.Prompts.ShowError(error.what());
        return false;
    }
    if (!OpenDatabase(true))
        return false;
    RemoveColumns(); // the last run's
    const auto store = OpenWindowStore();
    store->setValue(StationKey, edStation->text());
    store->setValue(PortsKey, edPorts->text());
    store->setValue(TriggerKey, cbTrigger->currentIndex());
    Active = true;
    if (OnRunningChanged)
        OnRunningChanged(true);
    const TTrigger trigger = cbTrigger->currentIndex() == 0 ? TTrigger::Scan : TTrigger::Enter;
    for (std::size_t k = 0; k < ports.size(); ++k) {
        TStationSetup setup{JobFile,
                            Images,
                            Database.get(),
                            UnitNumbers,
                            ports[k].Name,
                            ports[k].Number,
                            paths[k],
                            edStation->text().toStdString(),
                            trigger,
                            Host.Settings.SkipErasedBlocks,
                            Host.Settings.TurnOffPower,
                            Host.Settings.JtagDelay,
                            Host.Settings.IgnoreReadErrors,
                            std::chrono::milliseconds(Host.Settings.BlockPause)};
        auto* column = new TStationColumn(Host.Dispatcher, std::move(setup), pColumns);
        column->OnLog = Host.Log;
        column->OnUnit = [this] {
            ShowUnits();
            ShowCounters();
        };
        column->OnEnded = [this] { ColumnEnded(); };
        // Placed against the adapter's regions, the plan shows the CRCs.
        column->OnPlan = [this](const std::string& plan) { mPlan->setPlainText(QString::fromStdString(plan)); };
        ColumnLayout->addWidget(column, 1);
        StationColumns.push_back(column);
    }
    Started = std::chrono::steady_clock::now();
    Host.Log("Job " + JobFile.Name + " started on " + edPorts->text().toStdString());
    EnableControls(true);
    for (TStationColumn* column : StationColumns)
        column->Start();
    ShowCounters();
    return true;
}

void TProductionView::Stop()
{
    for (TStationColumn* column : StationColumns)
        column->Stop();
    btnStop->setEnabled(false);
}

void TProductionView::Next()
{
    for (TStationColumn* column : StationColumns)
        column->Next();
}

bool TProductionView::Running() const
{
    return Active;
}

void TProductionView::ColumnEnded()
{
    for (const TStationColumn* column : StationColumns)
        if (column->Running())
            return;
    if (!Active)
        return;
    Active = false;
    Host.Log("Job " + JobFile.Name + " stopped: " + CountersText().toStdString());
    EnableControls(false);
    ShowUnits();
    if (OnRunningChanged)
        OnRunningChanged(false);
}

void TProductionView::EnableControls(bool running)
{
    for (QWidget* widget : std::initializer_list<QWidget*>{edStation, edPorts, cbTrigger, btnStart})
        widget->setEnabled(!running);
    btnStop->setEnabled(running);
    const bool clicks = running && cbTrigger->currentIndex() == 1;
    for (QShortcut* shortcut : NextKeys)
        shortcut->setEnabled(clicks);
}

QString TProductionView::CountersText() const
{
    std::int64_t passed = 0;
    std::int64_t failed = 0;
    for (const TStationColumn* column : StationColumns) {
        passed += column->Passed();
        failed += column->Failed();
    }
    const double hours = std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count() / 3600.0;
    return CountersLine(passed, failed, hours > 0 ? static_cast<double>(passed + failed) / hours : 0.0);
}

void TProductionView::ShowCounters()
{
    mCounters->setText(CountersText());
}

void TProductionView::ShowUnits()
{
    tbUnits->setRowCount(0);
    if (!Database)
        return;
    const auto units = Database->LastUnits(ShownUnits);
    tbUnits->setRowCount(static_cast<int>(units.size()));
    for (int row = 0; row < static_cast<int>(units.size()); ++row) {
        const TUnitRecord& unit = units[static_cast<std::size_t>(row)];
        const QString cells[] = {LocalTime(unit.Started),
                                 QString::fromStdString(unit.Port),
                                 unit.Serial ? QString::number(*unit.Serial) : QString(),
                                 unit.Passed ? "PASS" : "FAIL",
                                 QString::fromStdString(unit.FailedStep),
                                 QString::number(unit.Seconds, 'f', 1)};
        for (int column = 0; column < 6; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column == 3)
                item->setForeground(unit.Passed ? QColor("#2e7d32") : QColor("#c62828"));
            tbUnits->setItem(row, column, item);
        }
    }
    tbUnits->resizeColumnsToContents();
}

void TProductionView::ExportUnits(const QString& path)
{
    if (!OpenDatabase(false))
        throw std::runtime_error("no unit has been recorded for this job yet");
    const QString suffix = QFileInfo(path).suffix().toLower();
    const auto units = Database->Units();
    const std::string text = suffix == "jsonl" || suffix == "json" ? UnitsJsonLines(units) : UnitsCsv(units);
    std::ofstream file(std::filesystem::path(path.toStdString()), std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file)
        throw std::runtime_error("cannot write " + path.toStdString());
    Host.Log("Exported " + std::to_string(units.size()) + " units to " + path.toStdString());
}

void TProductionView::cmExportClick()
{
    const QString folder = QFileInfo(QString::fromStdString(JobFile.Path)).absolutePath();
    const QString path =
        QFileDialog::getSaveFileName(this, "Export units", folder, "CSV (*.csv);;JSON Lines (*.jsonl)");
    if (!path.isEmpty())
        ExportUnits(path);
}

} // namespace lindprog
