#pragma once
// The simulated adapter behind Options > Port... "Simulated adapter (demo)":
// lindprog-sim, where it is installed beside the program (or, in a build
// tree, in the build's sim folder), run as the window's child process with
// the demo scenario on a pseudo-terminal at the real line's pace, so a
// newcomer can try every command without hardware. The scenario travels
// inside the program; the simulator needs nothing else.

#include <QObject>
#include <QString>

#include <memory>

class QProcess;
class QTemporaryDir;

namespace lindprog {

class TDemoAdapter final : public QObject {
    Q_OBJECT
public:
    explicit TDemoAdapter(QObject* parent);
    ~TDemoAdapter() override;

    // The installed simulator; empty when there is none.
    static QString SimulatorPath();

    // Starts the simulator, ending one that runs already, and returns the
    // path of its link once it serves; empty on failure, with the reason in
    // error.
    QString Start(QString& error);
    // Ends the simulator, which removes its link.
    void Stop();
    bool Running() const;

private:
    std::unique_ptr<QProcess> Process;
    std::unique_ptr<QTemporaryDir> Folder;
};

} // namespace lindprog
