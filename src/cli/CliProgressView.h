#pragma once
// What a session shows while a plan runs: one progress line per port on a
// terminal, or progress events in JSON, redrawn only when the percentage
// moves; and its log lines, each told apart from detail by the stage
// boundaries the runner reports (CliLogDetail.h). Every session of the
// command line shows it the same way.

#include "cli/CliLogDetail.h"
#include "cli/CliOutput.h"
#include "core/ops/Connection.h"

#include <string>

namespace lindprog::cli {

class TCliProgressView : public TNullView {
public:
    TCliProgressView(TCliOutput& output, std::string portName);

    void StageStarted(const TStageProgress& progress) override;
    void StageProgress(const TStageProgress& progress) override;
    void StageEnded(const TStageOutcome& outcome) override;

protected:
    // Every log line of the session, and every trace line, goes through here.
    void ShowLogLine(const std::string& text) { Lines.Line(text); }
    void ShowTrace(const std::string& text);
    void PlanStarted() { Lines.PlanStarted(); }
    // Before anything else the session prints: its log lines come first.
    void FlushLog() { Lines.Flush(); }
    // The session's end: the result printed after the log may stand for
    // its last line.
    void Finished(const TResult& result);

private:
    TCliOutput& Shown;
    const std::string ShownPort;
    int LastPercentShown = -1;
    TLogDetail Lines;
};

} // namespace lindprog::cli
