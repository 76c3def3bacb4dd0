// The port button and the receive thread, driven in the window against the
// projector simulator.
#include "serial/SelectSerial.h"
#include "serial/mySerial.h"
#include "support/core/PseudoTerminalPeer.h"
#include "support/core/Simulator.h"
#include "support/window/WindowSupport.h"
#include "ui_mainwindow.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QSignalSpy>
#include <QtTest>

namespace
{

QList<QWidget *> twelveControls(Ui::MainWindow *ui)
{
    return {ui->lineEdit_FileDVK,     ui->pushButton_FileDVK,    ui->lineEdit_NStepPhase,
            ui->lineEdit_StripeNum,   ui->pushButton_NStepPhase, ui->lineEdit_NGrayCode,
            ui->lineEdit_NStripeWave, ui->pushButton_NGrayCode,  ui->pushButton_NStripeWave,
            ui->pushButton_Dark,      ui->pushButton_Light,      ui->pushButton_BurnRecord};
}

int enabledCount(Ui::MainWindow *ui)
{
    int n = 0;
    for (QWidget *w : twelveControls(ui))
        n += w->isEnabled() ? 1 : 0;
    return n;
}

QList<ModalSeen> boxes(const ModalCollector &c, const QString &text)
{
    QList<ModalSeen> found;
    for (const ModalSeen &s : c.seen) {
        if (s.text == text)
            found.append(s);
    }
    return found;
}

} // namespace

class TestPortControl : public QObject
{
    Q_OBJECT

private:
    MainWindow *w = nullptr;
    Ui::MainWindow *ui = nullptr;

    void selectPort(const QString &entry)
    {
        ui->comboBox_SerialPort->clear();
        if (!entry.isEmpty())
            ui->comboBox_SerialPort->addItem(entry);
    }

private slots:
    void init()
    {
        w = new MainWindow;
        ui = w->form();
        // Let the port discovery fill the box once; an unchanged list never
        // touches it again.
        MainWindowTestAccess access(w);
        QTRY_COMPARE(access.lastPortList(), availablePortNames());
    }
    void cleanup()
    {
        delete w;
        w = nullptr;
    }

