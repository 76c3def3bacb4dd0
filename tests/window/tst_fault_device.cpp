// Faults of the projector and its port, through the simulator on a
// pseudo-terminal and the real serial layer: the device vanishing at the
// query, in a block header and just before the commit command; answers that
// are not two bytes, or are two zero bytes; the port held by another
// program. Each case checks what the user is shown, what reached the
// projector, and that the window works afterwards.
#include "support/window/BurnWindow.h"

#include "patterns/PatternFile.h"
#include "serial/SimulatorPorts.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>

#include <memory>

using namespace burnwindow;

class TestFaultDevice : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { cancelModalAnswers(); }
    void deviceGoneAtTheQuery();
    void deviceGoneDuringTheBurn_data();
    void deviceGoneDuringTheBurn();
    void faultyAnswers();
    void faultyAnswersFromTheCommandLine();
    void portHeldByAnotherProgram();
    void openPortVanishes();
};

// The projector disappears after the query went out and before it answered:
// the read ends at once with nothing, which is a missing answer.
void TestFaultDevice::deviceGoneAtTheQuery()
{
    SimulatorProcess gone;
    QVERIFY(gone.start({"--silent"}));
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    ModalCollector boxes;
    clickOpen(w, gone.path());
    QVERIFY(gone.waitForEvents("query", 1));
    QElapsedTimer clock;
    clock.start();
    gone.stop();

    QTRY_COMPARE_WITH_TIMEOUT(withText(boxes.seen, "写入失败").size(), 1, 5000);
    // Seen as soon as the line hung up, not after the 3 s read time-out.
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!ui->pushButton_BurnRecord->isEnabled());
    QVERIFY(!ui->pushButton_NGrayCode->isEnabled());
    QCOMPARE(ui->pushButton_SerialPort->text(), QStringLiteral("关闭串口"));

    // The user closes the port and opens another projector: ready as usual.
    const int seenBefore = boxes.seen.size();
    ui->pushButton_SerialPort->click();
    QVERIFY(!mySerialInstance->isOpen());
    SimulatorProcess next;
    QVERIFY(next.start({"--scan-value", "4321"}));
    QVERIFY(openReady(w, next.path()));
    QCOMPARE(MainWindowTestAccess(&w).scanRate(), 4321.0f);
    // Nothing since but the directory dialog.
    QVERIFY(boxes.seen.size() <= seenBefore + 1);
    QCOMPARE(withText(boxes.seen, "写入失败").size(), 1);
}

void TestFaultDevice::deviceGoneDuringTheBurn_data()
{
    QTest::addColumn<int>("valuesSentBeforeLoss");
    // In the 400 ms of block 0's header, before any value.
    QTest::newRow("mid-header") << 0;
    // Every value and the end sequence sent; gone in the 300 ms before the
    // commit command.
    QTest::newRow("before the commit") << 1024;
}

