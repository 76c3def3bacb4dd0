// The Windows half of the serial layer, run: tests/system/wine/serial_test_win.cpp
// is built with MinGW-w64 and run under Wine, whose COM ports here are links
// in a private prefix's dosdevices to the projector simulator's
// pseudo-terminal (COM5) and to a pseudo-terminal nobody answers or reads
// (COM6). Headless, no network. Labelled "wine": its own stage of test.sh.
//
// Wine maps a COM port onto a Unix terminal, so what only a real port shows
// is not tested here: line timing, the driver's queue, handshake lines, an
// adapter unplugged, and a write cancelled from another thread (Wine runs a
// synchronous write on to its time-out whatever cancels it).
#include "support/core/Pty.h"
#include "support/core/Simulator.h"
#include "support/core/TestSupport.h"

#include "burn/BurnProtocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

QString findTool(const QStringList &names, const QStringList &extraPaths = QStringList())
{
    for (const QString &name : names) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return found;
    }
    for (const QString &path : extraPaths) {
        if (QFileInfo(path).isExecutable())
            return path;
    }
    return QString();
}

} // namespace

class TestWine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void queryAndTheReadsThreeSeconds();
    void silentPort();
    void burnCheckedByTheSimulator();
    void stalledLineFailsTheWrite();

private:
    bool linkPort(int number, const QString &device);
    // Runs the test program under Wine; its exit code, -1 if it did not end.
    int run(const QStringList &args, QByteArray *output = nullptr);

    QString wine;
    QString wineserver;
    QString work;   // build/tests/wine: the program and the prefix
    QString prefix; // WINEPREFIX
    QString program;
    QProcessEnvironment env;
    SimulatorProcess sim;
};

void TestWine::initTestCase()
{
    wine = findTool({"wine64"}, {"/usr/lib/wine/wine64"});
    wineserver = findTool({"wineserver64", "wineserver"}, {"/usr/lib/wine/wineserver64"});
    program = DVK_SERIAL_TEST_WIN; // built with the MinGW-w64 compiler by the build
    if (program.isEmpty() || wine.isEmpty() || wineserver.isEmpty())
        QFAIL("needs the Debian packages g++-mingw-w64-x86-64-posix, wine and wine64 "
              "(scripts/setup.sh installs them)");
    QVERIFY2(QFileInfo::exists(program), qPrintable(program));

    work = QCoreApplication::applicationDirPath() + "/wine";
    prefix = work + "/prefix";
    QVERIFY(QDir().mkpath(work));

    // Headless, quiet, and never asking to download Mono or Gecko.
    env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("WINEPREFIX", prefix);
    env.insert("WINEDEBUG", "-all");
    env.insert("WINEDLLOVERRIDES", "mscoree,mshtml=");

    // A wine server of our own for the whole run, its output kept out of the
    // log.
    QProcess server;
    server.setProcessEnvironment(env);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice());
    QVERIFY(QDir().mkpath(prefix));
    server.start(wineserver, {"-p30"});
    QVERIFY(server.waitForFinished(30000));

    // Made once, then kept with the build: a new prefix takes a while.
    const QString ready = prefix + "/.set-up";
    if (!QFileInfo::exists(ready)) {
        QElapsedTimer clock;
        clock.start();
        QProcess boot;
        boot.setProcessEnvironment(env);
        boot.setProcessChannelMode(QProcess::MergedChannels);
        boot.start(wine, {"wineboot", "--init"});
        QVERIFY(boot.waitForFinished(600000));
        QVERIFY2(boot.exitCode() == 0, boot.readAll().constData());
        QVERIFY(QFileInfo::exists(prefix + "/dosdevices"));
        QFile marker(ready);
        QVERIFY(marker.open(QIODevice::WriteOnly));
        qInfo("new Wine prefix set up in %.1f s", clock.elapsed() / 1000.0);
    }

    QVERIFY(sim.start());
}

void TestWine::cleanupTestCase()
{
    if (!wineserver.isEmpty()) {
        QProcess kill;
        kill.setProcessEnvironment(env);
        kill.start(wineserver, {"-k"});
        kill.waitForFinished(30000);
    }
}

