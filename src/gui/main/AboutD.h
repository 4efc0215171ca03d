#pragma once
// The About box: the product line, the version, the maker's web page as a
// link, and the key the attached adapter reports about itself.

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lindprog {

class TDevicePort;

class TAboutDialog final : public QDialog {
    Q_OBJECT
public:
    // The design's size; wider where the font needs it (see PlaceControls).
    static constexpr int ClientWidth = 233;
    static constexpr int ClientHeight = 175;
    static constexpr const char* WebAddress = "https://example.com/corvane-programmer";

    explicit TAboutDialog(QWidget* parent);

    // A click on the link: the system opens the link's own text.
    void mWwwClick();

    QFrame* Panel1;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* mWww;
    QLabel* KeyLabel;
    QLineEdit* eKey;
    QPushButton* btnOk;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlaceControls();
};

// Help > "About...": asks the adapter for its key first (a closed port fails
// at once, leaving the key empty), then shows the box.
void ShowAbout(QWidget* parent, TDevicePort& port);

} // namespace lindprog
