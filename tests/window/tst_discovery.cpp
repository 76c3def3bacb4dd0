// Port discovery and a clean shutdown with the discovery thread running;
// dvkctl's port listing.
#include "serial/SelectSerial.h"
#include "serial/SimulatorPorts.h"
#include "serial/mySerial.h"
#include "support/core/Pty.h"
#include "support/window/WindowSupport.h"
#include "ui_mainwindow.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <unistd.h>

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void firstListArrivesAtStart();
    void refillOnlyWhenChanged();
    void shutdownStopsDiscovery();
    void quickConfirmedClose();
    void dvkctlPorts();
    void simulatorRegistrations();
};

namespace
{

QStringList comboItems(QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items.append(box->itemText(i));
    return items;
}

QStringList warnings;
QtMessageHandler previousHandler = nullptr;

void recordMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg)
        warnings.append(message);
    previousHandler(type, context, message);
}

// Installs the recorder once; a test that failed before restoring the
// previous handler must not leave the recorder calling itself.
void installRecorder()
{
    const QtMessageHandler old = qInstallMessageHandler(recordMessages);
    if (old != recordMessages)
        previousHandler = old;
}

} // namespace

void TestDiscovery::firstListArrivesAtStart()
{
    MainWindow w;
    auto *box = w.form()->comboBox_SerialPort;
    const QStringList expected = availablePortNames();
    // The first list is sent as soon as the thread starts.
    QTRY_COMPARE_WITH_TIMEOUT(comboItems(box), expected, 1500);
    QCOMPARE(MainWindowTestAccess(&w).lastPortList(), expected);
}

void TestDiscovery::refillOnlyWhenChanged()
{
    MainWindow w;
    MainWindowTestAccess access(&w);
    auto *box = w.form()->comboBox_SerialPort;
    QTRY_COMPARE_WITH_TIMEOUT(access.lastPortList(), availablePortNames(), 1500);
    // Stop the poller so that only this test feeds the slot.
    access.discoveryThread()->requestInterruption();
    access.discoveryThread()->quit();
    QVERIFY(access.discoveryThread()->wait(2000));

    const QStringList ports{"ttyS0", "ttyUSB0", "ttyACM1"};
    w.QStringListReceive(ports);
    QCOMPARE(comboItems(box), ports);
    QCOMPARE(box->currentIndex(), 0);

    // The same names again, also in a list of its own: the choice stays.
    box->setCurrentIndex(2);
    w.QStringListReceive(access.lastPortList());
    w.QStringListReceive(QStringList{"ttyS0", "ttyUSB0", "ttyACM1"});
    QCOMPARE(box->currentIndex(), 2);
    QCOMPARE(comboItems(box), ports);

    // Another order is a change: refilled, the chosen port still chosen.
    const QStringList reordered{"ttyUSB0", "ttyS0", "ttyACM1"};
    w.QStringListReceive(reordered);
    QCOMPARE(comboItems(box), reordered);
    QCOMPARE(box->currentText(), QStringLiteral("ttyACM1"));

    // Case matters; with the chosen port gone (and none open) the first is
    // shown; a removed port empties the box down to what is left.
    w.QStringListReceive(QStringList{"ttyusb0", "ttyS0"});
    QCOMPARE(box->itemText(0), QStringLiteral("ttyusb0"));
    QCOMPARE(box->currentIndex(), 0);
    w.QStringListReceive(QStringList());
    QCOMPARE(box->count(), 0);
    QCOMPARE(box->currentIndex(), -1);
}

