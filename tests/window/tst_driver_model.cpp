// The serial driver and the window's burn on a model of a USB serial adapter
// (support/drivermodel), preloaded into this test: a driver that reports its
// output queue busy for a while after each write, a line that stalls, an
// adapter that is unplugged.
#include "support/core/DriverModel.h"
#include "support/core/Pty.h"
#include "support/window/BurnWindow.h"

#include "burn/BurnProtocol.h"
#include "serial/mySerial.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace burnwindow;

namespace
{

qint64 timedWrite(mySerial &port, bool *ok)
{
    QElapsedTimer clock;
    clock.start();
    *ok = port.writeData("x", 1);
    return clock.elapsed();
}

} // namespace

class TestDriverModel : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(DriverModel().apply()); }
    void cleanup()
    {
        cancelModalAnswers();
        DriverModel().apply();
    }

    // A byte costs what the driver takes to send it, not a guess from the
    // queue it reports: the old wait slept 20 ms a byte here.
    void byteCostsTheDriversLatency()
    {
        Pty pty;
        mySerial port;
        QCOMPARE(port.openPort(true, pty.path), 0);
        constexpr int kBytes = 200;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < kBytes; ++i)
            QVERIFY(port.writeData("x", 1));
        const qint64 ms = clock.elapsed();
        // Each write waits until the driver has sent its byte (1 ms), so the
        // pauses between writes are real gaps on the line.
        QVERIFY2(ms >= kBytes, qPrintable(QString::number(ms)));
        QVERIFY2(ms < kBytes * 5, qPrintable(QString::number(ms)));
    }

    // A stalled line ends the write at its time-out (500 ms + 5000 ms for one
    // byte), never later; a close from another thread ends it at once.
    void stalledLine()
    {
        DriverModel model;
        model.stallAt = 2;
        QVERIFY(model.apply());
        Pty pty;
        mySerial port;
        QCOMPARE(port.openPort(true, pty.path), 0);
        bool ok = false;
        timedWrite(port, &ok);
        QVERIFY(ok);
        const qint64 ms = timedWrite(port, &ok);
        QVERIFY(!ok);
        QVERIFY2(ms >= 5500 && ms < 8500, qPrintable(QString::number(ms)));

        qint64 closedAfter = -1;
        std::thread writer([&] { closedAfter = timedWrite(port, &ok); });
        QTest::qWait(200);
        port.openPort(false, 0);
        writer.join();
        QVERIFY(!ok);
        QVERIFY2(closedAfter < 1500, qPrintable(QString::number(closedAfter)));
    }

    // Unplugged after a write: the queue cannot be asked, and the byte may
    // never have left. That write and every later one fail.
    void unpluggedAfterWrite()
    {
        DriverModel model;
        model.hangupAt = 2;
        QVERIFY(model.apply());
        Pty pty;
        mySerial port;
        QCOMPARE(port.openPort(true, pty.path), 0);
        QVERIFY(port.writeData("a", 1));
        QVERIFY(!port.writeData("b", 1));
        QVERIFY(!port.writeData("c", 1));
    }

    // Closing the window while a write waits on a stalled line: the window
    // is gone at once, and not a byte more reaches the projector.
    void windowClosedDuringStalledWrite()
    {
        // Write 1 is the query; the burn's 116th byte (its 100th value) stalls.
        DriverModel model;
        model.latencyUs = 100;
        model.stallAt = 1 + 16 + 100;
        QVERIFY(model.apply());
        const QString dir = makeTempDir();
        SimulatorProcess sim;
        QVERIFY(sim.start());
        auto *w = new MainWindow;
        w->show();
        Ui::MainWindow *ui = w->form();
        QVERIFY(openReady(*w, sim.path()));
        QVERIFY(load(*w, writeLines(dir + "/one.txt", values(1024))));
        ui->pushButton_BurnRecord->click();
        QVERIFY(QTest::qWaitFor([&] { return ui->progressBar_BurnRecord->value() == 99; }, 10000));
        QTest::qWait(300);

        QElapsedTimer clock;
        clock.start();
        qint64 confirmedAt = -1;
        ModalSeen question;
        answerNextModal(&question, QString(), 10000, [&](QWidget *box) {
            confirmedAt = clock.elapsed();
            pressButton(box, QStringLiteral("确认"));
        });
        QVERIFY(w->close());
        delete w;
        const qint64 goneAfter = clock.elapsed() - confirmedAt;
        QCOMPARE(question.text, QStringLiteral("正在烧录,是否退出?"));
        QVERIFY(confirmedAt >= 0);
        qInfo("window gone %lld ms after the confirmation", goneAfter);
        QVERIFY2(goneAfter < 1000, qPrintable(QString::number(goneAfter)));

        QTest::qWait(300);
        sim.stop();
        const QList<QJsonObject> transfers = sim.events("transfer");
        QCOMPARE(transfers.size(), 1);
        QVERIFY(!transfers.first()["committed"].toBool());
        QCOMPARE(qint64(transfers.first()["bytes"].toDouble()), qint64(16 + 100));
    }

    // The adapter unplugged as the commit command goes out: the window must
    // not report a burn whose commit may never have left.
    void windowUnpluggedAtTheCommit()
    {
        DriverModel model;
        model.latencyUs = 100;
        model.hangupAt = 1 + burnprotocol::transferLength(1024);
        QVERIFY(model.apply());
        const QString dir = makeTempDir();
        SimulatorProcess sim;
        QVERIFY(sim.start());
        MainWindow w;
        w.show();
        Ui::MainWindow *ui = w.form();
        QVERIFY(openReady(w, sim.path()));
        QVERIFY(load(w, writeLines(dir + "/one.txt", values(1024))));
        ModalSeen seen;
        answerNextModal(&seen, QStringLiteral("确认"), 20000);
        ui->pushButton_BurnRecord->click();
        QVERIFY(QTest::qWaitFor([&] { return seen.seen; }, 20000));
        QCOMPARE(seen.text, QStringLiteral("写入失败"));
        QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录失败"));
        QCOMPARE(MainWindowTestAccess(&w).solidifyInProgress(), 0);
        ui->pushButton_SerialPort->click();
    }
};

int main(int argc, char *argv[])
{
    preloadDriverModel(argv);
    QApplication app(argc, argv);
    // The simulators' registrations stay with this test.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    TestDriverModel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_driver_model.moc"
