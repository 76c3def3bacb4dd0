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

int stopped(const QString &when)
{
    err("dvkctl burn: stopped " + when);
    return stopExitCode();
}

} // namespace

int cmdBurn(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption port("port", "The projector's serial port (path or name).", "PORT");
    const QCommandLineOption noWait("no-wait", "Return after the commit command, without waiting "
                                               "out the commit time.");
    const QCommandLineOption skipQuery("skip-query",
                                       "Burn without first asking the projector for its scan "
                                       "value (for rigs that do not answer).");
    parser.addOption(port);
    parser.addOption(noWait);
    parser.addOption(skipQuery);
    parser.addPositionalArgument("FILE", "The pattern file to burn.");
    const int rc = parse(parser, args,
                         "Checks a pattern file, asks the projector for its scan value as the "
                         "window does, streams the file with the burn protocol, then waits out "
                         "the commit time (10 ms per value).");
    if (rc >= 0)
        return rc;
    QString file;
    if (!oneFile(parser, "dvkctl burn", &file))
        return ExitUsage;
    if (!parser.isSet(port)) {
        err("dvkctl burn: --port PORT is required");
        return ExitUsage;
    }
    QString device;
    const int portRc = portOption("dvkctl burn", parser.value(port), &device);
    if (portRc >= 0)
        return portRc;

    BurnFileCheck check = checkBurnFile(file);
    if (check.status == BurnFileStatus::CannotOpen) {
        err(QString("dvkctl burn: cannot read '%1': %2").arg(file, check.scan.error));
        return ExitUsage;
    }
    if (!check.burnable()) {
        err(QString("dvkctl burn: '%1' cannot be burned: %2").arg(file, check.reason));
        return ExitFailed;
    }

    // From here on a signal stops the burn and the port is released.
    catchStopSignals();
    mySerial serial;
    if (serial.openPort(true, device) != 0) {
        if (stopSignal() != 0)
            return stopped("before anything was sent");
        err(QString("dvkctl burn: cannot open port '%1': %2")
                .arg(device, openFailureReason(serial.lastOpenFailure())));
        return ExitFailed;
    }

    // Like the window, burn only what a projector that answered will get.
    if (!parser.isSet(skipQuery)) {
        const QueryResult answer = askForScanValue(serial, device, false);
        if (stopSignal() != 0) {
            serial.openPort(false, 0);
            return stopped("before the transfer began");
        }
        if (!answer.ok) {
            serial.openPort(false, 0);
            err(QString("dvkctl burn: %1; nothing was burned (--skip-query burns without asking)")
                    .arg(answer.error));
            return ExitFailed;
        }
        err(QString("dvkctl burn: the projector on %1 answered, scan value %2")
                .arg(device)
                .arg(answer.scanValue));
    }

    const int count = int(check.values.size());
    ProgressLine progress(stderrIsTerminal());
    // Set on the worker's thread, read after it has ended.
    std::atomic<int> failure{0};
    std::atomic<bool> complete{false};
    {
        BurnRecordThread worker(&serial, std::move(check.values), file);
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
        return stopped(complete ? "after the commit command was sent"
                                : "during the transfer; no commit command was sent");
    if (!complete) {
        err(failure == StatusWriteFailed
                ? QString("dvkctl burn: write to '%1' failed; the transfer stopped and no commit "
                          "command was sent")
                      .arg(device)
                : QString("dvkctl burn: the transfer did not complete"));
        return ExitFailed;
    }
    err(QString("dvkctl burn: %1 values in %2 blocks sent, commit command sent")
            .arg(count)
            .arg(burnprotocol::blockCount(count)));
    if (parser.isSet(noWait))
        return ExitOk;

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
        return stopped("during the commit time; the projector may not have finished committing");
    err("dvkctl burn: burn complete");
    return ExitOk;
}

} // namespace cli
