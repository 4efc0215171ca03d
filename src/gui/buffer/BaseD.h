#pragma once
// The question an image file (Intel HEX, S-record, ELF) brings: at which
// address does the selected region start? The file carries absolute
// addresses, the buffer starts at 0, and only the user knows where the
// region sits on the board. The dialog shows what the file holds and takes
// the base in hexadecimal; OK stays disabled while the text is no address
// the region fits at, so the caller never sees an unusable value.

#include <QDialog>
#include <QString>

#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace lindprog {

struct TImage;

class TBaseDialog final : public QDialog {
    Q_OBJECT

public:
    // The region the base is asked for: its name and size in bytes.
    TBaseDialog(const QString& region, std::uint32_t regionSize, QWidget* parent = nullptr);

    // Loading: the image's own range and byte count.
    void ShowImage(const TImage& image);
    // Saving: the file takes the whole buffer, so its range follows the base.
    void ShowBuffer();

    void SetBase(std::uint64_t base);
    // The base typed, or nothing while the text is no usable address.
    std::optional<std::uint64_t> Base() const;

    QLineEdit* eBase = nullptr;
    QLabel* mRegion = nullptr;
    QLabel* mRange = nullptr;
    QLabel* mBytes = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void eBaseChange();

    std::uint32_t RegionSize;
    bool RangeFollowsBase = false;
};

// Shows the dialog for loading `image` into the region, offering `proposed`;
// the base accepted, nothing on Cancel.
std::optional<std::uint64_t> AskImageBase(QWidget* parent, const TImage& image, const QString& region,
                                          std::uint32_t regionSize, std::uint64_t proposed);
// The same for saving the region's buffer.
std::optional<std::uint64_t> AskSaveBase(QWidget* parent, const QString& region, std::uint32_t regionSize,
                                         std::uint64_t proposed);

} // namespace lindprog
