#include "gui/ops/ActionD.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace lindprog {

TActionDialog::TActionDialog(const QString& caption, std::function<bool(int&)> step, QWidget* parent)
    : QDialog(parent), pb(new QProgressBar(this)), btnCancel(new QPushButton("Cancel", this)), mSpeed(new QLabel(this)),
      Timer(new QTimer(this)), Step(std::move(step))
{
    setObjectName("ActionDialog");
    setWindowTitle(caption);
    setFixedSize(335, 87);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    pb->setObjectName("pb");
    pb->setGeometry(16, 16, 305, 17);
    pb->setRange(0, 100);
    pb->setValue(0);
    pb->setTextVisible(false);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(130, 48, 75, 25);
    btnCancel->setAutoDefault(false);
    mSpeed->setObjectName("mSpeed");
    mSpeed->move(16, 56);
    mSpeed->hide();
    Timer->setObjectName("Timer");
    Timer->setInterval(TickMs);
    Timer->setSingleShot(true);
    connect(Timer, &QTimer::timeout, this, &TActionDialog::TimerTimer);
    connect(btnCancel, &QPushButton::clicked, this, &TActionDialog::btnCancelClick);
}

int TActionDialog::Run()
{
    return exec();
}

void TActionDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Timer->start();
}

void TActionDialog::TimerTimer()
{
    // The timer is single-shot: it stays off while the step runs (a step can
    // wait seconds for the adapter, or ask a question).
    int percent = 0;
    if (!Step(percent)) {
        done(Done);
        return;
    }
    pb->setValue(percent);
    if (isVisible())
        Timer->start();
}

void TActionDialog::btnCancelClick()
{
    Timer->stop();
    done(Cancelled);
}

void TActionDialog::keyPressEvent(QKeyEvent* event)
{
    // Esc must not cancel a flash operation by accident; only the button does.
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TActionDialog::closeEvent(QCloseEvent* event)
{
    Timer->stop();
    event->accept();
    done(Cancelled);
}

void TActionDialog::ShowSpeed(std::uint32_t bytesPerSecond)
{
    mSpeed->setText(QString::number(bytesPerSecond));
}

} // namespace lindprog
