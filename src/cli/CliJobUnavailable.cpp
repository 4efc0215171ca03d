#include "cli/CliJob.h"
#include "core/ops/ExitCode.h"

namespace lindprog::cli {

bool IsProductionCommand(TCliCommand command)
{
    return command >= TCliCommand::Run;
}

int RunProductionCommand(const TCliOptions& options, TCliOutput& output)
{
    output.Error("", CommandName(options.Command) + " is not available on this system");
    return ExitCode::Usage;
}

} // namespace lindprog::cli
