#include "gui/buffer/FindD.h"

#include "gui/buffer/DialogButtons.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace lindprog {
namespace {

const char* HintFor(TPatternKind kind)
{
    return kind == TPatternKind::Hex
               ? "Two hex digits a byte: DE AD BE EF or DEADBEEF.\nText in double quotes: \"boot\"."
               : "The characters as the view shows them, case as typed.";
}

} // namespace

TSearchPattern ParseFindRequest(const TFindRequest& request)
{
    const std::u32string text = request.Text.toStdU32String();
    return ParseSearchPattern(text, request.Kind);
}

TFindDialog::TFindDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setWindowTitle("Find");
    auto* group = new QGroupBox(this);
    eFind = new QLineEdit(group);
    eFind->setObjectName("eFind");
    cbFindKind = new QComboBox(group);
    cbFindKind->setObjectName("cbFindKind");
    cbFindKind->addItem("Hex bytes");
    cbFindKind->addItem("Text");
    mHint = new QLabel(group);
    mHint->setObjectName("mHint");
    mError = MakeErrorLabel(group);
    mHint->setMinimumHeight(mError->minimumHeight());

    auto* rows = new QFormLayout(group);
    rows->addRow("&Find:", eFind);
    rows->addRow("&As:", cbFindKind);
    rows->addRow(mHint);
    rows->addRow(mError);

    const TDialogButtons buttons = LayOutWithButtons(*this, group);
    btnOk = buttons.Ok;
    btnOk->setText("Find");
    btnCancel = buttons.Cancel;
    connect(eFind, &QLineEdit::textChanged, this, &TFindDialog::eFindChange);
    connect(cbFindKind, &QComboBox::currentIndexChanged, this, &TFindDialog::eFindChange);
    eFindChange();
}

void TFindDialog::SetRequest(const TFindRequest& request)
{
    cbFindKind->setCurrentIndex(request.Kind == TPatternKind::Hex ? 0 : 1);
    eFind->setText(request.Text);
    eFind->selectAll();
    eFindChange();
}

TFindRequest TFindDialog::Request() const
{
    return {eFind->text(), cbFindKind->currentIndex() == 0 ? TPatternKind::Hex : TPatternKind::Text};
}

void TFindDialog::eFindChange()
{
    const TFindRequest request = Request();
    mHint->setText(HintFor(request.Kind));
    const TSearchPattern pattern = ParseFindRequest(request);
    btnOk->setEnabled(pattern.Valid());
    // An empty field is where every search starts; it needs no reproach.
    mError->setText(request.Text.isEmpty() ? QString() : QString::fromStdString(pattern.Error));
}

std::optional<TFindRequest> AskFindRequest(QWidget* parent, const TFindRequest& last)
{
    TFindDialog dialog(parent);
    dialog.SetRequest(last);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Request();
}

} // namespace lindprog
