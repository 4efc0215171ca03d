#pragma once
// The hex view's undo and redo: each edit of the shown bytes as a step that
// knows the bytes before and after and the view's Modified flag before and
// after. The change marks need nothing more: a byte is marked when it differs
// from the reference copy, and the history is emptied whenever that reference
// changes (new data, Clear, Update changes, Revert changes), so putting the
// old bytes back always brings back the old marks.
//
// Typing is one step per run, not per nibble: a typed byte that lands on the
// byte typed last (the low digit after the high one) or on the byte after it
// joins that step, until Seal() ends the run (the cursor keys, a click, a
// command). Undo after typing "DEADBEEF01" takes back all five bytes at once.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lindprog {

struct TEdit {
    std::uint32_t Offset = 0;
    std::vector<std::uint8_t> Before; // the bytes at Offset.. before the edit
    std::vector<std::uint8_t> After;  // the same bytes after it, as many
    bool ModifiedBefore = false;
    bool ModifiedAfter = true;
    bool Typing = false; // a typed byte: may join the run of typing before it

    std::uint32_t End() const { return Offset + static_cast<std::uint32_t>(After.size()); }
};

class TEditHistory {
public:
    static constexpr std::size_t DefaultMaxSteps = 1000;

    // At most `maxSteps` steps are kept; the oldest go first.
    explicit TEditHistory(std::size_t maxSteps = DefaultMaxSteps) : MaxSteps(maxSteps < 1 ? 1 : maxSteps) {}

    // A new step, or the continuation of the open typing run. The steps that
    // were undone are gone: they no longer follow from the bytes.
    void Record(TEdit edit);
    // Ends the open typing run: the next typed byte starts a new step.
    void Seal() { RunOpen = false; }
    void Clear();

    // The step to take back (write its Before, set ModifiedBefore), or null.
    const TEdit* Undo();
    // The step to do again (write its After, set ModifiedAfter), or null.
    const TEdit* Redo();

    bool CanUndo() const { return Position > 0; }
    bool CanRedo() const { return Position < Steps.size(); }
    std::size_t StepCount() const { return Steps.size(); }

private:
    bool Joins(const TEdit& edit) const;

    std::vector<TEdit> Steps;
    std::size_t Position = 0; // steps before it are done, from it on undone
    std::size_t MaxSteps;
    bool RunOpen = false;
};

} // namespace lindprog
