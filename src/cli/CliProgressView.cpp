#include "cli/CliProgressView.h"

#include "core/ops/Operation.h"

namespace lindprog::cli {

TCliProgressView::TCliProgressView(TCliOutput& output, std::string portName)
    : Shown(output), ShownPort(std::move(portName))
{
}

void TCliProgressView::StageStarted(const TStageProgress& progress)
{
    LastPercentShown = -1;
    StageProgress(progress);
}

void TCliProgressView::StageProgress(const TStageProgress& progress)
{
    if (progress.Percent == LastPercentShown)
        return;
    LastPercentShown = progress.Percent;
    TProgress shown;
    shown.Stage = OperationInfo(progress.Stage).StageName;
    shown.Percent = progress.Percent;
    shown.Bytes = progress.Bytes;
    shown.Total = progress.Total;
    shown.KBps = progress.BytesPerSecond() / 1024.0;
    shown.SecondsLeft = progress.SecondsLeft();
    Shown.Progress(ShownPort, shown);
}

void TCliProgressView::StageEnded(const TStageOutcome&)
{
    Shown.EndProgress(ShownPort);
}

} // namespace lindprog::cli
