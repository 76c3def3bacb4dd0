// Closing the window in each phase of its work (the question confirmed):
// with the projector ready, in block 0's header, in the pause before the
// commit command, and during the commit countdown. Each close must be quick,
// show nothing after the question (no success, no failure), leave no thread
// and the port closed, and never let a commit command follow a transfer that
// was stopped. (Closing while the answer is awaited, and in the middle of a
// block, are in the port-control and burn-window tests.)
#include "support/window/BurnWindow.h"

#include <QElapsedTimer>

using namespace burnwindow;

class TestFaultClose : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { cancelModalAnswers(); }
    void closeInPhase_data();
    void closeInPhase();

private:
    qint64 baselineThreads = 0;
};

namespace
{

enum Phase { Ready, Header, BeforeCommit, Countdown };

} // namespace

Q_DECLARE_METATYPE(Phase)

void TestFaultClose::initTestCase()
{
    // One window opened, used and closed first, so that what the toolkit
    // starts once per process is there before the count is taken.
    SimulatorProcess sim;
    QVERIFY(sim.start());
    auto *w = new MainWindow;
    QVERIFY(openReady(*w, sim.path()));
    w->form()->pushButton_SerialPort->click();
    closeConfirmed(*w);
    delete w;
    QTest::qWait(200);
    baselineThreads = settledThreads();
    QVERIFY(baselineThreads > 0);
}

void TestFaultClose::closeInPhase_data()
{
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("committed");
    QTest::addColumn<int>("valuesSent");
    QTest::newRow("projector ready") << Ready << QStringLiteral("是否退出?") << false << -1;
    QTest::newRow("block header") << Header << QStringLiteral("正在烧录,是否退出?") << false << 0;
    QTest::newRow("pause before the commit")
        << BeforeCommit << QStringLiteral("正在烧录,是否退出?") << false << 1024;
    QTest::newRow("commit countdown")
        << Countdown << QStringLiteral("正在烧录,是否退出?") << true << 1024;
}

void TestFaultClose::closeInPhase()
{
    QFETCH(Phase, phase);
    QFETCH(QString, question);
    QFETCH(bool, committed);
    QFETCH(int, valuesSent);

    const QString dir = makeTempDir();
    SimulatorProcess sim;
    QVERIFY(sim.start());
    auto *w = new MainWindow;
    w->show();
    Ui::MainWindow *ui = w->form();
    QVERIFY(openReady(*w, sim.path()));
    QVERIFY(load(*w, writeLines(dir + "/one.txt", values(1024))));

    if (phase != Ready) {
        ui->pushButton_BurnRecord->click();
        switch (phase) {
        case Header:
            QTest::qWait(150);
            QCOMPARE(ui->progressBar_BurnRecord->value(), 0);
            break;
        case BeforeCommit:
            QVERIFY(QTest::qWaitFor([&] { return ui->progressBar_BurnRecord->value() == 1024; },
                                    10000));
            break;
        case Countdown:
            QVERIFY(QTest::qWaitFor(
                [&] { return MainWindowTestAccess(w).solidifyInProgress() == 1; }, 10000));
            QTest::qWait(300);
            break;
        case Ready:
            break;
        }
    }

    ModalCollector boxes(QStringLiteral("确认"));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w->close());
    delete w;
    const qint64 closeMs = clock.elapsed();
    QVERIFY2(closeMs < 1500, qPrintable(QString::number(closeMs)));
    QVERIFY(!mySerialInstance->isOpen());

    // Nothing after the question, even once a stopped thread's last signals
    // would have arrived.
    QTest::qWait(500);
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen.first().text, question);
    QVERIFY2(threadsSettleTo(baselineThreads),
             qPrintable(
                 QString("%1 threads, %2 before").arg(procStatus("Threads")).arg(baselineThreads)));

    sim.stop();
    const QList<QJsonObject> transfers = sim.events("transfer");
    if (valuesSent < 0) {
        QVERIFY(transfers.isEmpty());
        return;
    }
    QCOMPARE(transfers.size(), 1);
    // Closing inside the 300 ms before the commit stops it, but a slow
    // machine (a sanitizer build) may only get to the question after the
    // pause has run out and the commit has gone: either is a whole,
    // consistent transfer, never a commit of less than was sent.
    if (phase != BeforeCommit)
        QCOMPARE(transfers.first()["committed"].toBool(), committed);
    QCOMPARE(transfers.first()["values"].toInt(), valuesSent);
}

QTEST_MAIN(TestFaultClose)
#include "tst_fault_close.moc"
