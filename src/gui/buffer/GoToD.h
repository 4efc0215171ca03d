#pragma once
// "Go to address...": one edit for the address and the choice of what it
// means, a region offset or, when the region's base on the target is known,
// the target's address. The hint under the edit says how numbers are
// written; the reason a text is refused shows under it as the user types,
// and OK stays disabled until the text names a byte of the buffer.

#include "core/buffer/GoToAddress.h"

#include <QDialog>

#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace lindprog {

class TGoToDialog final : public QDialog {
    Q_OBJECT

public:
    // `base`: the region's base on the target, if known; without it only
    // offsets can be given.
    TGoToDialog(std::uint32_t size, std::optional<std::uint64_t> base, QWidget* parent = nullptr);

    // Chooses the meaning (Target falls back to Offset without a base) and
    // offers `offset` written that way.
    void Propose(TAddressKind kind, std::uint32_t offset);
    TAddressKind Kind() const;
    // The byte the text names, or nothing while it names none.
    std::optional<std::uint32_t> Offset() const;

    QLineEdit* eAddress = nullptr;
    QRadioButton* rbOffset = nullptr;
    QRadioButton* rbTarget = nullptr;
    QLabel* mError = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    TGoToTarget Resolve() const;
    void eAddressChange();

    std::uint32_t Size;
    std::optional<std::uint64_t> Base;
};

// Shows the dialog offering the cursor's `offset` in the meaning `kind`
// (which keeps the user's last choice); the chosen byte on OK.
std::optional<std::uint32_t> AskGoToOffset(QWidget* parent, std::uint32_t size, std::optional<std::uint64_t> base,
                                           std::uint32_t offset, TAddressKind& kind);

} // namespace lindprog
