// Every caption, value and button text of a dialog with fixed geometry fits
// its field at the program's font: a field that is too narrow silently cuts
// the text (the About box's key lost its first digit, the link both ends).
// Here, not in gui_test: the font comes from the program's application object.

#include "core/buffer/ImageFile.h"
#include "gui/buffer/BaseD.h"
#include "gui/buffer/DumpF.h"
#include "gui/buffer/FillD.h"
#include "gui/buffer/StringsD.h"
#include "gui/link/SelectPortD.h"
#include "gui/main/AboutD.h"
#include "gui/ops/ActionD.h"
#include "gui/settings/SettingsD.h"
#include "gui/update/UpdateD.h"
#include "support/MainHarness.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lindprog {
namespace {

// QLineEdit keeps this much room between its contents rectangle and the text
// on either side.
constexpr int LineEditInnerMargin = 2;

struct TFit {
    QString Text;
    int Needed;
    int Room;
};

int Metric(QWidget* widget, QStyle::PixelMetric metric)
{
    return widget->style()->pixelMetric(metric, nullptr, widget);
}

TFit LabelFit(QLabel* label)
{
    const QFontMetrics metrics(label->font());
    int room = label->contentsRect().width() - 2 * label->margin();
    // A framed label indents its text by half an "x" unless told otherwise.
    int indent = label->indent();
    if (indent < 0)
        indent = label->frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    if (!(label->alignment() & Qt::AlignHCenter))
        room -= indent;
    return {label->text(), metrics.horizontalAdvance(label->text()), room};
}

TFit EditFit(QLineEdit* edit)
{
    const QFontMetrics metrics(edit->font());
    const int frame = edit->hasFrame() ? Metric(edit, QStyle::PM_DefaultFrameWidth) : 0;
    const QMargins margins = edit->textMargins();
    const int room = edit->width() - 2 * frame - margins.left() - margins.right() - 2 * LineEditInnerMargin;
    return {edit->text(), metrics.horizontalAdvance(edit->text()), room};
}

TFit ButtonFit(QPushButton* button)
{
    const QFontMetrics metrics(button->font());
    const int text = metrics.size(Qt::TextShowMnemonic, button->text()).width();
    const int chrome = Metric(button, QStyle::PM_ButtonMargin) + 2 * Metric(button, QStyle::PM_DefaultFrameWidth);
    return {button->text(), text + chrome, button->width()};
}

TFit CheckBoxFit(QCheckBox* box)
{
    const QFontMetrics metrics(box->font());
    const int text = metrics.size(Qt::TextShowMnemonic, box->text()).width();
    const int indicator = Metric(box, QStyle::PM_IndicatorWidth) + Metric(box, QStyle::PM_CheckBoxLabelSpacing);
    return {box->text(), indicator + text, box->width()};
}

std::optional<TFit> FitOf(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget); label && !label->wordWrap())
        return LabelFit(label);
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return EditFit(edit);
    if (auto* button = qobject_cast<QPushButton*>(widget))
        return ButtonFit(button);
    if (auto* box = qobject_cast<QCheckBox*>(widget))
        return CheckBoxFit(box);
    return std::nullopt;
}

struct TDialogCase {
    const char* Name;
    std::function<std::unique_ptr<QDialog>(TMainForm& form, TPortNames& names)> Make;
};

void PrintTo(const TDialogCase& dialog, std::ostream* out)
{
    *out << dialog.Name;
}

class DialogFit : public ::testing::TestWithParam<TDialogCase> {};

TEST_P(DialogFit, EveryTextFitsItsField)
{
    test::TMainHarness harness;
    ASSERT_TRUE(harness.Started);
    TMainForm& form = harness.Start();
    TPortNames names(TPortNames::DefaultAssignmentsFile());
    const std::unique_ptr<QDialog> dialog = GetParam().Make(form, names);
    // Showing lays the dialog out: captions placed with move() take their size then.
    dialog->show();
    EXPECT_EQ(dialog->font(), form.font()) << "the window's font";
    int checked = 0;
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(dialog.get()))
            continue;
        const std::optional<TFit> fit = FitOf(widget);
        if (!fit || fit->Text.isEmpty())
            continue;
        ++checked;
        EXPECT_LE(fit->Needed, fit->Room)
            << widget->metaObject()->className() << " " << widget->objectName().toStdString() << " \""
            << fit->Text.toStdString() << "\"";
    }
    EXPECT_GT(checked, 0);
    dialog->close();
}

const std::uint8_t NoImage[1] = {};

// The key is shown as eight upper-case hex digits; the widest of them makes
// the widest key.
QChar WidestHexDigit(const QFont& font)
{
    const QFontMetrics metrics(font);
    QChar widest = '0';
    for (const QChar digit : QStringLiteral("0123456789ABCDEF"))
        if (metrics.horizontalAdvance(digit) > metrics.horizontalAdvance(widest))
            widest = digit;
    return widest;
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, DialogFit,
    ::testing::Values(
        TDialogCase{"About",
                    [](TMainForm& form, TPortNames&) {
                        auto dialog = std::make_unique<TAboutDialog>(&form);
                        dialog->eKey->setText(QString(8, WidestHexDigit(dialog->eKey->font())));
                        return dialog;
                    }},
        TDialogCase{"SelectPort", [](TMainForm& form,
                                     TPortNames& names) { return std::make_unique<TSelectPortDialog>(names, &form); }},
        TDialogCase{"Settings", [](TMainForm& form, TPortNames&) { return std::make_unique<TSettingsDialog>(&form); }},
        TDialogCase{"Update",
                    [](TMainForm& form, TPortNames&) {
                        return std::make_unique<TUpdateDialog>(form.Port(), std::span(NoImage, 0), &form);
                    }},
        TDialogCase{"Action",
                    [](TMainForm& form, TPortNames&) {
                        // The widest texts: a stage of a plan, a large region, hours left.
                        auto dialog = std::make_unique<TActionDialog>(&form);
                        TStageProgress progress;
                        progress.Stage = TOperation::BlankCheck;
                        progress.StageNumber = 2;
                        progress.StageCount = 5;
                        progress.Percent = 1;
                        progress.Bytes = 2621440;
                        progress.Total = 268435456;
                        progress.Seconds = 100;
                        dialog->ShowStage(progress);
                        return dialog;
                    }},
        TDialogCase{"Strings",
                    [](TMainForm& form, TPortNames&) { return std::make_unique<TStringDialog>(form.Dump()); }},
        TDialogCase{"Fill", [](TMainForm& form, TPortNames&) { return std::make_unique<TFillDialog>(&form); }},
        TDialogCase{"Base",
                    [](TMainForm& form, TPortNames&) {
                        // The longest texts: a 64-bit range, a large count, a long region name.
                        TImage image;
                        image.Format = TImageFormat::Elf;
                        image.Segments.push_back({0xFFFFFFFF00000000ull, std::vector<std::uint8_t>(1000000), {}});
                        image.Segments.push_back({0xFFFFFFFFFFFFFFF0ull, std::vector<std::uint8_t>(16), {}});
                        auto dialog = std::make_unique<TBaseDialog>("Code flash (shadow)", 0x100000, &form);
                        dialog->ShowImage(image);
                        dialog->SetBase(0xFFFFFFFFFFE00000ull);
                        return dialog;
                    }}),
    [](const ::testing::TestParamInfo<TDialogCase>& info) { return std::string(info.param.Name); });

} // namespace
} // namespace lindprog