// The projector vanishes while the burn streams to it. (Gone in the middle of
// a block's data is in the burn window's own tests.) The burn stops with one
// "写入失败", the projector never receives a commit command, no countdown
// runs, and the window can burn again once a projector is back.
void TestFaultDevice::deviceGoneDuringTheBurn()
{
    QFETCH(int, valuesSentBeforeLoss);
    const QString dir = makeTempDir();
    const QString file = writeLines(dir + "/one.txt", values(1024));
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();

    SimulatorProcess sim;
    QVERIFY(sim.start());
    QVERIFY(openReady(w, sim.path()));
    QVERIFY(load(w, file));
    auto collector = std::make_unique<ModalCollector>();
    ui->pushButton_BurnRecord->click();
    if (valuesSentBeforeLoss == 0) {
        QTest::qWait(150);
        QCOMPARE(ui->progressBar_BurnRecord->value(), 0);
    } else {
        QVERIFY(QTest::qWaitFor(
            [&] { return ui->progressBar_BurnRecord->value() == valuesSentBeforeLoss; }, 10000));
    }
    sim.stop();

    QVERIFY(QTest::qWaitFor([&] { return ui->pushButton_SerialPort->isEnabled(); }, 10000));
    QTest::qWait(300);
    QCOMPARE(collector->seen.size(), 1);
    QCOMPARE(collector->seen.first().text, QStringLiteral("写入失败"));
    QCOMPARE(collector->seen.first().title, QStringLiteral("错误"));
    QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录失败"));
    QCOMPARE(ui->progressBar_BurnRecord->value(), 0);
    QCOMPARE(MainWindowTestAccess(&w).solidifyInProgress(), 0);
    QVERIFY(ui->pushButton_FileDVK->isEnabled());

    // What the projector saw: the transfer cut off where the line went.
    const QList<QJsonObject> transfers = sim.events("transfer");
    QCOMPARE(transfers.size(), 1);
    QVERIFY(!transfers.first()["committed"].toBool());
    QCOMPARE(transfers.first()["values"].toInt(), valuesSentBeforeLoss);

    // Usable afterwards: close, open a new projector, burn to the commit.
    collector.reset();
    ui->pushButton_SerialPort->click();
    const QString record = makeTempDir();
    SimulatorProcess next;
    QVERIFY(next.start({"--record", record}));
    QVERIFY(openReady(w, next.path()));
    QVERIFY(load(w, file));
    collector = std::make_unique<ModalCollector>();
    ui->pushButton_BurnRecord->click();
    QVERIFY(next.waitForEvents("transfer", 1, 10000));
    QVERIFY(next.events("transfer").first()["committed"].toBool());
    QVERIFY(next.events("transfer").first()["errors"].toArray().isEmpty());
    QCOMPARE(recordedBytes(record), dataBytes(values(1024)));
    QVERIFY(QTest::qWaitFor([&] { return MainWindowTestAccess(&w).solidifyInProgress() == 1; }));
    QVERIFY(collector->seen.isEmpty());
    // Leaving during the countdown is the close tests' business.
    collector.reset();
    QCOMPARE(closeConfirmed(w), QStringLiteral("正在烧录,是否退出?"));
}

// The answer decides whether the working controls unlock: one byte is no
// answer; three bytes arriving together count by their first two; two zero
// bytes unlock, and then the generators that need the scan value refuse it.
void TestFaultDevice::faultyAnswers()
{
    const QString dir = makeTempDir();
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    MainWindowTestAccess access(&w);

    SimulatorProcess oneByte;
    QVERIFY(oneByte.start({"--answer", "01"}));
    clickOpen(w, oneByte.path());
    ModalSeen seen;
    answerNextModal(&seen, QString(), 8000);
    QTRY_VERIFY_WITH_TIMEOUT(seen.seen, 6000);
    QCOMPARE(seen.text, QStringLiteral("写入失败"));
    QCOMPARE(seen.buttons, QStringList{"确认"});
    QVERIFY(!ui->pushButton_BurnRecord->isEnabled());
    QCOMPARE(access.scanRate(), 0.0f);
    ui->pushButton_SerialPort->click();

    SimulatorProcess threeBytes;
    QVERIFY(threeBytes.start({"--answer", "01F4AA"}));
    QVERIFY(openReady(w, threeBytes.path()));
    QCOMPARE(access.scanRate(), 500.0f);
    ui->pushButton_SerialPort->click();

    SimulatorProcess zero;
    QVERIFY(zero.start({"--answer", "0000"}));
    QVERIFY(openReady(w, zero.path(), dir));
    QCOMPARE(access.scanRate(), 0.0f);
    const QString patternFile = access.patternFilePath();
    QVERIFY2(patternFile.startsWith(dir + "/wave_"), qPrintable(patternFile));
    ui->lineEdit_NGrayCode->setText("3");
    seen = ModalSeen();
    answerNextModal(&seen);
    ui->pushButton_NGrayCode->click();
    QCOMPARE(seen.title, QStringLiteral("错误"));
    QVERIFY2(seen.text.startsWith(QStringLiteral("设备扫描值无效")), qPrintable(seen.text));
    QVERIFY(!QFile::exists(patternFile));
    QCOMPARE(access.patternValueCount(), 0);
    // A pattern that needs no scan value is still written.
    seen = ModalSeen();
    answerNextModal(&seen);
    ui->pushButton_Dark->click();
    QCOMPARE(seen.title, QStringLiteral("提示"));
    QCOMPARE(access.patternValueCount(), 1024);
    QCOMPARE(countFileLines(patternFile), 1024);
}

