#include "gui/production/ProductionView.h"

#include "core/link/PortNames.h"
#include "core/production/JobPlan.h"
#include "core/production/UnitReport.h"
#include "core/settings/Settings.h"
#include "gui/main/WindowStore.h"
#include "gui/production/StationColumn.h"
#include "gui/production/WrapLabel.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QSysInfo>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

namespace lindprog {

namespace {

constexpr int ShownUnits = 50;
constexpr int ShownRows = 5; // of the units table, at the least
constexpr const char* StationKey = "Production/Station";
constexpr const char* PortsKey = "Production/Ports";
constexpr const char* TriggerKey = "Production/Trigger";

QString LocalTime(const std::string& utc)
{
    const QDateTime time = QDateTime::fromString(QString::fromStdString(utc), Qt::ISODateWithMs);
    return time.isValid() ? time.toLocalTime().toString("yyyy-MM-dd HH:mm:ss") : QString::fromStdString(utc);
}

// Line breaking may split a word after a "/" or a "-", and so cut a path
// in two at the end of a line. A word joiner between the characters of every
// word leaves the spaces as the only places a line may break; a word longer
// than the line still breaks where it must. They are taken out again when
// the text is copied.
constexpr QChar WordJoiner(0x2060);

QString JoinedWords(const QString& text)
{
    QString joined;
    joined.reserve(text.size() * 2);
    for (qsizetype k = 0; k < text.size(); ++k) {
        joined += text[k];
        if (k + 1 < text.size() && !text[k].isSpace() && !text[k + 1].isSpace())
            joined += WordJoiner;
    }
    return joined;
}

// The plan as the view shows it, copied as the plan's own text.
class TPlanText final : public QPlainTextEdit {
public:
    explicit TPlanText(QWidget* parent) : QPlainTextEdit(parent) {}

protected:
    QMimeData* createMimeDataFromSelection() const override
    {
        auto* data = new QMimeData;
        data->setText(textCursor().selectedText().remove(WordJoiner).replace(QChar::ParagraphSeparator, '\n'));
        return data;
    }
};

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
    // The view shares the window's default size with the log: every pixel
    // of margin is a line of text less.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(4);
    auto* title = new TWrapLabel(1, this);
    title->setObjectName("mJob");
    title->setText(QString("Job <b>%1</b> &nbsp; %2")
                       .arg(QString::fromStdString(JobFile.Name).toHtmlEscaped(),
                            QString::fromStdString(JobFile.Path).toHtmlEscaped()));
    title->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(title);

    // Two rows, so that every caption and choice shows whole in the
    // window's narrowest width: the station and its ports, then how a unit
    // starts and the buttons that start and stop the loop.
    auto* controls = new QGridLayout;
    controls->setHorizontalSpacing(6);
    controls->setVerticalSpacing(4);
    // A station runs the same ports and trigger every shift: the last ones
    // started come back.
    const auto store = OpenWindowStore();
    edStation = new QLineEdit(store->value(StationKey, QSysInfo::machineHostName()).toString(), this);
    edStation->setObjectName("edStation");
    edPorts = new QLineEdit(store->value(PortsKey, QString("COM%1").arg(Host.DefaultPort)).toString(), this);
    edPorts->setObjectName("edPorts");
    edPorts->setToolTip("The adapters' ports, one column each: COM1, COM2");
    for (QLineEdit* edit : {edStation, edPorts})
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance("COM10, COM11"));
    cbTrigger = new QComboBox(this);
    cbTrigger->setObjectName("cbTrigger");
    cbTrigger->addItems({"when a board is detected", "on Space or Enter"});
    cbTrigger->setCurrentIndex(store->value(TriggerKey, 0).toInt() == 1 ? 1 : 0);
    btnStart = new QPushButton("Start", this);
    btnStart->setObjectName("btnStart");
    btnStop = new QPushButton("Stop", this);
    btnStop->setObjectName("btnStop");
    btnExport = new QPushButton("Export...", this);
    btnExport->setObjectName("btnExport");
    controls->addWidget(Caption("Station", this), 0, 0);
    controls->addWidget(edStation, 0, 1);
    controls->addWidget(Caption("Ports", this), 0, 2);
    controls->addWidget(edPorts, 0, 3);
    controls->addWidget(Caption("Start a unit", this), 1, 0);
    controls->addWidget(cbTrigger, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnStart);
    buttons->addWidget(btnStop);
    controls->addLayout(buttons, 1, 2, 1, 2);
    controls->setColumnStretch(1, 1);
    controls->setColumnStretch(3, 1);
    layout->addLayout(controls);
    connect(btnStart, &QPushButton::clicked, this, [this] { Start(); });
    connect(btnStop, &QPushButton::clicked, this, &TProductionView::Stop);
    connect(btnExport, &QPushButton::clicked, this, &TProductionView::cmExportClick, Qt::QueuedConnection);

