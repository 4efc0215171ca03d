#include "gui/link/SelectPortD.h"

#include "core/ops/Connection.h"
#include "core/settings/Settings.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>

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

TSelectPortDialog::TSelectPortDialog(TPortNames& portNames, QWidget* parent)
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

    FormCreate(portNames);
}

void TSelectPortDialog::FormCreate(TPortNames& portNames)
{
    const auto descriptions = SystemDescriptions();
    for (const TPortEntry& port : portNames.AvailablePorts())
        cb->addItem(PortEntryText(port, DescriptionOf(port, descriptions)), port.Number);
    if (cb->count() > 0)
        cb->setCurrentIndex(0);
    btnOk->setEnabled(cb->count() > 0);
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

void ChoosePort(QWidget* parent, TPortNames& portNames, TSettings& settings, TConnection& connection)
{
    TSelectPortDialog dialog(portNames, parent);
    dialog.SelectPort(settings.SerialPort);
    if (dialog.exec() != QDialog::Accepted || dialog.SelectedPort() <= 0)
        return;
    settings.SerialPort = dialog.SelectedPort();
    connection.Connect(settings.SerialPort);
}

} // namespace lindprog