// The same answers to dvkctl: only a two-byte answer is a scan value, and a
// projector reporting 0 gives no patterns.
void TestFaultDevice::faultyAnswersFromTheCommandLine()
{
    const QStringList answers = {"01", "01F4AA", "0000"};
    QList<SimulatorProcess *> sims;
    QList<QProcess *> queries;
    for (const QString &a : answers) {
        auto *sim = new SimulatorProcess;
        QVERIFY(sim->start({"--answer", a}));
        sims.append(sim);
        auto *q = new QProcess;
        q->start(DVKCTL_PATH, {"query", "--port", sim->path(), "--json"});
        queries.append(q);
    }
    for (QProcess *q : queries)
        QVERIFY(q->waitForFinished(20000));
    QByteArray out, err;
    const int generated = runDvkctl({"generate", "gray", "--bits", "2", "--port", sims[2]->path()},
                                    &out, &err, 20000);

    QCOMPARE(queries[0]->exitCode(), 1);
    QVERIFY(queries[0]->readAllStandardOutput().contains("\"scan_value\":null"));
    QCOMPARE(queries[1]->exitCode(), 0);
    QVERIFY(queries[1]->readAllStandardOutput().contains("\"scan_value\":500"));
    QCOMPARE(queries[2]->exitCode(), 0);
    QVERIFY(queries[2]->readAllStandardOutput().contains("\"scan_value\":0"));
    QVERIFY2(generated != 0 && generated != -2, err.constData());
    QVERIFY(out.isEmpty());
    QVERIFY2(err.contains("scan value 0"), err.constData());
    qDeleteAll(queries);
    qDeleteAll(sims);
}

// Another program holds the projector's port: the window's open fails and
// says so, a burn from dvkctl is refused without a byte sent, and once the
// port is free again it opens as usual. The other way round, while the window
// has the port, dvkctl cannot open it.
void TestFaultDevice::portHeldByAnotherProgram()
{
    const QString dir = makeTempDir();
    const QString file = writeLines(dir + "/one.txt", values(1024));
    SimulatorProcess sim;
    QVERIFY(sim.start());

    QProcess holder;
    // One process from the lock to the end (no fork), so that ending it frees
    // the port.
    holder.start("flock", {"--exclusive", "--nonblock", "--no-fork", sim.path(), "sh", "-c",
                           "echo held; exec sleep 30"});
    QVERIFY(holder.waitForReadyRead(5000));
    QCOMPARE(holder.readAllStandardOutput(), QByteArray("held\n"));

    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    ModalSeen seen;
    answerNextModal(&seen);
    ui->comboBox_SerialPort->addItem(sim.path());
    ui->pushButton_SerialPort->click();
    QVERIFY(seen.seen);
    QCOMPARE(seen.text, QStringLiteral("串口打开失败!"));
    QCOMPARE(ui->pushButton_SerialPort->text(), QStringLiteral("打开串口"));
    QVERIFY(!ui->Switch->isChecked());
    QVERIFY(!MainWindowTestAccess(&w).portSwitchedOn());
    QVERIFY(!mySerialInstance->isOpen());

    QByteArray out, err;
    QCOMPARE(runDvkctl({"burn", file, "--port", sim.path(), "--no-wait"}, &out, &err), 1);
    QVERIFY2(err.contains(sim.path().toUtf8()), err.constData());

    holder.kill();
    holder.waitForFinished();
    QVERIFY(openReady(w, sim.path()));
    QCOMPARE(sim.events("query").size(), 1);

    QCOMPARE(runDvkctl({"query", "--port", sim.path()}, &out, &err), 1);
    QCOMPARE(runDvkctl({"burn", file, "--port", sim.path(), "--no-wait"}, &out, &err), 1);
    QTest::qWait(300);
    QVERIFY(sim.events("transfer").isEmpty());
    QCOMPARE(sim.events("query").size(), 1);
    QVERIFY(mySerialInstance->isOpen());
    QVERIFY(ui->pushButton_BurnRecord->isEnabled());
    ui->pushButton_SerialPort->click();
    QVERIFY(!mySerialInstance->isOpen());
}

