#include "gui/buffer/BaseD.h"

#include "core/buffer/ImageFile.h"
#include "gui/buffer/DialogButtons.h"

#include <QFontMetrics>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cctype>
#include <limits>

namespace lindprog {

namespace {

// Room for the longest base a 64-bit address space has, with its "0x".
constexpr int BaseEditChars = 18;

QString Hex(std::uint64_t value)
{
    return QString::asprintf("%08llX", static_cast<unsigned long long>(value));
}

// `count` bytes from `first` on; the caller keeps the last one inside 64 bits.
QString RangeText(std::uint64_t first, std::uint64_t count)
{
    return count > 0 ? Hex(first) + '-' + Hex(first + (count - 1)) : QString("none");
}

bool IsHexDigits(const QString& text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return std::isxdigit(c.unicode()) && c.unicode() < 128; });
}

QLabel* ValueLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    // The user may want to copy an address into another tool.
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

TBaseDialog::TBaseDialog(const QString& region, std::uint32_t regionSize, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      RegionSize(regionSize)
{
    setWindowTitle("Base address");

    auto* group = new QGroupBox(this);
    mRegion = ValueLabel("mRegion", group);
    mRegion->setText(region.isEmpty()
                         ? QString("n/a")
                         : QString("%1, 0x%2 bytes").arg(region, QString::number(regionSize, 16).toUpper()));
    mRange = ValueLabel("mRange", group);
    mBytes = ValueLabel("mBytes", group);
    eBase = new QLineEdit(group);
    eBase->setObjectName("eBase");
    // Digits plus the edit's frame and margins, which an "M" more covers.
    eBase->setMinimumWidth(QFontMetrics(eBase->font()).horizontalAdvance(QString(BaseEditChars, 'D') + 'M'));
    auto* rows = new QFormLayout(group);
    rows->addRow("Region:", mRegion);
    rows->addRow("File's address range:", mRange);
    rows->addRow("Bytes:", mBytes);
    rows->addRow("Region starts at (hex):", eBase);
    connect(eBase, &QLineEdit::textChanged, this, &TBaseDialog::eBaseChange);

    const TDialogButtons buttons = LayOutWithButtons(*this, group);
    btnOk = buttons.Ok;
    btnCancel = buttons.Cancel;
    eBaseChange();
}

void TBaseDialog::ShowImage(const TImage& image)
{
    RangeFollowsBase = false;
    mRange->setText(RangeText(image.Lowest(), image.End() - image.Lowest()));
    const std::size_t segments = image.Segments.size();
    mBytes->setText(QString("%1 in %2 segment%3").arg(image.ByteCount()).arg(segments).arg(segments == 1 ? "" : "s"));
    eBaseChange();
}

void TBaseDialog::ShowBuffer()
{
    RangeFollowsBase = true;
    mBytes->setText(QString::number(RegionSize));
    eBaseChange();
}

void TBaseDialog::SetBase(std::uint64_t base)
{
    eBase->setText(Hex(base));
    eBase->selectAll();
}

std::optional<std::uint64_t> TBaseDialog::Base() const
{
    QString text = eBase->text().trimmed();
    if (text.startsWith("0x", Qt::CaseInsensitive))
        text.remove(0, 2);
    if (text.isEmpty() || text.size() > 16 || !IsHexDigits(text))
        return std::nullopt;
    bool isNumber = false;
    const std::uint64_t base = text.toULongLong(&isNumber, 16);
    // The region must end inside the address space: its last byte is shown
    // and the file's addresses are computed from base + offset.
    if (!isNumber || (RegionSize > 0 && base > std::numeric_limits<std::uint64_t>::max() - (RegionSize - 1)))
        return std::nullopt;
    return base;
}

void TBaseDialog::eBaseChange()
{
    const std::optional<std::uint64_t> base = Base();
    btnOk->setEnabled(base.has_value());
    if (RangeFollowsBase)
        mRange->setText(base ? RangeText(*base, RegionSize) : QString("?"));
}

std::optional<std::uint64_t> AskImageBase(QWidget* parent, const TImage& image, const QString& region,
                                          std::uint32_t regionSize, std::uint64_t proposed)
{
    TBaseDialog dialog(region, regionSize, parent);
    dialog.ShowImage(image);
    dialog.SetBase(proposed);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Base();
}

std::optional<std::uint64_t> AskSaveBase(QWidget* parent, const QString& region, std::uint32_t regionSize,
                                         std::uint64_t proposed)
{
    TBaseDialog dialog(region, regionSize, parent);
    dialog.ShowBuffer();
    dialog.SetBase(proposed);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Base();
}

} // namespace lindprog
