#pragma once
// Which of one port's log lines are detail: shown on the screen with -v
// only, while the log file and JSON keep every line. The core logs each
// stage as the window's log has always shown it: the start request's lines
// (the connection: "Starting operation", the adapter's answer), a heading
// ("Writing device..."), the result, the blocks a stage left out. A Program
// repeats the connection four or five times around four lines that say
// something; the command line tells them apart by where a line stands
// between the stage boundaries the runner reports, not by its words, so the
// core's lines stay exactly as they are.
//
// The rules, per port:
// - a stage's start lines are shown unless an accepted stage of this plan,
//   or of the last plan before it that had one, logged them (the connection
//   once, and whatever a later stage or the next board says differently);
// - the line just before a stage's steps begin is its heading: detail;
// - the last line of a stage that chose its blocks and passed counts the
//   blocks it left out, which the command's result says: detail;
// - a line that the result line repeats and extends ("Programming
//   successfull" before "Programming successfull: 1 blocks written, ..."):
//   detail;
// - every other line is shown.
// A line is decided by what follows it, so each is held until the next
// event; it keeps the time it was logged at. A firmware update's worker
// traces its requests on its own thread, hence the lock.

#include "core/ops/OperationDriver.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lindprog::cli {

class TLogDetail {
public:
    using TClock = std::chrono::system_clock;
    using TEmit = std::function<void(const std::string& text, TClock::time_point when, bool detail)>;

    explicit TLogDetail(TEmit emit);
    ~TLogDetail();
    TLogDetail(const TLogDetail&) = delete;
    TLogDetail& operator=(const TLogDetail&) = delete;

    void Line(const std::string& text);
    // The held line goes out as it is: before a trace line, a progress
    // report, or at the end of a command whose result adds nothing.
    void Flush();
    // A plan (a command's, a unit's) begins.
    void PlanStarted();
    void StageStarted();
    void StageEnded(const TStageOutcome& outcome);
    // The command ends with a result line that is printed after the log.
    void Finished(const std::string& resultLine);

private:
    struct THeld {
        std::string Text;
        TClock::time_point When;
        bool Opening = false; // logged between stages, where start lines come
    };

    void Release(std::optional<bool> detail = std::nullopt);
    bool Known(const std::string& text) const;

    TEmit Emit;
    std::mutex Mutex;
    std::optional<THeld> Held;
    bool Running = false;              // between a stage's start and its end
    std::vector<std::string> Opening;  // lines since the last stage ended
    std::set<std::string> KnownNow;    // start lines of this plan's accepted stages
    std::set<std::string> KnownBefore; // and of the last plan before that had one
};

} // namespace lindprog::cli
