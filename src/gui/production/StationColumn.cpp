#include "gui/production/StationColumn.h"

#include "core/base/Passwords.h"

#include <QLabel>
#include <QVBoxLayout>

namespace lindprog {

namespace {

struct TPanelLook {
    const char* Text;
    const char* Background;
    const char* Foreground;
};

QLabel* AddLabel(QVBoxLayout* layout, QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    layout->addWidget(label);
    return label;
}

QString SerialText(const std::optional<std::uint64_t>& serial)
{
    return serial ? QString::number(*serial) : QString("none");
}

} // namespace

QString CountersLine(std::int64_t passed, std::int64_t failed, double unitsPerHour)
{
    const std::int64_t units = passed + failed;
    const QString yield =
        units > 0 ? QString::number(100.0 * static_cast<double>(passed) / static_cast<double>(units), 'f', 1) + "%"
                  : QString("-");
    const QString rate = units > 1 ? QString::number(unitsPerHour, 'f', 1) : QString("-");
    return QString("Passed %1   Failed %2   Yield %3   %4 units/h").arg(passed).arg(failed).arg(yield, rate);
}

TStationColumn::TStationColumn(TUiDispatcher& ui, TStationSetup setup, QWidget* parent)
    : QFrame(parent), Port(QString::fromStdString(setup.PortName)), ScanTrigger(setup.Trigger == TTrigger::Scan)
{
    setObjectName("StationColumn" + Port);
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    auto* port = AddLabel(layout, this, "mPort");
    port->setText(Port);
    QFont bold = port->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.4);
    port->setFont(bold);
    mAdapter = AddLabel(layout, this, "mAdapter");
    mVerdict = AddLabel(layout, this, "mVerdict");
    QFont large = mVerdict->font();
    large.setBold(true);
    large.setPointSizeF(large.pointSizeF() * 3);
    mVerdict->setFont(large);
    mVerdict->setMinimumHeight(mVerdict->fontMetrics().height() * 2);
    mVerdict->setAutoFillBackground(true);
    mDetail = AddLabel(layout, this, "mDetail");
    mSerial = AddLabel(layout, this, "mSerial");
    mCounters = AddLabel(layout, this, "mCounters");
    layout->addStretch(1);
    ShowPanel(TPanel::Idle, "", "Press Start");
    mSerial->setText("Serial: none   Last: none");
    mCounters->setText(CountersLine(0, 0, 0.0));
    Worker = std::make_unique<TStationWorker>(ui, static_cast<TStationView&>(*this), std::move(setup));
}

TStationColumn::~TStationColumn() = default;

QString TStationColumn::Verdict() const
{
    return mVerdict->text().section('\n', 0, 0);
}

QString TStationColumn::Detail() const
{
    return mVerdict->text().section('\n', 1) + (mDetail->text().isEmpty() ? "" : "\n" + mDetail->text());
}

void TStationColumn::ShowPanel(TPanel panel, const QString& text, const QString& detail)
{
    static const TPanelLook looks[] = {
        {"NOT RUNNING", "#e0e0e0", "#404040"}, {"WAITING FOR BOARD", "#fff3c4", "#5a4a00"},
        {"RUNNING", "#1e5fa8", "#ffffff"},     {"PASS", "#2e7d32", "#ffffff"},
        {"FAIL", "#c62828", "#ffffff"},        {"STOPPED", "#e0e0e0", "#404040"}};
    const TPanelLook& look = looks[static_cast<int>(panel)];
    Shown = panel;
    mVerdict->setStyleSheet(
        QString("QLabel { background: %1; color: %2; padding: 8px; }").arg(look.Background, look.Foreground));
    mVerdict->setText(text.isEmpty() ? QString(look.Text) : QString(look.Text) + "\n" + text);
    // A failure may name the line's database by its URI.
    mDetail->setText(QString::fromStdString(WithoutPasswords(detail.toStdString())));
}

void TStationColumn::StationLog(const std::string& line)
{
    if (OnLog)
        OnLog(Port.toStdString() + ": " + line);
}

void TStationColumn::StationAdapter(const std::string& identity, const std::string& plan)
{
    mAdapter->setText(QString::fromStdString(identity));
    if (OnPlan)
        OnPlan(plan);
}

void TStationColumn::StationWaiting(bool forRemoval)
{
    const bool verdictShown = Shown == TPanel::Pass || Shown == TPanel::Fail;
    if (forRemoval) {
        mDetail->setText(mDetail->text().section('\n', 0, 0) + "\nTake the board away");
        return;
    }
    // The operator's trigger comes with the next board: the verdict stays
    // until then. With the chain scan the board is gone, and so is its verdict.
    if (verdictShown && !ScanTrigger)
        mDetail->setText(mDetail->text().section('\n', 0, 0) + "\nNext board: Space or Enter");
    else
        ShowPanel(TPanel::Waiting, "", ScanTrigger ? "Place a board" : "Place a board, then Space or Enter");
}

void TStationColumn::StationRunning(std::optional<std::uint64_t> serial)
{
    UnderWay = SerialText(serial);
    mSerial->setText("Serial: " + UnderWay + "   Last: " + (LastSerial.isEmpty() ? "none" : LastSerial));
    ShowPanel(TPanel::Running, "", "");
}

void TStationColumn::StationProgress(const std::string& step, int percent)
{
    ShowPanel(TPanel::Running, QString("%1  %2%").arg(QString::fromStdString(step)).arg(percent), "");
}

void TStationColumn::StationVerdict(const TUnitOutcome& outcome, int unit, const TLoopCounters& counters)
{
    LastSerial = SerialText(outcome.Serial);
    if (outcome.Serial)
        Serials.push_back(*outcome.Serial);
    PassedUnits = counters.PassedUnits();
    FailedUnits = counters.FailedUnits();
    if (outcome.Passed) {
        ShowPanel(TPanel::Pass, "",
                  QString("Unit %1   serial %2   %3 s").arg(unit).arg(LastSerial).arg(outcome.Seconds, 0, 'f', 1));
    } else {
        const TStepResult& step = outcome.Steps[*outcome.FailedStep];
        ShowPanel(TPanel::Fail, QString::fromStdString(step.Title),
                  QString("Unit %1: %2").arg(unit).arg(QString::fromStdString(step.Line)));
    }
    mSerial->setText("Serial: none   Last: " + LastSerial);
    mCounters->setText(CountersLine(PassedUnits, FailedUnits, counters.UnitsPerHour()));
    if (OnUnit)
        OnUnit();
}

void TStationColumn::StationEnded(const std::string& reason)
{
    if (!reason.empty()) {
        ShowPanel(TPanel::Stopped, "", QString::fromStdString(reason));
        StationLog(reason);
    } else if (Shown != TPanel::Pass && Shown != TPanel::Fail) {
        ShowPanel(TPanel::Stopped, "", "");
    }
    if (OnEnded)
        OnEnded();
}

} // namespace lindprog
