#include "gui/production/StationColumn.h"

#include "core/base/Passwords.h"
#include "gui/production/WrapLabel.h"

#include <QLabel>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QVBoxLayout>

namespace lindprog {

// The verdict panel: its text in the largest bold font that fits, from the
// window's own size up to three times it, so that PASS and FAIL read from
// across the bench in a large column and stay whole in a small one. Its
// height is the column's to give; the text follows it, never the reverse.
class TVerdictLabel final : public QLabel {
public:
    static constexpr double LargestScale = 3.0;
    // The smallest panel: two lines a little larger than the window's text.
    static constexpr double SmallestScale = 1.75;
    static constexpr int Padding = 6;

    explicit TVerdictLabel(QWidget* parent) : QLabel(parent)
    {
        setObjectName("mVerdict");
        setWordWrap(true);
        setAlignment(Qt::AlignCenter);
        setMargin(Padding);
        setAutoFillBackground(true);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
        Base = font();
        Base.setBold(true);
    }

    void SetVerdict(const QString& text)
    {
        setText(text);
        Fit();
    }
    bool hasHeightForWidth() const override { return false; }
    QSize minimumSizeHint() const override
    {
        const QFontMetrics metrics(Scaled(SmallestScale));
        return {metrics.horizontalAdvance("WAITING") + 2 * Padding, 2 * metrics.lineSpacing() + 2 * Padding};
    }
    QSize sizeHint() const override { return minimumSizeHint(); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        Fit();
    }

private:
    QFont Scaled(double scale) const
    {
        QFont scaled = Base;
        scaled.setPointSizeF(Base.pointSizeF() * scale);
        return scaled;
    }
    void Fit()
    {
        const QRect room = contentsRect().adjusted(Padding, Padding, -Padding, -Padding);
        // Half points down from the largest: a dozen or two measurements.
        QFont chosen = Scaled(1.0);
        for (double points = Base.pointSizeF() * LargestScale; points > Base.pointSizeF(); points -= 0.5) {
            QFont candidate = Base;
            candidate.setPointSizeF(points);
            const QRect needed = QFontMetrics(candidate).boundingRect(room, Qt::AlignCenter | Qt::TextWordWrap, text());
            if (needed.width() <= room.width() && needed.height() <= room.height()) {
                chosen = candidate;
                break;
            }
        }
        if (chosen != font())
            setFont(chosen);
    }

    QFont Base;
};

namespace {

struct TPanelLook {
    const char* Text;
    const char* Background;
    const char* Foreground;
};

QLabel* AddLabel(QVBoxLayout* layout, int lines, QWidget* parent, const char* name)
{
    auto* label = new TWrapLabel(lines, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    layout->addWidget(label);
    return label;
}

// "Passed 1   Failed 0   Yield 100.0%   - units/h": a narrow column breaks
// such a line between its parts (three spaces apart), never inside one. A
// no-break space alone would still let the line break after the "-" of a
// rate not known yet; the word joiner before it holds the two together.
QString WholeParts(const QString& text)
{
    static const QRegularExpression single("(?<! ) (?! )");
    return QString(text).replace(single, QString(QChar(0x2060)) + QChar(QChar::Nbsp));
}

QString PortLine(const QString& port, const QString& identity)
{
    const QString name = QString("<b style=\"font-size: large\">%1</b>").arg(port.toHtmlEscaped());
    return identity.isEmpty() ? name : name + "&nbsp;&nbsp; " + identity.toHtmlEscaped();
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
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(2);
    // The port and its adapter share a line while the column is wide enough.
    mAdapter = AddLabel(layout, 1, this, "mAdapter");
    mAdapter->setText(PortLine(Port, {}));
    mVerdict = new TVerdictLabel(this);
    layout->addWidget(mVerdict, 1);
    // A failure's line and what to do next.
    mDetail = AddLabel(layout, 2, this, "mDetail");
    mSerial = AddLabel(layout, 1, this, "mSerial");
    mCounters = AddLabel(layout, 1, this, "mCounters");
    ShowPanel(TPanel::Idle, "", "Press Start");
    mSerial->setText(WholeParts("Serial: none   Last: none"));
    mCounters->setText(WholeParts(CountersLine(0, 0, 0.0)));
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
    mVerdict->setStyleSheet(QString("QLabel { background: %1; color: %2; }").arg(look.Background, look.Foreground));
    mVerdict->SetVerdict(text.isEmpty() ? QString(look.Text) : QString(look.Text) + "\n" + text);
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
    mAdapter->setText(PortLine(Port, QString::fromStdString(identity)));
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
    mSerial->setText(WholeParts("Serial: " + UnderWay + "   Last: " + (LastSerial.isEmpty() ? "none" : LastSerial)));
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
    mSerial->setText(WholeParts("Serial: none   Last: " + LastSerial));
    mCounters->setText(WholeParts(CountersLine(PassedUnits, FailedUnits, counters.UnitsPerHour())));
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
