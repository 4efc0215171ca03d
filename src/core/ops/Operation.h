#pragma once
// Everything the core knows of each operation, in one table: the name the
// command line and job files give it, the stage name the log and progress
// show, the words of its result line, the region flags it needs, and the
// question asked before it runs. Adding an operation means adding a row here,
// not editing switches in every front end.

#include "core/link/AdapterCommands.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lindprog {

struct TOperationInfo {
    TOperation Operation;
    const char* Command;      // "read", "blank-check": how scripts and job files name it
    const char* StageName;    // "Reading": the log's "... device..." line and the progress caption
    const char* FailedName;   // "Read" in "Read failed at offset %X (%s)", "Erase" in "Erase failed (%s)"
    const char* DoneText;     // "Verification OK" (block operations add the count and speed)
    const char* CountVerb;    // "compared" in "... 512 bytes compared"; empty for Read, Erase, Unlock
    std::uint32_t NeedsFlags; // region flags that must all be set for it to run
    const char* Confirmation; // asked before anything is sent; nullptr when none
    bool Blocks;              // walks the region block by block (Erase and Unlock repeat one step)
};

// The row of an operation; Program included, whose stages are the others.
const TOperationInfo& OperationInfo(TOperation operation);
// Every operation, Read to Program, in the order of their codes.
const std::vector<TOperation>& AllOperations();
// The operation a script names ("read", "blank-check", ...); none for others.
std::optional<TOperation> OperationNamed(std::string_view command);
// The names of the operations a region with these flags allows, in code order.
std::vector<std::string> AllowedCommands(std::uint32_t regionFlags);
// Write and program erase the region before they write, so a writable region
// the adapter cannot erase is refused before anything is sent, by a message
// that says why rather than by the adapter's status; "" when that is not the
// case.
std::string EraseRefusal(TOperation operation, const std::string& regionName, std::uint32_t regionFlags);

// Which commands may run, from whether the port is open and the region flags.
struct TActionState {
    bool FirmwareUpdate = false;
    bool Detect = false;
    std::uint32_t RegionFlags = 0; // 0 while the port is closed

    static TActionState From(bool portOpen, std::uint32_t regionFlags);
    bool Allows(TOperation operation) const;
    bool operator==(const TActionState&) const = default;
};

} // namespace lindprog
