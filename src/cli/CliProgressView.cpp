#include "cli/CliProgressView.h"

#include "core/ops/Operation.h"

namespace lindprog::cli {

TCliProgressView::TCliProgressView(TCliOutput& output, std::string portName)
    : Shown(output), ShownPort(std::move(portName)),
      Lines([this](const std::string& text, TLogDetail::TClock::time_point when, bool detail) {
          Shown.Log(ShownPort, text, detail, when);
      })
{
}

void TCliProgressView::ShowTrace(const std::string& text)
{
    // A request's trace follows the lines logged before it.
    Lines.Flush();
    Shown.Trace(ShownPort, text);
}

void TCliProgressView::Finished(const TResult& result)
{
    if (result.Ok && result.Summarizes)
        Lines.Finished(result.Message);
    else
        Lines.Flush();
}

void TCliProgressView::StageStarted(const TStageProgress& progress)
{
    Lines.StageStarted();
    LastPercentShown = -1;
    StageProgress(progress);
}

void TCliProgressView::StageProgress(const TStageProgress& progress)
{
    Lines.Flush();
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

void TCliProgressView::StageEnded(const TStageOutcome& outcome)
{
    Lines.StageEnded(outcome);
    Shown.EndProgress(ShownPort);
}

} // namespace lindprog::cli
