#pragma once
// The operator's view of an open job, in place of the hex view: the job's
// plan, the station and its ports, one column per port with its verdict
// panel, the counters of every port together, and the last 50 units of the
// unit database. Start runs the core's unit loop on each port, on a worker
// of its own; Stop ends each loop between units.
//
// It has to read well in the window's first size, beside the log: the plan
// keeps three lines and scrolls, the units table five rows, and the columns
// take most of what is left, their verdict panels the most of it. Its
// minimum follows what its wrapped lines need at the width it has, and the
// window keeps to that minimum.

#include "core/base/Prompts.h"
#include "core/production/Job.h"
#include "core/production/JobImages.h"
#include "core/production/UnitDatabase.h"
#include "core/production/UnitLoop.h"

#include <QWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QShortcut;
class QTableWidget;

namespace lindprog {

class TPortNames;
class TStationColumn;
class TUiDispatcher;
struct TSettings;

// What the view takes from the window.
struct TProductionHost {
    TUiDispatcher& Dispatcher;
    TPortNames& PortNames;
    const TSettings& Settings;
    TPrompts& Prompts;
    std::function<void(const std::string&)> Log;
    int DefaultPort = 1; // the window's: the one column a new view offers
};

struct TPortRequest {
    std::string Name; // "COM2"
    int Number = 0;
};

// "COM1, COM2" (or spaces between, any case) as ports, in order; throws
// std::invalid_argument naming what is not a port, or a port given twice.
std::vector<TPortRequest> ParsePortList(const std::string& text);

class TProductionView final : public QWidget {
    Q_OBJECT
public:
    TProductionView(TJob job, TJobImages images, TProductionHost host, QWidget* parent);
    ~TProductionView() override;

    const TJob& Job() const { return JobFile; }
    // Starts a loop on every port; false (with the reason shown) when a
    // port or the database cannot be had.
    bool Start();
    // Ends each loop once its unit under way, if any, has its verdict.
    void Stop();
    // The operator's trigger: one unit on each port that waits for one.
    void Next();
    bool Running() const;
    // The unit database's records as CSV, or as JSON Lines for a ".jsonl"
    // or ".json" path. Throws std::runtime_error when it cannot be written.
    void ExportUnits(const QString& path);
    void cmExportClick();

    const std::vector<TStationColumn*>& Columns() const { return StationColumns; }
    // "Passed 5   Failed 1   Yield 83.3%   212.4 units/h" over every port.
    QString CountersText() const;

    // Called with true before the ports are opened and with false once
    // every loop has ended: the window gives its port up meanwhile.
    std::function<void(bool running)> OnRunningChanged;

    QLineEdit* edStation;
    QLineEdit* edPorts;
    QComboBox* cbTrigger;
    QPushButton* btnStart;
    QPushButton* btnStop;
    QPushButton* btnExport;
    QPlainTextEdit* mPlan;
    QLabel* mCounters;
    QTableWidget* tbUnits;

private:
    void RemoveColumns();
    void ColumnEnded();
    void ShowUnits();
    void ShowCounters();
    // The job's plan, broken only at spaces where it wraps.
    void ShowPlan(const std::string& plan);
    void EnableControls(bool running);
    // Opens (and creates) the database; false, with the error shown, when it cannot.
    bool OpenDatabase(bool create);
    std::string DatabasePath() const;

    const TJob JobFile;
    const TJobImages Images;
    TProductionHost Host;
    std::unique_ptr<TUnitDatabase> Database;
    std::atomic<int> UnitNumbers{0};
    QWidget* pColumns;
    QHBoxLayout* ColumnLayout;
    std::vector<TStationColumn*> StationColumns;
    std::vector<QShortcut*> NextKeys;
    std::chrono::steady_clock::time_point Started;
    bool Active = false;
};

} // namespace lindprog
