#include "gui/main/AboutD.h"

#include "core/link/DevicePort.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace lindprog {

namespace {

constexpr int PanelX = 8;
constexpr int PanelWidth = 217;

// A line centred in the panel at height y.
QLabel* CentredLine(QWidget* parent, const QString& text, int y)
{
    auto* line = new QLabel(text, parent);
    line->setAlignment(Qt::AlignHCenter);
    line->setGeometry(PanelX + 2, y, PanelWidth - 4, 15);
    return line;
}

} // namespace

TAboutDialog::TAboutDialog(QWidget* parent)
    : QDialog(parent), Panel1(new QFrame(this)), ProductName(CentredLine(this, "Corvane Programmer", 32)),
      Version(CentredLine(this, "Version 1.15", 64)), mWww(CentredLine(this, WebAddress, 80)),
      KeyLabel(new QLabel("KEY:", this)), eKey(new QLineEdit(this)), btnOk(new QPushButton("OK", this))
{
    setObjectName("AboutDialog");
    setWindowTitle("About");
    setFixedSize(ClientWidth, ClientHeight);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setGeometry(PanelX, 8, PanelWidth, 129);
    Panel1->lower();

    mWww->setObjectName("mWww");
    mWww->setStyleSheet("color: rgb(0, 0, 128); font-weight: bold;");
    mWww->setCursor(Qt::PointingHandCursor);
    // The label shows plain text and is clicked as a whole, like a link.
    mWww->installEventFilter(this);

    KeyLabel->move(75, 103);
    eKey->setObjectName("eKey");
    eKey->setGeometry(104, 102, 57, 17);
    eKey->setReadOnly(true);
    eKey->setFrame(false);

    btnOk->setObjectName("btnOk");
    btnOk->setGeometry(80, 144, 73, 25);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
}

bool TAboutDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mWww && event->type() == QEvent::MouseButtonRelease) {
        mWwwClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutDialog::mWwwClick()
{
    // Whether a browser could be started is not reported.
    QDesktopServices::openUrl(QUrl(mWww->text()));
}

void cmHelpAboutClick(QWidget* parent, TDevicePort& port)
{
    port.GetKey();
    TAboutDialog dialog(parent);
    dialog.eKey->setText(QString::fromStdString(port.KeyText()));
    dialog.exec();
}

} // namespace lindprog
