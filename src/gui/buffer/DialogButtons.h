#pragma once
// The small fixed dialogs of the hex view (Fill, Base, Find, Go to) share one
// shape: a group of fields above an "OK" / "Cancel" row, the dialog as large
// as its contents need.

class QDialog;
class QLabel;
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

// The line under a field that says why what was typed cannot be used: wide
// enough for the dialog's texts and two lines high, so that a message coming
// and going never resizes the dialog.
QLabel* MakeErrorLabel(QWidget* group);

} // namespace lindprog
