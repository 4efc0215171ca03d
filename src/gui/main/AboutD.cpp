#include "gui/main/AboutD.h"

#include "core/link/DevicePort.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace lindprog {

namespace {

// The design's places, for the design's font.
constexpr int PanelX = 8;
constexpr int PanelWidth = 217;
constexpr int KeyLabelX = 75;
constexpr int KeyX = 104;
constexpr int KeyWidth = 57;
constexpr int OkX = 80;
// QLineEdit keeps this much room between its edge and the text on either side.
constexpr int LineEditInnerMargin = 2;
constexpr int KeyDigits = 8;

QLabel* CentredLine(QWidget* parent, const QString& text)
{
    auto* line = new QLabel(text, parent);
    line->setAlignment(Qt::AlignHCenter);
    return line;
}

// The widest the key can be: eight of the widest hex digit.
int WidestKey(const QFontMetrics& metrics)
{
    int widest = 0;
    for (const QChar digit : QStringLiteral("0123456789ABCDEF"))
        widest = std::max(widest, metrics.horizontalAdvance(QString(KeyDigits, digit)));
    return widest;
}

} // namespace

TAboutDialog::TAboutDialog(QWidget* parent)
    : QDialog(parent), Panel1(new QFrame(this)), ProductName(CentredLine(this, "Corvane Programmer")),
      Version(CentredLine(this, "Version 1.15")), mWww(CentredLine(this, WebAddress)),
      KeyLabel(new QLabel("KEY:", this)), eKey(new QLineEdit(this)), btnOk(new QPushButton("OK", this))
{
    setObjectName("AboutDialog");
    setWindowTitle("About");
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->lower();

    mWww->setObjectName("mWww");
    mWww->setStyleSheet("color: rgb(0, 0, 128);");
    QFont linkFont = mWww->font();
    linkFont.setBold(true);
    mWww->setFont(linkFont);
    mWww->setCursor(Qt::PointingHandCursor);
    // The label shows plain text and is clicked as a whole, like a link.
    mWww->installEventFilter(this);

    eKey->setObjectName("eKey");
    eKey->setReadOnly(true);
    eKey->setFrame(false);

    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    PlaceControls();
}

// The design's places, except that the box grows where this platform's font
// is wider than the design's: a cut-off link or key would be read wrongly.
// The panel grows to hold the whole link, the key field to hold eight digits,
// and what was centred stays centred.
void TAboutDialog::PlaceControls()
{
    const int linkWidth = std::max(PanelWidth - 4, mWww->fontMetrics().horizontalAdvance(WebAddress));
    const int panelWidth = linkWidth + 4;
    const int shift = (panelWidth - PanelWidth) / 2;
    setFixedSize(ClientWidth + panelWidth - PanelWidth, ClientHeight);
    Panel1->setGeometry(PanelX, 8, panelWidth, 129);
    const std::pair<QLabel*, int> lines[] = {{ProductName, 32}, {Version, 64}, {mWww, 80}};
    for (const auto& [line, y] : lines)
        line->setGeometry(PanelX + 2, y, linkWidth, 15);

    const int keyWidth = std::max(KeyWidth, WidestKey(eKey->fontMetrics()) + 2 * LineEditInnerMargin);
    const int keyShift = shift - (keyWidth - KeyWidth) / 2;
    KeyLabel->move(KeyLabelX + keyShift, 103);
    eKey->setGeometry(KeyX + keyShift, 102, keyWidth, 17);
    btnOk->setGeometry(OkX + shift, 144, 73, 25);
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

void ShowAbout(QWidget* parent, TDevicePort& port)
{
    port.GetKey();
    TAboutDialog dialog(parent);
    dialog.eKey->setText(QString::fromStdString(port.KeyText()));
    dialog.exec();
}

} // namespace lindprog
