#pragma once
// The dialog of the hex view's "Fill selected...": one edit for the fill value
// in hex. It only collects the text; the view reads it (leniently, any text is
// accepted) and fills the selection.

#include <QDialog>
#include <QString>

#include <cstdint>
#include <optional>

class QLineEdit;
class QPushButton;

namespace lindprog {

class TFillDialog final : public QDialog {
    Q_OBJECT

public:
    explicit TFillDialog(QWidget* parent = nullptr);

    // The edit shows the value as two upper-case hex digits ("FF", "A5").
    void SetFillValue(std::uint8_t value);
    QString FillText() const;

    QLineEdit* FillEdit() const { return eFillValue; }
    QPushButton* OkButton() const { return btnOk; }
    QPushButton* CancelButton() const { return btnCancel; }

private:
    QLineEdit* eFillValue = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};

// Shows the dialog modally, centred on `parent`, offering `current`; the text
// entered on OK, nothing on Cancel.
std::optional<QString> AskFillValue(QWidget* parent, std::uint8_t current);

} // namespace lindprog
