#pragma once
// What a session shows while a plan runs: one progress line per port on a
// terminal, or progress events in JSON, redrawn only when the percentage
// moves. Every session of the command line shows it the same way.

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

private:
    TCliOutput& Shown;
    const std::string ShownPort;
    int LastPercentShown = -1;
};

} // namespace lindprog::cli