bool TestWine::linkPort(int number, const QString &device)
{
    const QString link = prefix + QString("/dosdevices/com%1").arg(number);
    QFile::remove(link);
    return QFile::link(device, link);
}

int TestWine::run(const QStringList &args, QByteArray *output)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(wine, QStringList{program} + args);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    const QByteArray out = p.readAll();
    // The program's own lines, for the stage's log.
    for (QByteArray line : out.split('\n')) {
        line = line.trimmed(); // Windows line ends
        if (line.startsWith("PASS") || line.startsWith("FAIL"))
            qInfo("%s: %s", qPrintable(args.first()), line.constData());
    }
    if (output)
        *output = out;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Open COM5, send the query, read the answer: read at once, then the next
// two-byte read waits out its 3 s; asked again with a short settle time, the
// read ends soon after the answer.
void TestWine::queryAndTheReadsThreeSeconds()
{
    QVERIFY(linkPort(5, sim.path()));
    const int queries = sim.events("query").size();
    QByteArray out;
    QCOMPARE(run({"query", "COM5", "10000"}, &out), 0);
    QVERIFY(sim.waitForEvents("query", queries + 2)); // the window's read, then the short settle
    QCOMPARE(sim.events("query").last()["answered"].toString(), QString("2710"));
}

// Nothing answers: the read gives up after 3 s, the count as preset.
void TestWine::silentPort()
{
    Pty pty(Pty::Raw);
    QVERIFY(linkPort(6, pty.path));
    QCOMPARE(run({"silent", "COM6"}), 0);
}

// A two-block transfer, one write per byte with its pauses, as the simulator
// decodes it: framing clean, the data byte for byte, the commit received.
void TestWine::burnCheckedByTheSimulator()
{
    QTemporaryDir record;
    SimulatorProcess recording;
    QVERIFY(recording.start({"--record", record.path()}));
    QVERIFY(linkPort(5, recording.path()));

    constexpr int kValues = 1100;
    QByteArray values(kValues, '\0');
    for (int i = 0; i < kValues; ++i)
        values[i] = char((i * 13 + 7) % 256);
    QTemporaryDir dir;
    QFile steps(dir.filePath("steps.txt"));
    QVERIFY(steps.open(QIODevice::WriteOnly));
    for (const burnprotocol::Step &s : burnprotocol::encodeTransfer(values)) {
        steps.write(s.kind == burnprotocol::Step::Pause
                        ? QByteArray("p ") + QByteArray::number(s.pauseMs) + "\n"
                        : QByteArray("b ") + QByteArray::number(s.byte, 16) + "\n");
    }
    steps.close();

    // Wine's drive Z: is the Unix root.
    const QString windowsPath = "Z:" + QString(steps.fileName()).replace('/', '\\');
    QCOMPARE(run({"burn", "COM5", windowsPath}), 0);
    QVERIFY(recording.waitForEvents("transfer", 1));
    const QJsonObject t = recording.events("transfer").first();
    QVERIFY(t["committed"].toBool());
    QVERIFY2(t["errors"].toArray().isEmpty(),
             QJsonDocument(t["errors"].toArray()).toJson().constData());
    QCOMPARE(t["blocks"].toInt(), 2);
    QCOMPARE(qint64(t["bytes"].toDouble()), burnprotocol::transferLength(kValues));

    QByteArray expected;
    for (char v : values)
        expected.append(char(burnprotocol::dataByte(quint8(v))));
    const QStringList files = QDir(record.path()).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QFile f(record.filePath(files.first()));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray got;
    while (!f.atEnd())
        got.append(char(f.readLine().trimmed().toInt(nullptr, 16)));
    QCOMPARE(got, expected);
}

// Nobody reads COM6: once its buffer is full, a write times out after 5.5 s,
// and that is a failed write, not one that counts as done.
void TestWine::stalledLineFailsTheWrite()
{
    Pty pty(Pty::Raw);
    QVERIFY(linkPort(6, pty.path));
    QCOMPARE(run({"stall", "COM6"}), 0);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The simulators' registrations stay with this test.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    TestWine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wine.moc"
