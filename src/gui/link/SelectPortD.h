#pragma once
// The port dialog: the serial ports the system has, and those mapped through
// LINDPROG_COM<N>, each listed with its descriptive name, its COM number and
// its whole device path (the dialog widens for the longest). The number is
// what the rest of the program uses. Where the simulator is installed, the
// list ends with "Simulated adapter (demo)".

#include "core/link/PortNames.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace lindprog {

// The text of one list entry, e.g. "FT232R USB UART (COM3, /dev/ttyUSB0)".
// description may be empty; then the by-id name or the device's name stands.
QString PortEntryText(const TPortEntry& port, const QString& description);

class TSelectPortDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 312;
    static constexpr int ClientHeight = 128;
    // What SelectedPort gives for the simulated adapter's entry.
    static constexpr int DemoEntry = -1;
    static constexpr const char* DemoText = "Simulated adapter (demo)";

    // Fills the list at once (FormCreate) and selects its first entry.
    TSelectPortDialog(TPortNames& portNames, QWidget* parent, bool offerDemo = false);

    // Selects the entry of this port number when one is listed; otherwise the
    // selection stays as it is.
    void SelectPort(int portNumber);
    // The number of the selected entry, 0 when the list is empty, DemoEntry
    // for the simulated adapter.
    int SelectedPort() const;

    QFrame* Bevel1;
    QLabel* Label1;
    QLabel* mError;
    QComboBox* cb;
    QPushButton* btnOk;
    QPushButton* btnCancel;

private:
    void FormCreate(TPortNames& portNames, bool offerDemo);
    // Wide enough for the longest entry, never narrower than the design.
    void FitWidth();
};

// Options > "&Port...": the chosen entry (a port number or DemoEntry), with
// current preselected; 0 on Cancel.
int AskPort(QWidget* parent, TPortNames& portNames, int current, bool offerDemo);

} // namespace lindprog
