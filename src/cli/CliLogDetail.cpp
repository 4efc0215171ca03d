#include "cli/CliLogDetail.h"

namespace lindprog::cli {

TLogDetail::TLogDetail(TEmit emit) : Emit(std::move(emit))
{
}

TLogDetail::~TLogDetail()
{
    // The log file must get every line, whatever ended the command.
    const std::lock_guard lock(Mutex);
    Release();
}

bool TLogDetail::Known(const std::string& text) const
{
    return KnownNow.count(text) > 0 || KnownBefore.count(text) > 0;
}

void TLogDetail::Release(std::optional<bool> detail)
{
    if (!Held)
        return;
    THeld line = std::move(*Held);
    Held.reset();
    Emit(line.Text, line.When, detail.value_or(line.Opening && Known(line.Text)));
}

void TLogDetail::Line(const std::string& text)
{
    const std::lock_guard lock(Mutex);
    Release();
    if (!Running)
        Opening.push_back(text);
    Held = THeld{text, TClock::now(), !Running};
}

void TLogDetail::Flush()
{
    const std::lock_guard lock(Mutex);
    Release();
}

void TLogDetail::PlanStarted()
{
    const std::lock_guard lock(Mutex);
    Release();
    // A plan whose every start was refused said nothing of the connection:
    // the one before it still stands for what the port has shown.
    if (!KnownNow.empty())
        KnownBefore = std::move(KnownNow);
    KnownNow.clear();
    Opening.clear();
}

void TLogDetail::StageStarted()
{
    const std::lock_guard lock(Mutex);
    Release(true);
    // Only an accepted start counts as said: a refused one is tried again by
    // the next unit, and its lines are worth reading again.
    KnownNow.insert(Opening.begin(), Opening.end());
    Opening.clear();
    Running = true;
}

void TLogDetail::StageEnded(const TStageOutcome& outcome)
{
    const std::lock_guard lock(Mutex);
    // A refused start ends with its reason, which is shown however often it
    // came before.
    Release(Running && outcome.Blocks != TBlockChoice::All && outcome.Succeeded());
    Running = false;
    Opening.clear();
}

void TLogDetail::Finished(const std::string& resultLine)
{
    const std::lock_guard lock(Mutex);
    const bool repeated = Held && resultLine.size() > Held->Text.size() && resultLine.starts_with(Held->Text);
    Release(repeated ? std::optional<bool>(true) : std::nullopt);
}

} // namespace lindprog::cli
