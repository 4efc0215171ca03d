#pragma once
// One port's column of the production view: the port and its adapter, the
// large verdict panel (WAITING FOR BOARD, RUNNING with the step and percent,
// PASS in green, FAIL in red with the failed step), the serial number of the
// unit under way and of the last one, and the port's counters. The loop
// itself runs on the column's worker.
//
// The verdict panel takes the height the column is given and its text
// grows or shrinks to fill it; the lines around it keep the height their
// text needs at the column's width, so nothing is drawn over anything else.

#include "gui/production/StationWorker.h"

#include <QFrame>

#include <functional>
#include <memory>
#include <vector>

class QLabel;

namespace lindprog {

class TVerdictLabel;

// "Passed 5   Failed 1   Yield 83.3%   212.4 units/h", with the yield and the
// rate as "-" until they say something: a rate needs two units.
QString CountersLine(std::int64_t passed, std::int64_t failed, double unitsPerHour);

class TStationColumn final : public QFrame, private TStationView {
    Q_OBJECT
public:
    TStationColumn(TUiDispatcher& ui, TStationSetup setup, QWidget* parent);
    ~TStationColumn() override;

    void Start() { Worker->Start(); }
    void Stop() { Worker->Stop(); }
    void Next() { Worker->Next(); }
    bool Running() const { return Worker->Running(); }
    const QString& PortName() const { return Port; }

    // What the panel shows now: "PASS", "FAIL", "RUNNING", "WAITING FOR
    // BOARD", "STOPPED" or "NOT RUNNING".
    QString Verdict() const;
    QString Detail() const;
    // The serial number of every unit the panel gave a verdict for, in order.
    const std::vector<std::uint64_t>& ShownSerials() const { return Serials; }
    std::int64_t Passed() const { return PassedUnits; }
    std::int64_t Failed() const { return FailedUnits; }

    // A line for the window's log, with the port before it.
    std::function<void(const std::string&)> OnLog;
    // A unit's row went into the database.
    std::function<void()> OnUnit;
    // The loop ended.
    std::function<void()> OnEnded;
    // The job's plan as resolved against this column's adapter.
    std::function<void(const std::string&)> OnPlan;

private:
    enum class TPanel { Idle, Waiting, Running, Pass, Fail, Stopped };
    void ShowPanel(TPanel panel, const QString& text, const QString& detail);

    void StationLog(const std::string& line) override;
    void StationAdapter(const std::string& identity, const std::string& plan) override;
    void StationWaiting(bool forRemoval) override;
    void StationRunning(std::optional<std::uint64_t> serial) override;
    void StationProgress(const std::string& step, int percent) override;
    void StationVerdict(const TUnitOutcome& outcome, int unit, const TLoopCounters& counters) override;
    void StationEnded(const std::string& reason) override;

    const QString Port;
    const bool ScanTrigger;
    TPanel Shown = TPanel::Idle;
    QLabel* mAdapter; // the port in bold, then the adapter once it answered
    TVerdictLabel* mVerdict;
    QLabel* mDetail;
    QLabel* mSerial;
    QLabel* mCounters;
    QString UnderWay; // the serial of the unit under way, as shown
    QString LastSerial;
    std::vector<std::uint64_t> Serials;
    std::int64_t PassedUnits = 0;
    std::int64_t FailedUnits = 0;
    std::unique_ptr<TStationWorker> Worker;
};

} // namespace lindprog
