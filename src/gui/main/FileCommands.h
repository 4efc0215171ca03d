#pragma once
// File > "&Open..." and File > "Save...": the buffer loaded from and saved to a
// file chosen by the user, a raw binary or an image file (Intel HEX, S-record,
// and ELF for loading). The logic (size question, log lines, CRC, placing an
// image, safe replacement of the old file) is BufferFile's; this unit brings
// the file choosers, the base address question and the hex view to it.
//
// What a file is read as comes from its content, never from the chooser's
// filter or the name: build systems name their output freely. What a file is
// saved as comes from the name's extension, which the filter fills in.
//
// A file that can't be opened, read as an image, placed or saved raises
// TFileError out of the command, naming the file and, for an image, the line
// or segment at fault; the application-wide handler shows it and the program
// goes on with the buffer unchanged.

#include "core/buffer/BufferFile.h"
#include "core/buffer/ImageFile.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

class QFileDialog;
class QWidget;

namespace lindprog {

class TBuffer;
class TDumpFrame;
class TLogView;

// Picks the file for a command: its full path, or an empty text on Cancel.
using TFileNameChooser = std::function<QString()>;

// The main window's two file choosers, made on first use and then kept for the
// life of the window, so that each shows the folder and name last chosen.
class TBufferFileDialogs {
public:
    static constexpr const char* DefaultExtension = "bin";
    // "All supported files" (raw and the image formats) first, then each
    // format, "All files" last.
    static QStringList OpenFilters();
    // As OpenFilters, without ELF, which is only read.
    static QStringList SaveFilters();
    // The extension a typed name without one gets under `filter`: its first
    // pattern's, or DefaultExtension for a filter that has none ("*").
    static QString SuffixForFilter(const QString& filter);

    explicit TBufferFileDialogs(QWidget* window) : Window(window) {}

    QString ChooseOpen() { return Run(OpenDialog(), LastOpened); }
    QString ChooseSave() { return Run(SaveDialog(), LastSaved); }

    QFileDialog& OpenDialog();
    QFileDialog& SaveDialog();
    // The full path of the file an accepted dialog chose; empty when none.
    static QString ChosenFile(const QFileDialog& dialog);

private:
    // Shows `dialog` at the file it chose last and remembers its new choice.
    static QString Run(QFileDialog& dialog, QString& last);

    QWidget* Window;
    QFileDialog* Open = nullptr; // children of Window
    QFileDialog* Save = nullptr;
    QString LastOpened;
    QString LastSaved;
};

// The device and region the buffer holds, by name: the base address of an
// image file is remembered for them.
struct TRegionPlace {
    QString Device;
    QString Region;
};

// Makes the buffer this many bytes; false when it cannot be had.
using TBufferSizer = std::function<bool(std::uint32_t size)>;

// Load: the log takes the focus (the view loses its cursor), `choose` picks the
// file; on Cancel nothing happens. A raw file loads as it always has; an image
// file asks for the region's base address first (Cancel there changes
// nothing either). A sizer is given when there is no region (no adapter):
// the file then gives the buffer its size, a raw file its length, an image
// its extent from the base to its end, so a file can be inspected before any
// adapter is there. Gives the format of what was loaded; nothing when nothing
// was (Cancel).
std::optional<TImageFormat> OpenFileIntoBuffer(TLogView& log, TBuffer& buffer, TDumpFrame& view, TPrompts& prompts,
                                               const TFileNameChooser& choose, const TRegionPlace& place,
                                               const TBufferSizer& sizer = {});
// Save: as load; a HEX or S-record name asks for the base address, offering
// the one remembered for the region, else 0.
void SaveBufferIntoFile(TLogView& log, const TBuffer& buffer, TDumpFrame& view, const TFileNameChooser& choose,
                        const TRegionPlace& place);

} // namespace lindprog
