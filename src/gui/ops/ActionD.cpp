#include "gui/ops/ActionD.h"

#include "core/ops/Operation.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace lindprog {

namespace {

QString Duration(double seconds)
{
    const auto whole = static_cast<long long>(std::llround(std::max(seconds, 0.0)));
    if (whole >= 3600)
        return QString::asprintf("%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return QString::asprintf("%lld:%02lld", whole / 60, whole % 60);
}

QString StageName(const TStageProgress& progress)
{
    return QString::fromUtf8(OperationInfo(progress.Stage).StageName);
}

QString SpeedText(double bytesPerSecond)
{
    return QString::asprintf("%.1f kB/s", bytesPerSecond / 1024.0);
}

} // namespace

QString StageText(const TStageProgress& progress)
{
    if (progress.StageCount <= 1)
        return StageName(progress);
    return QString("Stage %1 of %2: %3").arg(progress.StageNumber).arg(progress.StageCount).arg(StageName(progress));
}

QString AmountText(const TStageProgress& progress)
{
    if (!progress.Blocks)
        return QString();
    return QString("%1%   %2 of %3 bytes").arg(progress.Percent).arg(progress.Bytes).arg(progress.Total);
}

QString TimeText(const TStageProgress& progress)
{
    QString text = "Elapsed " + Duration(progress.Seconds);
    if (progress.Blocks && progress.BytesPerSecond() > 0)
        text += ", left " + Duration(progress.SecondsLeft());
    return text;
}

TActionDialog::TActionDialog(QWidget* parent)
    : QDialog(parent), mStage(new QLabel(this)), pbTotal(new QProgressBar(this)), pb(new QProgressBar(this)),
      mProgress(new QLabel(this)), mSpeed(new QLabel(this)), mTime(new QLabel(this)),
      btnCancel(new QPushButton("Cancel", this))
{
    setObjectName("ActionDialog");
    setWindowTitle("Starting operation");
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setModal(true);
    mStage->setObjectName("mStage");
    QFont bold = mStage->font();
    bold.setBold(true);
    mStage->setFont(bold);
    mStage->setText("Starting operation");
    pbTotal->setObjectName("pbTotal");
    pbTotal->setRange(0, 1000);
    pbTotal->setTextVisible(false);
    pbTotal->hide();
    pb->setObjectName("pb");
    pb->setRange(0, 100);
    pb->setValue(0);
    pb->setTextVisible(false);
    mProgress->setObjectName("mProgress");
    mSpeed->setObjectName("mSpeed");
    mSpeed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    mTime->setObjectName("mTime");
    btnCancel->setObjectName("btnCancel");
    btnCancel->setAutoDefault(false);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 14, 16, 12);
    column->addWidget(mStage);
    column->addWidget(pbTotal);
    column->addWidget(pb);
    auto* figures = new QHBoxLayout;
    figures->addWidget(mProgress, 1);
    figures->addWidget(mSpeed);
    column->addLayout(figures);
    column->addWidget(mTime);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnCancel);
    buttons->addStretch(1);
    column->addLayout(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 52);
    connect(btnCancel, &QPushButton::clicked, this, &TActionDialog::btnCancelClick);
}

int TActionDialog::Run()
{
    return exec();
}

void TActionDialog::Finish()
{
    Finished = true;
    done(CancelClicked ? Cancelled : Done);
}

void TActionDialog::ShowStage(const TStageProgress& progress)
{
    setWindowTitle(StageName(progress));
    mStage->setText(StageText(progress));
    pbTotal->setVisible(progress.StageCount > 1);
    // Erase and Unlock repeat one step until the adapter is done: no amount
    // to show, so the bar only says that something runs.
    pb->setRange(0, progress.Blocks ? 100 : 0);
    mSpeed->clear();
    ShowProgress(progress);
}

void TActionDialog::ShowProgress(const TStageProgress& progress)
{
    pb->setValue(progress.Percent);
    if (progress.StageCount > 0) {
        const double done = (static_cast<double>(progress.StageNumber) - 1 + progress.Percent / 100.0) /
                            static_cast<double>(progress.StageCount);
        pbTotal->setValue(static_cast<int>(done * pbTotal->maximum()));
    }
    mProgress->setText(AmountText(progress));
    if (progress.Blocks && progress.Seconds > 0)
        mSpeed->setText(SpeedText(progress.BytesPerSecond()));
    mTime->setText(TimeText(progress));
}

void TActionDialog::btnCancelClick()
{
    if (CancelClicked || Finished)
        return;
    CancelClicked = true;
    btnCancel->setEnabled(false);
    btnCancel->setText("Cancelling...");
    emit CancelRequested();
}

void TActionDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TActionDialog::closeEvent(QCloseEvent* event)
{
    if (Finished) {
        event->accept();
        return;
    }
    // The stage must end on the adapter first; the dialog goes when it has.
    event->ignore();
    btnCancelClick();
}

} // namespace lindprog
