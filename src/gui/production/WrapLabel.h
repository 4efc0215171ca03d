#pragma once
// A word-wrapped label that tells the layouts above it how tall its text is
// at the width it has now, and at least a few lines. A plain wrapped label
// reports one guess for every width, so a narrow column squeezed it until
// its lines ran over the ones below; the production view's minimum, and so
// the window's, follows this one instead.

#include <QLabel>

namespace lindprog {

class TWrapLabel final : public QLabel {
    Q_OBJECT
public:
    // lines: the height it keeps even for a shorter text, so that the view
    // does not jump as its texts change.
    TWrapLabel(int lines, QWidget* parent);

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    const int Lines;
};

} // namespace lindprog
