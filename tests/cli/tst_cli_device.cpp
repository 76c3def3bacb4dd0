// dvkctl against what a real port can do: a USB adapter's driver (the driver
// model), a projector that does not answer, a port with nothing attached, an
// answer that never ends, and the user stopping a command.
#include "support/core/DriverModel.h"
#include "support/core/Pty.h"
#include "support/core/Simulator.h"
#include "support/core/TestSupport.h"

#include "burn/BurnProtocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QStringList ramp(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.append(QString("0x%1").arg((i * 37 + 11) % 256, 2, 16, QChar('0')));
    return lines;
}

// Whether the terminal is still in exclusive mode: then every later open by
// an ordinary user fails as busy.
bool exclusive(const QString &device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return true;
    int excl = 0;
    const bool ok = ::ioctl(fd, TIOCGEXCL, &excl) == 0;
    ::close(fd);
    return !ok || excl != 0;
}

} // namespace

class TestCliDevice : public QObject
{
    Q_OBJECT

private slots:
    void burnPacedByTheDriver();
    void burnNeedsAnAnswer();
    void answerEndsAfterAShortQuiet();
    void queryHasAnOverallDeadline();
    void stopSignals();
    void clientEndings_data();
    void clientEndings();
};

// With the driver taking 1 ms per write, a burn costs the pauses plus the
// driver's time per byte, and the stream arrives byte for byte.
void TestCliDevice::burnPacedByTheDriver()
{
    const QString dir = makeTempDir();
    const QString record = makeTempDir();
    SimulatorProcess sim;
    QVERIFY(sim.start({"--record", record}));
    const QStringList lines = ramp(1024);
    const QString file = writeLines(dir + "/page.txt", lines);

    DriverModel model;
    model.latencyUs = 1000;
    RunningProgram burn = startDvkctl({"burn", file, "--port", sim.path(), "--no-wait"},
                                      withEnvironment(model.environment()));
    QCOMPARE(burn.finish().code, 0);
    const qint64 ms = burn.elapsedMs();

    // Pauses + bytes x (latency + line time of a byte); the old wait took
    // more than ten times as long. Four times that, for a busy machine.
    const double bytes = double(burnprotocol::transferLength(1024));
    const double budgetMs =
        burnprotocol::transferPauseTotalMs(1024) + bytes * (1.0 + 10.0 / 115200.0 * 1000.0);
    qInfo("burn of 1024 values with 1 ms driver latency: %lld ms (pauses + bytes x (latency + "
          "line time) = %.0f ms)",
          ms, budgetMs);
    QVERIFY2(ms < 4 * budgetMs, qPrintable(QString::number(ms)));

    QVERIFY(sim.waitForEvents("transfer", 1));
    const QJsonObject t = sim.events("transfer").first();
    QVERIFY(t["committed"].toBool());
    QVERIFY(t["errors"].toArray().isEmpty());
    QCOMPARE(qint64(t["bytes"].toDouble()), burnprotocol::transferLength(1024));
    QByteArray expected;
    for (const QString &l : lines)
        expected.append(char(burnprotocol::dataByte(quint8(l.toInt(nullptr, 16)))));
    QCOMPARE(recordedBytes(record), expected);
}