    void emptyBoxFails()
    {
        selectPort(QString());
        ModalSeen seen;
        answerNextModal(&seen);
        ui->pushButton_SerialPort->click();
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, QString("错误"));
        QCOMPARE(seen.text, QString("串口打开失败!"));
        QCOMPARE(seen.buttons, QStringList{"确认"});
        QCOMPARE(ui->pushButton_SerialPort->text(), QString("打开串口"));
        QVERIFY(!MainWindowTestAccess(w).portSwitchedOn());
        QVERIFY(!ui->Switch->isChecked());
        QVERIFY(!mySerialInstance->isOpen());
    }

    void openAnswerAndClose()
    {
        MainWindowTestAccess access(w);
        SimulatorProcess sim;
        QVERIFY(sim.start({"--scan-value", "500"}));
        selectPort(sim.path());
        access.patternValueCount() = 7;
        QSignalSpy codes(w, &MainWindow::ErrorMessageSignal);
        ModalCollector collector; // rejects the directory dialog

        QElapsedTimer clock;
        clock.start();
        ui->pushButton_SerialPort->click();
        QCOMPARE(ui->pushButton_SerialPort->text(), QString("关闭串口"));
        QVERIFY(ui->Switch->isChecked());
        QVERIFY(ui->comboBox_SerialPort->isEnabled());
        QCOMPARE(access.patternValueCount(), 0);
        QVERIFY(mySerialInstance->isOpen());
        QCOMPARE(collector.seen.size(), 1);
        QCOMPARE(collector.seen.first().className, QString("QFileDialog"));

        // Exactly the three query bytes went out.
        QVERIFY(sim.waitForEvents("query", 1));
        QCOMPARE(sim.events("query").first().value("answered").toString(), QString("01F4"));
        QVERIFY(sim.events("unexpected").isEmpty());

        // The answer unlocks the twelve controls once the read has ended,
        // about 3 s after it.
        QCOMPARE(enabledCount(ui), 0);
        QTRY_COMPARE_WITH_TIMEOUT(enabledCount(ui), 12, 6000);
        QVERIFY(clock.elapsed() >= 2900);
        QCOMPARE(access.scanRate(), 500.0f);
        QCOMPARE(codes.size(), 1);
        QCOMPARE(codes.first().first().toInt(), -6);
        QCOMPARE(collector.seen.size(), 1); // no warning

        // Close: everything back, the fields and the pattern file cleared.
        for (QLineEdit *e : {ui->lineEdit_NStepPhase, ui->lineEdit_StripeNum,
                             ui->lineEdit_NGrayCode, ui->lineEdit_NStripeWave})
            e->setText("5");
        access.patternFilePath() = "/tmp/wave.txt";
        ui->pushButton_SerialPort->click();
        QCOMPARE(ui->pushButton_SerialPort->text(), QString("打开串口"));
        QVERIFY(!ui->Switch->isChecked());
        QVERIFY(ui->comboBox_SerialPort->isEnabled());
        QCOMPARE(enabledCount(ui), 0);
        for (QLineEdit *e : {ui->lineEdit_NStepPhase, ui->lineEdit_StripeNum,
                             ui->lineEdit_NGrayCode, ui->lineEdit_NStripeWave})
            QVERIFY(e->text().isEmpty());
        QVERIFY(access.patternFilePath().isEmpty());
        QVERIFY(!mySerialInstance->isOpen());
        QCOMPARE(access.scanRate(), 500.0f); // kept after the close
    }

    // An answer that belongs to an opening closed within its 3 s window does
    // nothing; the next opening, to a silent projector, warns once.
    void staleAnswerAndSilence()
    {
        MainWindowTestAccess access(w);
        SimulatorProcess answering, silent;
        QVERIFY(answering.start({"--scan-value", "1234"}));
        QVERIFY(silent.start({"--silent"}));
        ModalCollector collector;

        selectPort(answering.path());
        ui->pushButton_SerialPort->click();
        QVERIFY(answering.waitForEvents("query", 1));
        QElapsedTimer clock;
        clock.start();
        ui->pushButton_SerialPort->click(); // close while the read waits
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(!mySerialInstance->isOpen());

        selectPort(silent.path());
        ui->pushButton_SerialPort->click();
        QVERIFY(silent.waitForEvents("query", 1));
        QTRY_COMPARE_WITH_TIMEOUT(boxes(collector, "写入失败").size(), 1, 6000);
        const ModalSeen warning = boxes(collector, "写入失败").first();
        QCOMPARE(warning.title, QString("错误"));
        QCOMPARE(warning.buttons, QStringList{"确认"});
        QTest::qWait(200);
        QCOMPARE(boxes(collector, "写入失败").size(), 1);
        QCOMPARE(enabledCount(ui), 0);
        QCOMPARE(access.scanRate(), 0.0f); // the stale 1234 never arrived
        QCOMPARE(ui->pushButton_SerialPort->text(), QString("关闭串口"));
    }

    // A projector that answers late: it holds its reply to the first
    // opening's query until the port has been closed and opened again. The
    // first opening's read ends empty at the close, and what it brings
    // belongs to an opening that is gone: taken in while the port is closed,
    // it must neither warn nor unlock. The reply then serves the new opening.
    void lateAnswerAfterReopen()
    {
        MainWindowTestAccess access(w);
        PseudoTerminalPeer projector;
        QVERIFY(projector.isOpen());
        const QByteArray query(reinterpret_cast<const char *>(access.handshake()), 3);
        projector.onReceived([&] {
            if (projector.received() == query + query)
                projector.send(QByteArray::fromHex("0309")); // 777
        });
        selectPort(projector.path());
        QSignalSpy codes(w, &MainWindow::ErrorMessageSignal);
        ModalCollector collector; // rejects the directory dialogs

        ui->pushButton_SerialPort->click();
        QTRY_COMPARE(projector.received(), query);
        ui->pushButton_SerialPort->click();
        // The first read's outcome was queued before the close returned.
        QTest::qWait(200);
        QCOMPARE(codes.size(), 0);
        QCOMPARE(enabledCount(ui), 0);

        ui->pushButton_SerialPort->click();
        QTRY_COMPARE_WITH_TIMEOUT(enabledCount(ui), 12, 8000);
        QCOMPARE(access.scanRate(), 777.0f);
        QCOMPARE(codes.size(), 1);
        QCOMPARE(codes.first().first().toInt(), -6);
        QCOMPARE(collector.seen.size(), 2); // the two directory dialogs, no warning
    }

    void exitWhileTheReadWaits()
    {
        SimulatorProcess sim;
        QVERIFY(sim.start());
        selectPort(sim.path());
        {
            ModalCollector dialog;
            ui->pushButton_SerialPort->click();
        }
        QVERIFY(sim.waitForEvents("query", 1));

        ModalSeen question;
        answerNextModal(&question, "确认");
        w->close();
        QVERIFY(question.seen);
        QElapsedTimer clock;
        clock.start();
        delete w; // the receive thread is still in its read
        w = nullptr;
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(!mySerialInstance->isOpen());
    }
};

QTEST_MAIN(TestPortControl)
#include "tst_portcontrol.moc"
