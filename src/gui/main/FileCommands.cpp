#include "gui/main/FileCommands.h"

#include "core/buffer/Buffer.h"
#include "gui/buffer/DumpF.h"
#include "gui/main/LogView.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace lindprog {
namespace {

// The hex view's change tracking as the file logic needs it; the frame
// repaints after each call.
class TViewTracking final : public TChangeTracking {
public:
    explicit TViewTracking(TDumpFrame& view) : View(view) {}
    void Clear() override { View.Clear(); }
    void UpdateChanges() override { View.UpdateChanges(); }

private:
    TDumpFrame& View;
};

// The name the file system knows the file by; the log and the error text show
// it as it is, since they read it back the same way.
std::string FileSystemName(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QFileDialog* MakeDialog(QWidget* window, QFileDialog::AcceptMode mode)
{
    auto* dialog = new QFileDialog(window);
    dialog->setAcceptMode(mode);
    // Open: the folder and the file must exist. Save: any name; the dialog
    // itself asks before an existing file is overwritten.
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog->setNameFilters(TBufferFileDialogs::Filters());
    // Appended to a typed name that has no extension.
    dialog->setDefaultSuffix(TBufferFileDialogs::DefaultExtension);
    dialog->setSizeGripEnabled(true);
    return dialog;
}

} // namespace

QStringList TBufferFileDialogs::Filters()
{
    // This platform's filters name their patterns in parentheses; "*" is what
    // matches every file here ("*.*" would miss names without a dot).
    return {"Binary file (*.bin)", "All files (*)"};
}

QFileDialog& TBufferFileDialogs::OpenDialog()
{
    if (!Open) {
        Open = MakeDialog(Window, QFileDialog::AcceptOpen);
        Open->setObjectName("OpenDialog");
    }
    return *Open;
}

QFileDialog& TBufferFileDialogs::SaveDialog()
{
    if (!Save) {
        Save = MakeDialog(Window, QFileDialog::AcceptSave);
        Save->setObjectName("SaveDialog");
    }
    return *Save;
}

QString TBufferFileDialogs::ChosenFile(const QFileDialog& dialog)
{
    if (dialog.result() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : QFileInfo(files.front()).absoluteFilePath();
}

QString TBufferFileDialogs::Run(QFileDialog& dialog, QString& last)
{
    // Native dialogs start from the file they were first given, not from the
    // one last picked in them, unless they are told.
    if (!last.isEmpty())
        dialog.selectFile(last);
    dialog.exec();
    const QString chosen = ChosenFile(dialog);
    if (!chosen.isEmpty())
        last = chosen;
    return chosen;
}

void cmFileOpenClick(TLogView& log, TBuffer& buffer, TDumpFrame& view, TPrompts& prompts,
                     const TFileNameChooser& choose)
{
    log.setFocus(Qt::OtherFocusReason);
    const QString path = choose();
    if (path.isEmpty())
        return;
    TViewTracking tracking(view);
    LoadBufferFile(FileSystemName(path), buffer.Bytes(), tracking, log, prompts);
}

void cmFileSaveClick(TLogView& log, const TBuffer& buffer, TDumpFrame& view, const TFileNameChooser& choose)
{
    log.setFocus(Qt::OtherFocusReason);
    const QString path = choose();
    if (path.isEmpty())
        return;
    TViewTracking tracking(view);
    SaveBufferFile(FileSystemName(path), buffer.Bytes(), tracking, log);
}

} // namespace lindprog
