#pragma once
// The small fixed dialogs of the hex view (Fill, Base) share one shape: a
// group of fields above an "OK" / "Cancel" row, the dialog as large as its
// contents need.

class QDialog;
class QPushButton;
class QWidget;

namespace lindprog {

struct TDialogButtons {
    QPushButton* Ok = nullptr;
    QPushButton* Cancel = nullptr;
};

// Lays out `group` above the button row; "OK" is the default button and
// accepts, "Cancel" rejects.
TDialogButtons LayOutWithButtons(QDialog& dialog, QWidget* group);

} // namespace lindprog