    mPlan = new TPlanText(this);
    mPlan->setObjectName("mPlan");
    mPlan->setReadOnly(true);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(font().pointSizeF());
    mPlan->setFont(fixed);
    ShowPlan(JobCheckText(JobFile, Images));
    // Three lines at least, the rest scrolls; never more than eight, the
    // columns and the units need the height more.
    const auto planHeight = [this](int lines) {
        return lines * mPlan->fontMetrics().lineSpacing() + 2 * mPlan->frameWidth() +
               2 * static_cast<int>(mPlan->document()->documentMargin());
    };
    mPlan->setMinimumHeight(planHeight(3));
    mPlan->setMaximumHeight(planHeight(8));
    layout->addWidget(mPlan, 1);

    pColumns = new QWidget(this);
    ColumnLayout = new QHBoxLayout(pColumns);
    ColumnLayout->setContentsMargins(0, 0, 0, 0);
    ColumnLayout->setSpacing(4);
    // No height of its own until Start gives it columns: until then the plan
    // and the units have it.
    layout->addWidget(pColumns, 0);
    mCounters = new QLabel(this);
    mCounters->setObjectName("mCounters");
    QFont bold = mCounters->font();
    bold.setBold(true);
    mCounters->setFont(bold);
    // The units' export beside the counters, above the units it writes.
    auto* totals = new QHBoxLayout;
    totals->addWidget(mCounters, 1);
    totals->addWidget(btnExport);
    layout->addLayout(totals);

    tbUnits = new QTableWidget(0, 6, this);
    tbUnits->setObjectName("tbUnits");
    tbUnits->setHorizontalHeaderLabels({"Time", "Port", "Serial", "Result", "Failed step", "Seconds"});
    tbUnits->horizontalHeader()->setStretchLastSection(true);
    tbUnits->verticalHeader()->hide();
    // Rows as tall as their text, and never fewer than five in sight, also
    // when a narrow window gives the table its horizontal scroll bar.
    const int rowHeight = tbUnits->fontMetrics().height() + 6;
    tbUnits->verticalHeader()->setMinimumSectionSize(rowHeight);
    tbUnits->verticalHeader()->setDefaultSectionSize(rowHeight);
    tbUnits->setMinimumHeight(tbUnits->horizontalHeader()->sizeHint().height() + ShownRows * rowHeight +
                              tbUnits->horizontalScrollBar()->sizeHint().height() + 2 * tbUnits->frameWidth());
    tbUnits->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbUnits->setSelectionBehavior(QAbstractItemView::SelectRows);
    layout->addWidget(tbUnits, 2);

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
        column->OnPlan = [this](const std::string& plan) { ShowPlan(plan); };
        ColumnLayout->addWidget(column, 1);
        StationColumns.push_back(column);
    }
    // The verdict panels take most of what the window has to spare.
    static_cast<QBoxLayout*>(layout())->setStretchFactor(pColumns, 3);
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

void TProductionView::ShowPlan(const std::string& plan)
{
    mPlan->setPlainText(JoinedWords(QString::fromStdString(plan)));
}

void TProductionView::ShowCounters()
{
    mCounters->setText(CountersText());
}

void TProductionView::ShowUnits()
{
    tbUnits->setRowCount(0);
    // Without units yet the columns fit their captions.
    const auto units = Database ? Database->LastUnits(ShownUnits) : std::vector<TUnitRecord>();
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
    // Fitted to its contents, the last column no longer reaches the right
    // edge until the table is resized; stretched again, it does at once.
    tbUnits->horizontalHeader()->setStretchLastSection(false);
    tbUnits->horizontalHeader()->setStretchLastSection(true);
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
