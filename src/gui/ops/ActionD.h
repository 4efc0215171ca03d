#pragma once
// The progress dialog every device operation runs under. Its 10 ms timer
// runs one step of the operation per tick and is stopped while the step
// runs, so steps never overlap and none runs after Cancel.

#include <QDialog>

#include <cstdint>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace lindprog {

class TActionDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr int Done = 1;
    static constexpr int Cancelled = 2;
    static constexpr int TickMs = 10;

    // step: runs one step, sets the percentage, returns whether more follow.
    TActionDialog(const QString& caption, std::function<bool(int&)> step, QWidget* parent);

    // Shows the dialog modally until the steps end (Done) or the user
    // cancels (Cancelled).
    int Run();
    void ShowSpeed(std::uint32_t bytesPerSecond);

    QProgressBar* pb;
    QPushButton* btnCancel;
    QLabel* mSpeed;
    QTimer* Timer;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void TimerTimer();
    void btnCancelClick();

    std::function<bool(int&)> Step;
};

} // namespace lindprog
