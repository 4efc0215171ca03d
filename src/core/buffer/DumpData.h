#pragma once
// The hex view's change tracking: the bytes it shows (its owner's buffer,
// not owned), the reference copy it owns, and the state of "Fill selected...".
// A byte is changed when its value differs from the reference copy: a
// comparison of values, not a record of edits.
//
// Every call that changes bytes or the reference changes what the view shows;
// the frame repaints after SetData, Clear, UpdateChanges, RevertChanges and after
// SetByte, FillSelected, Undo or Redo when they return true (non-null).
//
// Typed bytes and "Fill selected..." are recorded in the edit history
// (EditHistory.h) and can be undone and redone. Everything that replaces the
// reference copy (SetData, Clear, UpdateChanges, RevertChanges, and so a file
// load or save, a read, Fill and Swap bytes) empties the history instead: the
// old steps would no longer bring back the marks they came with. TDumpEditor (DumpEditor.h)
// owns one TDumpData and is the frame's way in; other commands (file load and
// save, device operations) reach it through the frame.

#include "core/buffer/EditHistory.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lindprog {

// The fill dialog's text read as a hexadecimal number without prefix, sign or
// spaces, at most 8 significant digits; anything else gives 255. The low 8 bits
// are the fill value: "1FF" gives 0xFF, "100" gives 0x00.
std::uint8_t ParseFillValue(std::string_view text);

class TDumpData {
public:
    // Shows `block` (the view does not own it) with a new reference copy of the
    // same size, then clears it to 0x00 and accepts that. Returns HasData().
    // Strong guarantee: if the reference copy cannot be allocated the view keeps
    // what it had.
    bool SetData(std::span<std::uint8_t> block);
    // All bytes to 0x00, then UpdateChanges.
    void Clear();
    // The current contents become the reference; Modified := false.
    void UpdateChanges();
    // The reference is copied back; Modified := false.
    void RevertChanges();

    // Stores one typed byte; false (and nothing changes) when index is outside
    // the data. Sets Modified. Joins the open typing run of the history.
    bool SetByte(std::int64_t index, std::uint8_t value);
    // "Fill selected..." after OK: FillValue := ParseFillValue(text), then bytes
    // selStart..selEnd (both included, clipped to the data) take it. Returns
    // true when a byte was written; Modified is set only then.
    bool FillSelected(std::int64_t selStart, std::int64_t selEnd, std::string_view text);
    // Take back the last step, or do the last undone one again: its bytes and
    // the Modified flag it found or left. The step, or null when there is none.
    const TEdit* Undo();
    const TEdit* Redo();
    bool CanUndo() const { return History.CanUndo(); }
    bool CanRedo() const { return History.CanRedo(); }
    // The next typed byte starts a new step.
    void SealEdits() { History.Seal(); }

    // What the fill dialog's edit shows: FillValue as two upper-case hex digits.
    std::string FillValueText() const;

    bool IsChanged(std::int64_t index) const;
    bool Contains(std::int64_t index) const { return index >= 0 && static_cast<std::uint64_t>(index) < Data.size(); }
    std::uint8_t Byte(std::int64_t index) const { return Data[static_cast<std::size_t>(index)]; }

    std::span<std::uint8_t> Bytes() const { return Data; }
    std::size_t DataSize() const { return Data.size(); }
    bool HasData() const { return !Data.empty(); }
    bool Modified() const { return IsModified; }
    std::uint8_t FillValue() const { return LastFillValue; }

private:
    void Put(std::uint32_t offset, std::span<const std::uint8_t> bytes, bool modified);

    std::span<std::uint8_t> Data;
    std::vector<std::uint8_t> RefData;
    TEditHistory History;
    std::uint8_t LastFillValue = 0xFF;
    bool IsModified = false;
};

} // namespace lindprog
