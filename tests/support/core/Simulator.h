#ifndef DVK_TEST_SIMULATOR_H
#define DVK_TEST_SIMULATOR_H

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <csignal>

// Runs `dvkctl simulate` with the given options and collects its JSON lines.
// The device path is known once start() has returned true.
class SimulatorProcess
{
public:
    SimulatorProcess() = default;
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;

    // Starts the simulator and waits for its device path. Unless `listed`,
    // it registers in a runtime directory of its own, so that windows in the
    // test do not see it in their port list (and refill it under the test).
    bool start(const QStringList &options = QStringList(), int timeoutMs = 5000,
               bool listed = false);
    QString path() const { return devicePath; }

    // Every JSON line seen so far (reads what has arrived without waiting).
    QList<QJsonObject> events();
    // Those whose "event" is `name`.
    QList<QJsonObject> events(const QString &name);
    // Waits, running the event loop, until `count` events named `name` have
    // arrived; false on time-out.
    bool waitForEvents(const QString &name, int count, int timeoutMs = 10000);

    // Sends `signal` and waits for the end; the simulator's exit code, or -1.
    int stop(int timeoutMs = 5000, int signal = SIGTERM);
    // Kills it outright (SIGKILL), as a crash would end it, and waits.
    void kill();
    qint64 processId() const { return process.processId(); }
    bool isRunning() const { return process.state() != QProcess::NotRunning; }
    QByteArray standardError() { return errors += process.readAllStandardError(); }

private:
    void collect();

    QProcess process;
    QString devicePath;
    QByteArray partial;
    QByteArray errors;
    QList<QJsonObject> seen;
};

// The bytes the simulator recorded (--record): those of the file `path`, or
// of the newest recording when `path` is its directory.
QByteArray recordedBytes(const QString &path);

// The data bytes that value lines ("0xHH") go out as.
QByteArray dataBytes(const QStringList &lines);

#endif
