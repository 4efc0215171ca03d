// Device > Backup device... and File > Restore backup...: the core's backup
// and restore on the window's session, run on the worker under the progress
// dialog, whose bars run across the regions.

#include "core/base/AdapterText.h"
#include "core/production/Backup.h"
#include "gui/main/Main.h"

#include <QFileDialog>

#include <algorithm>
#include <filesystem>
#include <optional>

namespace lindprog {

void TMainForm::BackupDevice(const QString& folder)
{
    if (Worker->Busy())
        return;
    const QString chosen =
        folder.isEmpty() ? QFileDialog::getExistingDirectory(this, "Backup device into an empty folder") : folder;
    if (chosen.isEmpty())
        return;
    const int device = std::max(Connection().SelectedDevice(), 0);
    const TBackupRequest request{TEntryChoice{{}, static_cast<std::size_t>(device)}, chosen.toStdString()};
    std::optional<TBackupInfo> backup;
    std::string failure;
    // The regions are read beside the buffer, which stays as it is.
    WorkIntoBuffer = false;
    RunUnderDialog([&](const TRunPacing& pacing) {
        try {
            backup = BackUpDevice(*Session, request, pacing);
        } catch (const TBackupError& error) {
            failure = error.what();
        }
    });
    if (!backup) {
        if (!failure.empty())
            ActivePrompts->ShowError("Backup failed: " + failure);
        return;
    }
    std::size_t incomplete = 0;
    for (const TBackupRegion& region : backup->Regions)
        incomplete += region.FailedReads.empty() ? 0 : 1;
    const std::string where = (std::filesystem::path(request.Folder) / ManifestName).string();
    AddLogLine("Backup of " + ShowControlCharacters(backup->Device) + ": " + std::to_string(backup->Regions.size()) +
               " regions, manifest " + where);
    if (incomplete > 0)
        ActivePrompts->ShowError(std::to_string(incomplete) +
                                 " regions could not be read fully; a restore leaves them out");
}

void TMainForm::RestoreBackup(const QString& manifestPath)
{
    if (Worker->Busy())
        return;
    const QString chosen = manifestPath.isEmpty()
                               ? QFileDialog::getOpenFileName(this, "Restore backup", QString(),
                                                              "Backup manifest (manifest.toml);;All files (*)")
                               : manifestPath;
    if (chosen.isEmpty())
        return;
    // The manifest and every file are checked before the adapter is asked.
    std::optional<TJob> manifest;
    TJobImages images;
    try {
        manifest = LoadJob(chosen.toStdString());
        if (!manifest->Backup)
            throw TBackupError(manifest->Path + " is no backup's manifest (it has no [backup] table)", 0);
        CheckBackupFiles(*manifest->Backup);
        images = ReadJobImages(*manifest);
    } catch (const std::runtime_error& error) { // TJobError, TBackupError
        ActivePrompts->ShowError(error.what());
        return;
    }
    for (const std::string& line : UnrestoredRegions(*manifest->Backup))
        AddLogLine(line);
    if (!ActivePrompts->AskConfirm("Restore " + ShowControlCharacters(manifest->Backup->Device) + " from " +
                                   manifest->Path + "? Regions that differ from the backup are erased and programmed."))
        return;
    std::optional<TUnitOutcome> outcome;
    std::string failure;
    // The steps' lines go to the log, as a production column writes them.
    TStepReportLog steps(*Worker);
    WorkIntoBuffer = false;
    RunUnderDialog([&](const TRunPacing& pacing) {
        try {
            outcome = RestoreDevice(*Session, *manifest, images, pacing, steps, "");
        } catch (const TBackupError& error) {
            failure = error.what();
        }
    });
    if (!outcome) {
        if (!failure.empty())
            ActivePrompts->ShowError("Restore failed: " + failure);
        return;
    }
    if (outcome->Passed)
        ActivePrompts->ShowInfo("Restored " + ShowControlCharacters(manifest->Backup->Device) + " from " +
                                manifest->Path);
    else
        ActivePrompts->ShowError("Restore failed: " + outcome->Record.FailedStep + ": " + outcome->Record.Message);
}

} // namespace lindprog