void TestDiscovery::shutdownStopsDiscovery()
{
    warnings.clear();
    installRecorder();
    QElapsedTimer clock;
    {
        auto *w = new MainWindow;
        QPointer<QThread> thread = MainWindowTestAccess(w).discoveryThread();
        QVERIFY(thread && thread->isRunning());
        QTest::qWait(100); // the worker is inside its sleep
        clock.start();
        delete w;
        QVERIFY(thread.isNull() || !thread->isRunning());
    }
    // The poller's sleep is cut short: no two-second wait at exit.
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    qInstallMessageHandler(previousHandler);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestDiscovery::quickConfirmedClose()
{
    warnings.clear();
    installRecorder();
    auto *w = new MainWindow;
    w->show();
    ModalSeen seen;
    answerNextModal(&seen, QStringLiteral("确认"));
    QVERIFY(w->close());
    QVERIFY(seen.seen);
    delete w;
    qInstallMessageHandler(previousHandler);
    QVERIFY2(warnings.filter("thread", Qt::CaseInsensitive).isEmpty(),
             qPrintable(warnings.join('\n')));
}

void TestDiscovery::dvkctlPorts()
{
    QByteArray out, err;
    QCOMPARE(runDvkctl({"ports"}, &out, &err), 0);
    const QStringList expected = availablePortNames();
    const QList<QByteArray> lines = out.isEmpty() ? QList<QByteArray>() : out.trimmed().split('\n');
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(QString::fromUtf8(lines[i].split('\t').first()), expected[i]);

    QCOMPARE(runDvkctl({"ports", "--json"}, &out, &err), 0);
    const QJsonDocument doc = QJsonDocument::fromJson(out);
    QVERIFY(doc.isArray());
    QCOMPARE(doc.array().size(), expected.size());
    for (const QJsonValue &v : doc.array()) {
        const QJsonObject o = v.toObject();
        for (const char *key : {"name", "path", "description", "vid", "pid"})
            QVERIFY2(o.contains(key), key);
    }

    QCOMPARE(runDvkctl({"ports", "--bogus"}, &out, &err), 2);
    QVERIFY(err.contains("bogus"));
    QCOMPARE(runDvkctl({"frobnicate"}, &out, &err), 2);
    QCOMPARE(runDvkctl({"--version"}, &out, &err), 0);
    QVERIFY(out.startsWith("dvkctl "));
    QCOMPARE(runDvkctl({"--help"}, &out, &err), 0);
    QVERIFY(out.contains("generate"));
    QCOMPARE(runDvkctl({"ports", "--help"}, &out, &err), 0);
    QVERIFY(out.contains("--json"));
}

// What the port list takes from the registration directory: live
// registrations in name order after the system's ports; dead ones (a link no
// simulator holds, as a kill -9 leaves it) removed and never opened; nothing
// from a directory that is not safely this user's; a simulator's entry shown
// by name and opened by path.
void TestDiscovery::simulatorRegistrations()
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const QString runtime = makeTempDir();
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    QCOMPARE(simulatorports::directory(), runtime + "/dvk-sp/ports");
    QVERIFY(simulatorports::livePorts().isEmpty()); // nothing made by looking
    QVERIFY(!QFileInfo::exists(runtime + "/dvk-sp"));

    QString why;
    SimulatorRegistration zeta, alpha, again;
    QVERIFY2(zeta.make("zeta", "/dev/null", &why), qPrintable(why));
    QVERIFY2(alpha.make("alpha", "/dev/null", &why), qPrintable(why));
    QVERIFY(!again.make("alpha", "/dev/null", &why));
    QCOMPARE(why, QString("another simulator named 'alpha' is running (process %1)")
                      .arg(qlonglong(::getpid())));
    const QString dir = simulatorports::directory();
    Pty stranger; // the terminal a dead registration's number went to
    QVERIFY(QFile::link(stranger.path, dir + "/dead"));
    QVERIFY(QFile::link(runtime + "/gone", dir + "/dangling"));
    writeLines(dir + "/plain", {"not a link"});
    mySerial port;
    QCOMPARE(port.openPort(true, dir + "/dead"), -1);
    QCOMPARE(port.lastOpenFailure().error, serialplatform::OpenError::SimulatorEnded);
    QCOMPARE(port.openPort(true, dir + "/alpha"), -1); // live, but /dev/null is no terminal
    QCOMPARE(port.lastOpenFailure().error, serialplatform::OpenError::NotSerial);

    const QStringList live{dir + "/alpha", dir + "/zeta"};
    QCOMPARE(simulatorports::livePorts(), live);
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             (QStringList{"alpha", "plain", "zeta"}));
    QCOMPARE(discoveredPorts(), availablePortNames() + live);

    // A simulator that has ended gives its name to the next one.
    alpha.remove();
    QVERIFY(QFile::link(stranger.path, dir + "/alpha"));
    QVERIFY2(again.make("alpha", "/dev/zero", &why), qPrintable(why));
    QCOMPARE(QFileInfo(dir + "/alpha").symLinkTarget(), QString("/dev/zero"));

    MainWindow w;
    auto *box = w.form()->comboBox_SerialPort;
    w.QStringListReceive(QStringList{"ttyS0"} + live);
    QCOMPARE(comboItems(box), (QStringList{"ttyS0", "alpha", "zeta"}));
    QCOMPARE(box->itemData(2).toString(), dir + "/zeta");

    // Opened up to others: not trusted.
    QVERIFY(QFile::setPermissions(dir, QFile::permissions(dir) | QFile::WriteOther));
    QVERIFY(simulatorports::livePorts().isEmpty());
    QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QCOMPARE(simulatorports::livePorts(), live);

    // Without a runtime directory: a directory of this user's under /tmp.
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(simulatorports::directory(),
             QString("/tmp/dvk-sp-%1/ports").arg(qulonglong(::geteuid())));
    qputenv("XDG_RUNTIME_DIR", saved);
}

QTEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
