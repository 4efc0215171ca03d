#pragma once
// The port dialog: the serial ports the system has, and those mapped through
// LINDPROG_COM<N>, each listed with its descriptive name, its COM number and
// its device path. The number is what the rest of the program uses.

#include "core/link/PortNames.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace lindprog {

class TConnection;
struct TSettings;

// The text of one list entry, e.g. "FT232R USB UART (COM3, /dev/ttyUSB0)".
// description may be empty; then the by-id name or the device's name stands.
QString PortEntryText(const TPortEntry& port, const QString& description);

class TSelectPortDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 312;
    static constexpr int ClientHeight = 128;

    // Fills the list at once (FormCreate) and selects its first entry.
    TSelectPortDialog(TPortNames& portNames, QWidget* parent);

    // Selects the entry of this port number when one is listed; otherwise the
    // selection stays as it is.
    void SelectPort(int portNumber);
    // The number of the selected entry, 0 when the list is empty.
    int SelectedPort() const;

    QFrame* Bevel1;
    QLabel* Label1;
    QLabel* mError;
    QComboBox* cb;
    QPushButton* btnOk;
    QPushButton* btnCancel;

private:
    void FormCreate(TPortNames& portNames);
};

// Options > "&Port...": on "Open" the chosen number becomes the SerialPort
// setting and the connection is made anew on it, also when it is the same
// port; Cancel changes nothing.
void ChoosePort(QWidget* parent, TPortNames& portNames, TSettings& settings, TConnection& connection);

} // namespace lindprog