// No projector, no burn: a silent one and a port with nothing attached get
// the query and nothing else. --skip-query burns anyway.
void TestCliDevice::burnNeedsAnAnswer()
{
    const QString dir = makeTempDir();
    const QString file = writeLines(dir + "/page.txt", ramp(1024));
    SimulatorProcess silent;
    QVERIFY(silent.start({"--silent"}));
    Pty nothing(Pty::NonBlocking);
    QVERIFY(!nothing.path.isEmpty());

    RunningProgram toSilent = startDvkctl({"burn", file, "--port", silent.path(), "--no-wait"});
    RunningProgram toNothing = startDvkctl({"burn", file, "--port", nothing.path, "--no-wait"});
    const RunResult silentRun = toSilent.finish();
    QCOMPARE(silentRun.code, 1);
    QCOMPARE(toNothing.finish().code, 1);
    const QByteArray err = silentRun.err;
    QVERIFY2(err.contains("no answer") && err.contains("nothing was burned"), err.constData());
    QVERIFY(!err.contains("commit"));
    QCOMPARE(nothing.sent(), QByteArray::fromHex("9FFC01"));

    QCOMPARE(runDvkctl({"burn", file, "--port", silent.path(), "--no-wait", "--skip-query"}), 0);
    QVERIFY(silent.waitForEvents("transfer", 1));
    QCOMPARE(silent.events("query").size(), 1);
    QCOMPARE(silent.events("transfer").size(), 1);
    QVERIFY(silent.events("transfer").first()["committed"].toBool());
}

// The answer is over once the line has been quiet briefly: a script does not
// wait out the window's 3 s after it (a burn would pay them every time).
void TestCliDevice::answerEndsAfterAShortQuiet()
{
    Pty pty(Pty::NonBlocking);
    RunningProgram query = startDvkctl({"query", "--port", pty.path});
    QByteArray asked;
    QVERIFY(QTest::qWaitFor(
        [&] {
            asked += pty.sent();
            return asked.size() >= 3;
        },
        30000));
    QCOMPARE(asked, QByteArray::fromHex("9FFC01"));
    QCOMPARE(::write(pty.master, "\x01\xF4", 2), ssize_t(2));
    QElapsedTimer clock;
    clock.start();
    const RunResult answered = query.finish();
    QCOMPARE(answered.code, 0);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(answered.out, QByteArray("500\n"));
}