// The open port's device leaves the list (a simulator killed, an adapter
// pulled): the window closes the port as its button does and says so; once
// the device is back it opens and burns at once, and the burn ends in
// success even after the failures before it.
void TestFaultDevice::openPortVanishes()
{
    const QString dir = makeTempDir();
    const QString file = writeLines(dir + "/one.txt", values(1024));
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    // Picks the simulator's entry from the list, as a user would.
    QString registration;
    auto openListed = [&](SimulatorProcess &sim) {
        QComboBox *box = ui->comboBox_SerialPort;
        auto entry = [&] {
            for (int i = 0; i < box->count(); ++i)
                if (simulatorports::liveDevice(box->itemData(i).toString()) == sim.path())
                    return i;
            return -1;
        };
        if (!QTest::qWaitFor([&] { return entry() >= 0; }, 5000))
            return false;
        box->setCurrentIndex(entry());
        registration = box->currentText();
        answerDirectoryDialog(QString());
        ui->pushButton_SerialPort->click();
        return QTest::qWaitFor([&] { return ui->pushButton_BurnRecord->isEnabled(); }, 10000);
    };

    // Gone while a burn streams: the transfer stops uncommitted.
    SimulatorProcess first;
    QVERIFY(first.start({}, 5000, true));
    QVERIFY(openListed(first));
    QVERIFY(load(w, file));
    ui->pushButton_BurnRecord->click();
    QVERIFY(QTest::qWaitFor([&] { return ui->progressBar_BurnRecord->value() > 10; }, 10000));
    ModalCollector boxes;
    first.kill();
    QVERIFY(QTest::qWaitFor([&] { return !withText(boxes.seen, "串口已断开!").isEmpty(); }, 5000));
    QCOMPARE(withText(boxes.seen, "串口已断开!").first().informativeText, registration);
    QCOMPARE(ui->pushButton_SerialPort->text(), QStringLiteral("打开串口"));
    QVERIFY(ui->pushButton_SerialPort->isEnabled());
    QVERIFY(!ui->Switch->isChecked());
    QVERIFY(!MainWindowTestAccess(&w).portSwitchedOn());
    QVERIFY(!mySerialInstance->isOpen());
    QVERIFY(!ui->pushButton_BurnRecord->isEnabled());
    QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录失败"));
    QVERIFY(nothingCommitted(first));

    // Back: opened with one click, and the burn is committed and says so.
    SimulatorProcess second;
    QVERIFY(second.start({}, 5000, true));
    QVERIFY(openListed(second));
    QVERIFY(load(w, file));
    ui->pushButton_BurnRecord->click();
    QVERIFY(QTest::qWaitFor([&] { return !withText(boxes.seen, "烧录完成!").isEmpty(); }, 40000));
    QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录成功"));
    QVERIFY(second.waitForEvents("transfer", 1));
    QVERIFY(second.events("transfer").first()["committed"].toBool());
}

QTEST_MAIN(TestFaultDevice)
#include "tst_fault_device.moc"
