#include "gui/main/FileCommands.h"

#include "core/base/TextFormat.h"
#include "core/buffer/Buffer.h"
#include "core/ops/Connection.h"
#include "gui/buffer/BaseD.h"
#include "gui/buffer/DumpF.h"
#include "gui/main/LogView.h"
#include "gui/main/WindowStore.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

#include <optional>
#include <vector>

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
    dialog->setNameFilters(mode == QFileDialog::AcceptOpen ? TBufferFileDialogs::OpenFilters()
                                                           : TBufferFileDialogs::SaveFilters());
    // Appended to a typed name that has no extension. On saving, the
    // extension picks the format, so it follows the filter the user chose.
    dialog->setDefaultSuffix(TBufferFileDialogs::DefaultExtension);
    QObject::connect(dialog, &QFileDialog::filterSelected, dialog, [dialog](const QString& filter) {
        dialog->setDefaultSuffix(TBufferFileDialogs::SuffixForFilter(filter));
    });
    dialog->setSizeGripEnabled(true);
    return dialog;
}

// "File "/a/b.hex", line 3: bad checksum": the file, the place in it and the
// fault, for the application's error box.
std::string ImageErrorText(const std::string& path, const TImageError& error)
{
    const std::string file = "File \"" + FullPath(path) + "\"";
    return file + (error.Where.empty() ? ": " : ", ") + error.what();
}

// Without a region the file sizes the buffer; a file larger than any region
// the program holds is refused like such a region.
void SizeBufferFor(const std::string& path, std::uint64_t size, const TBufferSizer& sizer)
{
    if (size == 0 || size > TConnection::MaxRegionSize || !sizer(static_cast<std::uint32_t>(size)))
        throw TFileError(Format("File \"%s\" needs a buffer of %llu bytes, which cannot be held in memory",
                                FullPath(path).c_str(), static_cast<unsigned long long>(size)));
}

// Reads the image, asks where the region starts, and places the image there.
// False when the base question was cancelled and nothing changed.
bool LoadImageFile(TLogView& log, const std::string& path, std::span<const std::uint8_t> bytes, TBuffer& buffer,
                   TChangeTracking& tracking, const TRegionPlace& place, const TBufferSizer& sizer)
{
    TImage image;
    try {
        image = ParseImage(bytes);
    } catch (const TImageError& error) {
        throw TFileError(ImageErrorText(path, error));
    }
    const bool sized = static_cast<bool>(sizer);
    const std::uint32_t regionSize = buffer.Size();
    const std::uint64_t proposed =
        sized ? image.Lowest()
              : RememberedBase(place.Device, place.Region).value_or(DefaultImageBase(image, regionSize));
    const std::optional<std::uint64_t> base = AskImageBase(log.window(), image, place.Region, regionSize, proposed);
    if (!base)
        return false;
    if (sized) {
        // A base above the image's start leaves it nothing to hold; the
        // placement below says so.
        SizeBufferFor(path, image.End() > *base ? image.End() - *base : image.End() - image.Lowest(), sizer);
    } else {
        // Remembered even when the image then does not fit: the next try
        // starts from what the user typed, not from the default again.
        RememberBase(place.Device, place.Region, *base);
    }
    try {
        LoadImageIntoBuffer(path, image, *base, buffer.Bytes(), tracking, log);
    } catch (const TImageError& error) {
        throw TFileError(ImageErrorText(path, error));
    }
    return true;
}

} // namespace

QStringList TBufferFileDialogs::OpenFilters()
{
    // This platform's filters name their patterns in parentheses; "*" is what
    // matches every file here ("*.*" would miss names without a dot).
    return {"All supported files (*.bin *.hex *.ihex *.srec *.s19 *.s28 *.s37 *.mot *.elf *.axf *.out)",
            "Binary file (*.bin)",
            "Intel HEX (*.hex *.ihex)",
            "S-record (*.srec *.s19 *.s28 *.s37 *.mot)",
            "ELF (*.elf *.axf *.out)",
            "All files (*)"};
}

QStringList TBufferFileDialogs::SaveFilters()
{
    return {"Binary file (*.bin)", "Intel HEX (*.hex *.ihex)", "S-record (*.srec *.s19 *.s28 *.s37 *.mot)",
            "All files (*)"};
}

QString TBufferFileDialogs::SuffixForFilter(const QString& filter)
{
    static const QRegularExpression firstPattern(R"(\(\*\.([^ )]+))");
    const QRegularExpressionMatch match = firstPattern.match(filter);
    return match.hasMatch() ? match.captured(1) : QString(DefaultExtension);
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

std::optional<TImageFormat> OpenFileIntoBuffer(TLogView& log, TBuffer& buffer, TDumpFrame& view, TPrompts& prompts,
                                               const TFileNameChooser& choose, const TRegionPlace& place,
                                               const TBufferSizer& sizer)
{
    log.setFocus(Qt::OtherFocusReason);
    const QString path = choose();
    if (path.isEmpty())
        return std::nullopt;
    const std::string name = FileSystemName(path);
    TViewTracking tracking(view);
    std::vector<std::uint8_t> bytes;
    try {
        bytes = ReadWholeFile(name);
    } catch (const TFileError&) {
        // The raw load reports a file it cannot open after its first log
        // line, as it always has.
        LoadBufferFile(name, buffer.Bytes(), tracking, log, prompts);
        return TImageFormat::Raw;
    }
    if (const TImageFormat format = DetectImageFormat(bytes); format != TImageFormat::Raw)
        return LoadImageFile(log, name, bytes, buffer, tracking, place, sizer) ? std::optional(format) : std::nullopt;
    if (sizer)
        SizeBufferFor(name, bytes.size(), sizer);
    LoadBufferFile(name, buffer.Bytes(), tracking, log, prompts);
    return TImageFormat::Raw;
}

void SaveBufferIntoFile(TLogView& log, const TBuffer& buffer, TDumpFrame& view, const TFileNameChooser& choose,
                        const TRegionPlace& place)
{
    log.setFocus(Qt::OtherFocusReason);
    const QString path = choose();
    if (path.isEmpty())
        return;
    const std::string name = FileSystemName(path);
    TViewTracking tracking(view);
    if (FormatForFileName(name) == TImageFormat::Raw) {
        SaveBufferFile(name, buffer.Bytes(), tracking, log);
        return;
    }
    const std::optional<std::uint64_t> base =
        AskSaveBase(log.window(), place.Region, buffer.Size(), RememberedBase(place.Device, place.Region).value_or(0));
    if (!base)
        return;
    RememberBase(place.Device, place.Region, *base);
    try {
        SaveImageFile(name, buffer.Bytes(), *base, tracking, log);
    } catch (const TImageError& error) {
        throw TFileError("Cannot save file \"" + FullPath(name) + "\": " + error.what());
    }
}

} // namespace lindprog
