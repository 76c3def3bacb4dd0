// Closing the window in each phase of its work (the question confirmed):
// with the projector ready, in block 0's header, in the pause before the
// commit command, and during the commit countdown. Each close must be quick,
// show nothing after the question (no success, no failure), leave no thread
// and the port closed, and never let a commit command follow a transfer that
// was stopped. A question left open while the burn ends gives way to the
// burn's result rather than staying under it. (Closing while the answer is awaited, and in the
// middle of a block, are in the port-control and burn-window tests.)
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
    void questionOpenWhenBurnEnds_data();
    void questionOpenWhenBurnEnds();

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

void TestFaultClose::questionOpenWhenBurnEnds_data()
{
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("status");
    QTest::newRow("countdown completes")
        << true << QStringLiteral("烧录完成!") << QStringLiteral("烧录成功");
    QTest::newRow("projector lost mid-transfer")
        << false << QStringLiteral("写入失败") << QStringLiteral("烧录失败");
}

void TestFaultClose::questionOpenWhenBurnEnds()
{
    QFETCH(bool, succeeds);
    QFETCH(QString, result);
    QFETCH(QString, status);

    const QString dir = makeTempDir();
    SimulatorProcess sim;
    QVERIFY(sim.start());
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    QVERIFY(openReady(w, sim.path()));
    QVERIFY(load(w, writeLines(dir + "/burn.txt", values(succeeds ? 1024 : 3072))));
    ui->pushButton_BurnRecord->click();
    if (succeeds)
        QVERIFY(QTest::qWaitFor([&] { return MainWindowTestAccess(&w).solidifyInProgress() == 1; },
                                10000));
    else
        QVERIFY(QTest::qWaitFor([&] { return ui->progressBar_BurnRecord->value() > 100; }, 10000));

    // The question is left unanswered; whatever box follows it is answered,
    // noting whether the question was still showing beneath.
    QPointer<QWidget> question;
    bool questionSeen = false;
    QStringList others;
    bool questionShownUnder = false;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == question)
            return;
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!question && box && box->text() == QStringLiteral("正在烧录,是否退出?")) {
            question = modal;
            questionSeen = true;
            if (!succeeds)
                sim.stop();
            return;
        }
        others.append(box ? box->text() : modal->metaObject()->className());
        questionShownUnder = questionShownUnder || (question && question->isVisible());
        if (!pressButton(modal, QStringLiteral("确认")))
            qobject_cast<QDialog *>(modal)->reject();
        // A question still up is answered No so that a failing run ends.
        if (question && question->isVisible())
            pressButton(question, QStringLiteral("取消"));
    });
    poll.start();
    QVERIFY(!w.close());
    poll.stop();

    QVERIFY(questionSeen);
    QCOMPARE(others, QStringList{result});
    QVERIFY(!questionShownUnder);
    QCOMPARE(ui->label_Message->text(), status);
    // The burn is over: the next close asks the plain question.
    QCOMPARE(closeConfirmed(w), QStringLiteral("是否退出?"));
}

QTEST_MAIN(TestFaultClose)
#include "tst_fault_close.moc"
