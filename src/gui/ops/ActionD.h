#pragma once
// The progress dialog a device operation runs under. The operation runs on
// the window's worker; the dialog only shows what it reports: the stage by
// name (also in the caption), its bar with percent, bytes done of the total,
// speed (bytes of the region passed per second, so left-out blocks count as
// they shorten the stage), elapsed time and time left, and for a plan of several stages
// (Program, Write) an overall bar across them.
//
// Cancel, and the close box, ask the worker to stop; the dialog stays until
// the worker has ended the stage, powered off and shown its closing box, and
// Finish() closes it. Esc does nothing: a flash operation is not cancelled by
// accident.

#include "core/ops/OperationDriver.h"

#include <QDialog>

#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace lindprog {

class TActionDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr int Done = 1;
    static constexpr int Cancelled = 2;

    explicit TActionDialog(QWidget* parent);

    // Shows the dialog modally until Finish.
    int Run();
    void Finish();
    bool CancelWanted() const { return CancelClicked; }

    void ShowStage(const TStageProgress& progress);
    void ShowProgress(const TStageProgress& progress);

    QLabel* mStage;
    QProgressBar* pbTotal;
    QProgressBar* pb;
    QLabel* mProgress;
    QLabel* mSpeed;
    QLabel* mTime;
    QPushButton* btnCancel;

signals:
    void CancelRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void btnCancelClick();

    bool CancelClicked = false;
    bool Finished = false;
};

// "Stage 3 of 4: Writing", or the stage's name alone in a plan of one.
QString StageText(const TStageProgress& progress);
// "42%   220160 of 524288 bytes"; the percent alone for a stage without blocks.
QString AmountText(const TStageProgress& progress);
// "Elapsed 0:03, left 0:04"; the time left once a speed is known.
QString TimeText(const TStageProgress& progress);

} // namespace lindprog
