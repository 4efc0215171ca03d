#include "core/buffer/EditHistory.h"

#include <utility>

namespace lindprog {

bool TEditHistory::Joins(const TEdit& edit) const
{
    if (!RunOpen || !edit.Typing || Position == 0 || Position != Steps.size() || edit.After.size() != 1)
        return false;
    const TEdit& last = Steps.back();
    return last.Typing && (edit.Offset + 1 == last.End() || edit.Offset == last.End());
}

void TEditHistory::Record(TEdit edit)
{
    if (Joins(edit)) {
        TEdit& last = Steps.back();
        if (edit.Offset == last.End()) {
            last.Before.push_back(edit.Before.front());
            last.After.push_back(edit.After.front());
        } else {
            last.After.back() = edit.After.front();
        }
        last.ModifiedAfter = edit.ModifiedAfter;
        return;
    }
    Steps.resize(Position);
    RunOpen = edit.Typing;
    Steps.push_back(std::move(edit));
    if (Steps.size() > MaxSteps)
        Steps.erase(Steps.begin());
    Position = Steps.size();
}

void TEditHistory::Clear()
{
    Steps.clear();
    Position = 0;
    RunOpen = false;
}

const TEdit* TEditHistory::Undo()
{
    RunOpen = false;
    if (!CanUndo())
        return nullptr;
    return &Steps[--Position];
}

const TEdit* TEditHistory::Redo()
{
    RunOpen = false;
    if (!CanRedo())
        return nullptr;
    return &Steps[Position++];
}

} // namespace lindprog
