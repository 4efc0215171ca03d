#include "gui/update/UpdateD.h"

#include "core/base/Prompts.h"
#include "core/link/DevicePort.h"
#include "core/update/FirmwareImage.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace lindprog {

TUpdateDialog::TUpdateDialog(TDevicePort& port, std::span<const std::uint8_t> image, QWidget* parent)
    : QDialog(parent), pb(new QProgressBar(this)), Memo(new QPlainTextEdit(this)),
      btnStart(new QPushButton("Start", this)), Port(port), Dispatcher(this), Image(image)
{
    setObjectName("UpdateDialog");
    setWindowTitle("Firmware update");
    setFixedSize(ClientWidth, ClientHeight);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    pb->setObjectName("pb");
    pb->setGeometry(16, 16, 265, 17);
    pb->setRange(0, 0);
    pb->setValue(0);
    pb->setTextVisible(false);
    Memo->setObjectName("Memo");
    Memo->setGeometry(16, 40, 265, 161);
    Memo->setReadOnly(true);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    btnStart->setObjectName("btnStart");
    btnStart->setGeometry(104, 208, 75, 25);
    btnStart->setDefault(true);
    connect(btnStart, &QPushButton::clicked, this, &TUpdateDialog::btnStartClick);
}

TUpdateDialog::~TUpdateDialog() = default;

int TUpdateDialog::PageCount() const
{
    return TFirmwareImage::PageCountOf(Image.size());
}

void TUpdateDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!Shown) {
        Shown = true;
        FormShow();
    }
}

void TUpdateDialog::FormShow()
{
    pb->setRange(0, PageCount());
    pb->setValue(0);
    AddLine("Page count " + std::to_string(PageCount()));
    AddLine("Press [Start] for update");
}

void TUpdateDialog::AddLine(const std::string& text)
{
    Memo->appendPlainText(QString::fromStdString(text));
}

void TUpdateDialog::SetProgress(int position)
{
    pb->setValue(position);
}

void TUpdateDialog::btnStartClick()
{
    if (StartTag == 1) {
        accept();
        return;
    }
    if (Worker)
        return; // one attempt per dialog
    btnStart->setEnabled(false);
    Worker = std::make_unique<TProgramThread>(Port, Dispatcher, *this, Image);
    Worker->SetOnDone([this] { WorkerDone(); });
    Worker->Start();
}

void TUpdateDialog::WorkerDone()
{
    StartTag = 1;
    btnStart->setText("Close");
    btnStart->setEnabled(true);
}

void TUpdateDialog::reject()
{
    if (WorkerRunning())
        return;
    QDialog::reject();
}

QStringList FirmwareFilters()
{
    // "All file" matches every name; "*.*" would leave out names without a dot here.
    return {"Firmware files (*.fwu)", "All file (*)"};
}

void RunFirmwareUpdate(QWidget* parent, TDevicePort& port, TPrompts& prompts)
{
    QFileDialog odFirmware(parent);
    odFirmware.setObjectName("odFirmware");
    odFirmware.setNameFilters(FirmwareFilters());
    odFirmware.setDefaultSuffix("fwu");
    odFirmware.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name of a missing file is taken; opening it then fails.
    odFirmware.setFileMode(QFileDialog::AnyFile);
    if (odFirmware.exec() != QDialog::Accepted || odFirmware.selectedFiles().isEmpty())
        return;
    const QString path = odFirmware.selectedFiles().constFirst();
    const TFirmwareImage image = TFirmwareImage::Load(QFile::encodeName(path).toStdString());
    if (!image.IsValid()) {
        prompts.ShowError("Invalid file size");
        return;
    }
    TUpdateDialog dialog(port, image.Bytes(), parent);
    dialog.AddLine("Update file '" + QFileInfo(path).fileName().toStdString() + "' loaded");
    dialog.exec();
}

} // namespace lindprog
