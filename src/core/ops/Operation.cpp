#include "core/ops/Operation.h"

#include "core/base/AdapterText.h"
#include "core/link/PortStatus.h"
#include "core/ops/Catalogue.h"
#include "core/ops/ExitCode.h"

#include <array>

namespace lindprog {

namespace {

using namespace RegionFlag;

// Verify and Blank check need only the read flag: the adapter reads to
// compare. Write needs only the write flag, though its plan erases first:
// that is how the adapter's regions have always been offered.
const std::array<TOperationInfo, 7> Table{{
    {TOperation::Read, "read", "Reading", "Read", "Successfully read", "", Read, nullptr, true},
    {TOperation::Write, "write", "Writing", "Write", "Programming OK", "written", Write, "Write device?", true},
    {TOperation::Verify, "verify", "Verifying", "Verify", "Verification OK", "compared", Read, nullptr, true},
    {TOperation::Erase, "erase", "Erasing", "Erase", "Erase OK", "", Erase, "Erase device?", false},
    {TOperation::BlankCheck, "blank-check", "Blank-checking", "Blank check", "Blank check OK", "checked", Read, nullptr,
     true},
    {TOperation::Unlock, "unlock", "Unlocking", "Unlocking", "Unlocking OK", "", Unlock,
     "Unlocking will erase whole device. Continue?", false},
    {TOperation::Program, "program", "Programming", "Programming", "Programming successfull", "", Read | Write | Erase,
     "Program (erase, blank-check, write and verify) device?", false},
}};

} // namespace

const TOperationInfo& OperationInfo(TOperation operation)
{
    return Table[static_cast<std::size_t>(operation)];
}

const std::vector<TOperation>& AllOperations()
{
    static const std::vector<TOperation> all = [] {
        std::vector<TOperation> operations;
        for (const auto& row : Table)
            operations.push_back(row.Operation);
        return operations;
    }();
    return all;
}

std::optional<TOperation> OperationNamed(std::string_view command)
{
    for (const auto& row : Table)
        if (command == row.Command)
            return row.Operation;
    return std::nullopt;
}

std::vector<std::string> AllowedCommands(std::uint32_t regionFlags)
{
    const TActionState actions = TActionState::From(true, regionFlags);
    std::vector<std::string> names;
    for (const auto& row : Table)
        if (actions.Allows(row.Operation))
            names.emplace_back(row.Command);
    return names;
}

TActionState TActionState::From(bool portOpen, std::uint32_t regionFlags)
{
    TActionState state;
    state.FirmwareUpdate = portOpen;
    state.Detect = portOpen;
    state.RegionFlags = portOpen ? regionFlags : 0;
    return state;
}

bool TActionState::Allows(TOperation operation) const
{
    const std::uint32_t needs = OperationInfo(operation).NeedsFlags;
    return (RegionFlags & needs) == needs;
}

std::string EraseRefusal(TOperation operation, const std::string& regionName, std::uint32_t regionFlags)
{
    // A region that cannot be written at all is refused as for any other
    // operation it does not allow.
    const bool writes = operation == TOperation::Write || operation == TOperation::Program;
    if (!writes || (regionFlags & Write) == 0 || (regionFlags & Erase) != 0)
        return {};
    return std::string(OperationInfo(operation).Command) + " erases first; region '" +
           ShowControlCharacters(regionName) + "' cannot be erased";
}

int ExitCodeForStatus(std::uint8_t status)
{
    switch (status) {
    case PortStatus::CompareError:
    case PortStatus::DeviceNotBlank: return ExitCode::Mismatch;
    case PortStatus::PortNotOpen:
    case PortStatus::PortWriteError:
    case PortStatus::NoAnswer: return ExitCode::NoAdapter;
    default: return ExitCode::Failed;
    }
}

} // namespace lindprog
