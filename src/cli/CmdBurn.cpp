// dvkctl burn: check a pattern file, ask the projector, stream the file to it,
// then wait out the commit time — the window's burn, on the same worker code.
#include "Cli.h"
#include "Stop.h"

#include "burn/BurnProtocol.h"
#include "burn/BurnRecordThread.h"
#include "burn/Solidification.h"
#include "burnfile/BurnFile.h"
#include "serial/OpenFailureText.h"
#include "serial/mySerial.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <atomic>

namespace cli
{

namespace
{
int run(const Call &call);
} // namespace

const Command burnCommand{
    "burn",
    "burn a pattern file into the projector",
    "Checks a pattern file, asks the projector for its scan value as the window does, streams "
    "the file with the burn protocol, then waits out the commit time (10 ms per value).",
    {portOptionDeclaration(),
     {"no-wait", "Return after the commit command, without waiting out the commit time."},
     {"skip-query", "Burn without first asking the projector for its scan value (for rigs that "
                    "do not answer)."}},
    {{"FILE", "The pattern file to burn.", {}}},
    {},
    run};

namespace
{

// Runs a worker on its own thread until it reports `finished`.
template <typename Worker, typename Slot> void runOnThread(Worker *worker, Slot work)
{
    QThread thread;
    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::started, worker, work);
    QObject::connect(worker, &Worker::finished, &thread, &QThread::quit);
    QEventLoop loop;
    QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread.start();
    loop.exec();
    thread.wait();
    // Read after the wait: hands the worker's memory back to this thread in
    // a way ThreadSanitizer sees (QThread::wait synchronises inside Qt).
    worker->hasEnded();
}

class ProgressLine
{
public:
    explicit ProgressLine(bool enabled) : enabled(enabled) {}
    ~ProgressLine() { end(); }
    void show(const QString &text)
    {
        if (!enabled)
            return;
        std::fprintf(stderr, "\r%s\x1b[K", qPrintable(text));
        std::fflush(stderr);
        shown = true;
    }
    void end()
    {
        if (shown)
            std::fputs("\n", stderr);
        shown = false;
    }

private:
    bool enabled;
    bool shown = false;
};

int stopped(const Call &call, const QString &when)
{
    err(call.tag + ": stopped " + when);
    return stopExitCode();
}

// The checked values of FILE; returns -1 to go on, or the exit code.
int checkedValues(const Call &call, const QString &file, std::vector<quint8> *values)
{
    BurnFileCheck check = checkBurnFile(file);
    if (check.status == BurnFileStatus::CannotOpen) {
        err(QString("%1: cannot read '%2': %3").arg(call.tag, file, check.scan.error));
        return ExitUsage;
    }
    if (!check.burnable()) {
        err(QString("%1: '%2' cannot be burned: %3").arg(call.tag, file, check.reason));
        return ExitFailed;
    }
    *values = std::move(check.values);
    return -1;
}

// Like the window, burn only what a projector that answered will get. On
// failure the port is closed; returns -1 to go on, or the exit code.
int projectorAnswered(const Call &call, mySerial &serial, const QString &device)
{
    const QueryResult answer = askForScanValue(serial, device, false);
    if (stopSignal() != 0) {
        serial.openPort(false, 0);
        return stopped(call, "before the transfer began");
    }
    if (!answer.ok) {
        serial.openPort(false, 0);
        err(QString("%1: %2; nothing was burned (--skip-query burns without asking)")
                .arg(call.tag, answer.error));
        return ExitFailed;
    }
    err(QString("%1: the projector on %2 answered, scan value %3")
            .arg(call.tag, device)
            .arg(answer.scanValue));
    return -1;
}

// Streams the values with the burn protocol on the worker, the window's
// burn thread; closes the port. Returns -1 when the commit command went out,
// or the exit code.
int transfer(const Call &call, mySerial &serial, const QString &device, std::vector<quint8> values,
             const QString &file, ProgressLine &progress)
{
    const int count = int(values.size());
    // Set on the worker's thread, read after it has ended.
    std::atomic<int> failure{0};
    std::atomic<bool> complete{false};
    {
        BurnRecordThread worker(&serial, std::move(values), file);
        // A signal ends the transfer before its next byte; shutting the port
        // down wakes a write that waits on the line.
        StopGuard guard([&] {
            worker.cancel();
            serial.shutDown();
        });
        QObject::connect(&worker, &BurnRecordThread::ErrorMessage, [&](int code) {
            if (code >= 0) {
                // Redrawing every value would cost more than sending it.
                if (code == count || code % 64 == 0)
                    progress.show(QString("burn: %1 / %2 values").arg(code).arg(count));
            } else if (code == StatusTransferComplete) {
                complete = true;
            } else {
                failure = code;
            }
        });
        runOnThread(&worker, &BurnRecordThread::BurnRecord);
    }
    serial.openPort(false, 0);
    progress.end();
    if (stopSignal() != 0)
        return stopped(call, complete ? "after the commit command was sent"
                                      : "during the transfer; no commit command was sent");
    if (!complete) {
        err(failure == StatusWriteFailed
                ? QString("%1: write to '%2' failed; the transfer stopped and no commit "
                          "command was sent")
                      .arg(call.tag, device)
                : QString("%1: the transfer did not complete").arg(call.tag));
        return ExitFailed;
    }
    err(QString("%1: %2 values in %3 blocks sent, commit command sent")
            .arg(call.tag)
            .arg(count)
            .arg(burnprotocol::blockCount(count)));
    return -1;
}

// Waits out the projector's commit time with a countdown.
int commitTime(const Call &call, int count, ProgressLine &progress)
{
    Solidification countdown(count);
    QObject::connect(&countdown, &Solidification::TimeDisplay, [&](int t) {
        if (t == count || t % 10 == 0)
            progress.show(
                QString("commit: %1 s left")
                    .arg(double(count - t) * Solidification::kStepMs / 1000.0, 0, 'f', 1));
    });
    {
        StopGuard guard([&countdown] { countdown.cancel(); });
        runOnThread(&countdown, &Solidification::TimeOut);
    }
    progress.end();
    if (stopSignal() != 0)
        return stopped(call,
                       "during the commit time; the projector may not have finished committing");
    err(call.tag + ": burn complete");
    return ExitOk;
}

// The burn in the order the window does it: check the file, open the port,
// ask the projector, transfer, wait out the commit time.
int run(const Call &call)
{
    QString file;
    if (!oneFile(call.parser, call.tag, &file))
        return ExitUsage;
    QString device;
    int rc = requiredPort(call, &device);
    if (rc >= 0)
        return rc;
    std::vector<quint8> values;
    if ((rc = checkedValues(call, file, &values)) >= 0)
        return rc;

    // From here on a signal stops the burn and the port is released.
    catchStopSignals();
    mySerial serial;
    if (serial.openPort(true, device) != 0) {
        if (stopSignal() != 0)
            return stopped(call, "before anything was sent");
        err(QString("%1: cannot open port '%2': %3")
                .arg(call.tag, device, openFailureReason(serial.lastOpenFailure())));
        return ExitFailed;
    }
    if (!call.parser.isSet("skip-query") && (rc = projectorAnswered(call, serial, device)) >= 0)
        return rc;

    const int count = int(values.size());
    ProgressLine progress(stderrIsTerminal());
    if ((rc = transfer(call, serial, device, std::move(values), file, progress)) >= 0)
        return rc;
    if (call.parser.isSet("no-wait"))
        return ExitOk;
    return commitTime(call, count, progress);
}

} // namespace

} // namespace cli
