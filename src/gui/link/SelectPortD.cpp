#include "gui/link/SelectPortD.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <algorithm>
#include <filesystem>
#include <map>

namespace lindprog {

namespace {

// The system's descriptive names, by canonical device path.
std::map<std::string, QString> SystemDescriptions()
{
    std::map<std::string, QString> descriptions;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QString text = info.description();
        if (text.isEmpty())
            text = info.manufacturer();
        std::error_code error;
        const auto device = std::filesystem::canonical(info.systemLocation().toStdString(), error);
        if (!error && !text.isEmpty())
            descriptions[device.string()] = text;
    }
    return descriptions;
}

QString DescriptionOf(const TPortEntry& port, const std::map<std::string, QString>& descriptions)
{
    if (port.Mapped)
        return QString();
    std::error_code error;
    const auto device = std::filesystem::canonical(port.DevicePath, error);
    const auto found = descriptions.find(error ? port.DevicePath : device.string());
    return found == descriptions.end() ? QString() : found->second;
}

} // namespace

QString PortEntryText(const TPortEntry& port, const QString& description)
{
    QString name = description;
    if (port.Mapped)
        name = QString::fromStdString("Mapped by " + port.Key);
    else if (name.isEmpty())
        name = QFileInfo(QString::fromStdString(port.Key)).fileName();
    return QString("%1 (COM%2, %3)").arg(name).arg(port.Number).arg(QString::fromStdString(port.DevicePath));
}

TSelectPortDialog::TSelectPortDialog(TPortNames& portNames, QWidget* parent, bool offerDemo)
    : QDialog(parent), Bevel1(new QFrame(this)), Label1(new QLabel("Serial ports:", this)), mError(new QLabel(this)),
      cb(new QComboBox(this)), btnOk(new QPushButton("Open", this)), btnCancel(new QPushButton("Cancel", this))
{
    setObjectName("SelectPortDialog");
    setWindowTitle("Select port");
    setFixedSize(ClientWidth, ClientHeight);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 296, 81);
    Label1->setObjectName("Label1");
    Label1->move(16, 16);
    mError->setObjectName("mError");
    mError->setStyleSheet("color: rgb(0, 0, 128);");
    mError->setGeometry(16, 64, 281, 17);
    cb->setObjectName("cb");
    cb->setEditable(false);
    cb->setGeometry(16, 34, 281, 21);
    // Descriptions with a path can be long: the list is as wide as they are.
    cb->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cb->view()->setMinimumWidth(cb->width());

    btnOk->setObjectName("btnOk");
    btnOk->setGeometry(72, 96, 75, 25);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(160, 96, 75, 25);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    FormCreate(portNames, offerDemo);
}

void TSelectPortDialog::FormCreate(TPortNames& portNames, bool offerDemo)
{
    const auto descriptions = SystemDescriptions();
    for (const TPortEntry& port : portNames.AvailablePorts())
        cb->addItem(PortEntryText(port, DescriptionOf(port, descriptions)), port.Number);
    if (offerDemo)
        cb->addItem(DemoText, DemoEntry);
    if (cb->count() > 0)
        cb->setCurrentIndex(0);
    btnOk->setEnabled(cb->count() > 0);
    FitWidth();
}

void TSelectPortDialog::FitWidth()
{
    int widest = 0;
    for (int item = 0; item < cb->count(); ++item)
        widest = std::max(widest, cb->fontMetrics().horizontalAdvance(cb->itemText(item)));
    // The box's frame and arrow beside the text.
    QStyleOptionComboBox option;
    option.initFrom(cb);
    const int needed =
        cb->style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(widest, cb->height()), cb).width();
    const int extra = std::max(0, needed - cb->width());
    if (extra == 0)
        return;
    setFixedSize(ClientWidth + extra, ClientHeight);
    for (QWidget* wide : std::initializer_list<QWidget*>{Bevel1, cb, mError})
        wide->resize(wide->width() + extra, wide->height());
    for (QWidget* button : std::initializer_list<QWidget*>{btnOk, btnCancel})
        button->move(button->x() + extra / 2, button->y());
    cb->view()->setMinimumWidth(cb->width());
}

void TSelectPortDialog::SelectPort(int portNumber)
{
    const int index = cb->findData(portNumber);
    if (index >= 0)
        cb->setCurrentIndex(index);
}

int TSelectPortDialog::SelectedPort() const
{
    return cb->currentIndex() < 0 ? 0 : cb->currentData().toInt();
}

int AskPort(QWidget* parent, TPortNames& portNames, int current, bool offerDemo)
{
    TSelectPortDialog dialog(portNames, parent, offerDemo);
    dialog.SelectPort(current);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    return dialog.SelectedPort();
}

} // namespace lindprog
