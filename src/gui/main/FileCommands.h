#pragma once
// File > "&Open..." and File > "Save...": the buffer loaded from and saved to a
// raw binary file chosen by the user. The logic (size question, log lines, CRC,
// safe replacement of the old file) is BufferFile's; this unit brings the file
// choosers and the hex view to it.
//
// A file that can't be opened or saved raises TFileError out of the command; the
// application-wide handler shows it and the program goes on unchanged.

#include "core/buffer/BufferFile.h"

#include <QString>
#include <QStringList>

#include <functional>

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
    // "Binary file (*.bin)" and "All files", in this order.
    static QStringList Filters();

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

// Load: the log takes the focus (the view loses its cursor), `choose` picks the
// file; on Cancel nothing happens.
void cmFileOpenClick(TLogView& log, TBuffer& buffer, TDumpFrame& view, TPrompts& prompts,
                     const TFileNameChooser& choose);
// Save: as load, without a question.
void cmFileSaveClick(TLogView& log, const TBuffer& buffer, TDumpFrame& view, const TFileNameChooser& choose);

} // namespace lindprog
