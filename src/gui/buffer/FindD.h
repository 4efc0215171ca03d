#pragma once
// "Find...": the bytes to look for, typed as hex bytes or as text, and which
// of the two the field holds. The hint says how each is written; the reason
// a text is no pattern shows as the user types, and "Find" stays disabled
// until it is one. The search itself is the view's (DumpF.h).

#include "core/buffer/ByteSearch.h"

#include <QDialog>
#include <QString>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lindprog {

// What the user asked to find: the text as typed and how it is read.
struct TFindRequest {
    QString Text;
    TPatternKind Kind = TPatternKind::Hex;
};

TSearchPattern ParseFindRequest(const TFindRequest& request);

class TFindDialog final : public QDialog {
    Q_OBJECT

public:
    explicit TFindDialog(QWidget* parent = nullptr);

    void SetRequest(const TFindRequest& request);
    TFindRequest Request() const;

    QLineEdit* eFind = nullptr;
    QComboBox* cbFindKind = nullptr;
    QLabel* mHint = nullptr;
    QLabel* mError = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void eFindChange();
};

// Shows the dialog offering the last request; the new one on "Find".
std::optional<TFindRequest> AskFindRequest(QWidget* parent, const TFindRequest& last);

} // namespace lindprog