// An answer that trickles in without end: the read would go on as long as
// bytes keep coming; the query gives up after 10 s.
void TestCliDevice::queryHasAnOverallDeadline()
{
    // A byte every 20 ms: never a quiet spell that would end the answer, and
    // never a byte already queued behind a two-byte read, which would end it
    // too. A machine so loaded that the trickle or the reader stalls ends the
    // answer early, which says nothing about the deadline: then the run is
    // tried again.
    for (int attempt = 1;; ++attempt) {
        Pty pty(Pty::NonBlocking);
        std::atomic<bool> done{false};
        std::thread trickle([&] {
            while (!done.load()) {
                [[maybe_unused]] const ssize_t r = ::write(pty.master, "\x27", 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        RunOptions options;
        options.timeoutMs = 20000;
        RunningProgram query = startDvkctl({"query", "--port", pty.path}, options);
        const RunResult result = query.finish();
        const qint64 ms = query.elapsedMs();
        done.store(true);
        trickle.join();
        if (result.code == 0 && ms < 10000 && attempt < 4) {
            qInfo("the trickle paused (answer taken after %lld ms); again", ms);
            continue;
        }
        QCOMPARE(result.code, 1);
        QVERIFY2(ms >= 10000 && ms < 15000, qPrintable(QString::number(ms)));
        const QByteArray err = result.err;
        QVERIFY2(err.contains("within 10 s"), err.constData());
        QVERIFY(!exclusive(pty.path));
        return;
    }
}

// SIGINT or SIGTERM: the command stops at once, even with a write waiting on
// a stalled line, sends nothing more (never the commit), releases the port
// (not left in exclusive mode) and exits 128 + the signal.
void TestCliDevice::stopSignals()
{
    const QString dir = makeTempDir();
    const QString file = writeLines(dir + "/page.txt", ramp(1024));
    Pty line(Pty::NonBlocking);
    SimulatorProcess silent, counting;
    QVERIFY(silent.start({"--silent"}));
    QVERIFY(counting.start());

    // The burn's 66th byte (its 50th value) stalls.
    DriverModel model;
    model.latencyUs = 100;
    model.stallAt = 16 + 50;
    RunningProgram stalled =
        startDvkctl({"burn", file, "--port", line.path, "--no-wait", "--skip-query"},
                    withEnvironment(model.environment()));
    RunningProgram querying = startDvkctl({"query", "--port", silent.path()});
    RunningProgram countdown = startDvkctl({"burn", file, "--port", counting.path()});
    // Each is where it is to be stopped: the stall reached, the query sent
    // and waiting, the countdown begun. A loaded machine only makes it later.
    QByteArray received;
    QVERIFY(QTest::qWaitFor(
        [&] {
            received += line.sent();
            return received.size() >= 16 + 50;
        },
        30000));
    QVERIFY(silent.waitForEvents("query", 1, 30000));
    QVERIFY(counting.waitForEvents("transfer", 1, 30000));

    QElapsedTimer clock;
    clock.start();
    stalled.signal(SIGINT);
    querying.signal(SIGTERM);
    countdown.signal(SIGINT);
    const RunResult stalledRun = stalled.finish();
    QCOMPARE(stalledRun.code, 130);
    QCOMPARE(querying.finish().code, 143);
    const RunResult countdownRun = countdown.finish();
    QCOMPARE(countdownRun.code, 130);
    // The stalled write would have run on for 5.5 s, the query's read for 3 s
    // and the countdown for 10 s.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(stalledRun.err.contains("no commit command was sent"));
    QVERIFY(countdownRun.err.contains("during the commit time"));

    for (const QString &path : {line.path, silent.path(), counting.path()})
        QVERIFY2(!exclusive(path), qPrintable(path));
    // Nothing went out after the stalled byte.
    received += line.sent();
    QCOMPARE(received.size(), 16 + 50);
}

void TestCliDevice::clientEndings_data()
{
    QTest::addColumn<int>("sig");
    QTest::addColumn<int>("code"); // the client's exit code
    QTest::newRow("closed terminal") << int(SIGHUP) << 129;
    QTest::newRow("quit") << int(SIGQUIT) << 131;
    QTest::newRow("killed") << int(SIGKILL) << -3;
}

namespace
{

// dvkctl with `args` on `device`, as an ordinary user where the test can
// become one: the superuser ignores a terminal's exclusive mode and would
// never see a port left busy.
RunningProgram asOrdinaryUser(const QStringList &args, const QString &device)
{
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (::geteuid() != 0 || setpriv.isEmpty())
        return startDvkctl(args);
    // The simulator's terminal is its owner's only.
    ::chmod(QFile::encodeName(device).constData(), 0666);
    return RunningProgram(
        setpriv,
        QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", DVKCTL_PATH} + args);
}

} // namespace

// However a client ends, the port is left as the next client needs it: a
// signal it can catch is a stop like SIGTERM, and after one it cannot the
// simulator lifts the exclusive mode the client set, which would make every
// later open by an ordinary user fail as busy. The simulator goes on serving.
void TestCliDevice::clientEndings()
{
    QFETCH(int, sig);
    QFETCH(int, code);
    SimulatorProcess sim;
    QVERIFY(sim.start({"--silent"}));
    // Asked, never answered: the client holds the port, waiting.
    const QStringList query{"query", "--port", sim.path()};
    RunningProgram first = asOrdinaryUser(query, sim.path());
    QVERIFY(sim.waitForEvents("query", 1, 30000));
    QVERIFY(exclusive(sim.path()));
    first.signal(sig);
    QCOMPARE(first.finish().code, code);
    QTRY_VERIFY_WITH_TIMEOUT(!exclusive(sim.path()), 10000);

    const RunResult next = asOrdinaryUser(query, sim.path()).finish();
    QVERIFY2(next.err.contains("no answer"), next.err.constData());
    QVERIFY(sim.waitForEvents("query", 2, 30000));
    QVERIFY(sim.isRunning());
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The simulators' registrations stay with this test.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    TestCliDevice test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_cli_device.moc"
