// Burning from the window, against the projector simulator on a
// pseudo-terminal: the checks before a start, the whole run to "烧录成功",
// and the ways a burn can go wrong.
#include "support/window/BurnWindow.h"

#include "serial/mySerial.h"

#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TestBurnWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { cancelModalAnswers(); }
    void refusedBeforeAnythingIsSent();
    void wholeBurnToSuccess();
    void deviceGoneMidTransfer();
    void closeDuringTransfer();
};

using namespace burnwindow;

namespace
{

void appendLines(const QString &path, const QStringList &lines)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
    for (const QString &l : lines)
        f.write((l + "\n").toLatin1());
}

} // namespace

void TestBurnWindow::refusedBeforeAnythingIsSent()
{
    SimulatorProcess sim;
    QVERIFY(sim.start());
    const QString dir = makeTempDir();
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();

    // With the port closed, a burn start says so and gives the buttons back.
    w.lockUi(false);
    ui->lineEdit_FileDVK->setText(writeLines(dir + "/small.txt", values(1024)));
    ui->label_Page->setText("/ 1 ");
    ModalSeen seen = clickBurn(w);
    QCOMPARE(seen.text, QStringLiteral("请先打开串口!"));
    QCOMPARE(seen.title, QStringLiteral("错误"));
    QCOMPARE(seen.buttons, QStringList{"确认"});
    QVERIFY(ui->pushButton_SerialPort->isEnabled());
    QVERIFY(ui->pushButton_FileDVK->isEnabled());
    w.lockUi(true);
    ui->lineEdit_FileDVK->clear();
    ui->label_Page->setText("/ 0 ");

    QVERIFY(openReady(w, sim.path()));
    QCOMPARE(MainWindowTestAccess(&w).scanRate(), 10000.0f);

    seen = clickBurn(w);
    QCOMPARE(seen.text, QStringLiteral("请先选择烧录文件"));

    // Fewer than 1024 lines: loaded, but there is no whole page to burn.
    QVERIFY(load(w, writeLines(dir + "/short.txt", values(500))));
    QCOMPARE(ui->label_Page->text(), QStringLiteral("/ 0 "));
    seen = clickBurn(w);
    QCOMPARE(seen.text, QStringLiteral("烧录文件有误"));

    // A file that changed after its load is checked again at the start.
    const QString grown = writeLines(dir + "/grown.txt", values(1024));
    QVERIFY(load(w, grown));
    QCOMPARE(ui->label_Page->text(), QStringLiteral("/ 1 "));
    appendLines(grown, {"0x100"});
    seen = clickBurn(w);
    QCOMPARE(seen.text, QStringLiteral("请输入0x00~0xFF之间的数"));
    QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录失败"));
    QVERIFY(ui->pushButton_SerialPort->isEnabled());
    QVERIFY(ui->pushButton_FileDVK->isEnabled());

    const QString huge = writeLines(dir + "/huge.txt", values(1024));
    QVERIFY(load(w, huge));
    appendLines(huge, values(60 * 1024));
    seen = clickBurn(w);
    QCOMPARE(seen.text, QStringLiteral("烧录文件有误"));

    const QString gone = writeLines(dir + "/gone.txt", values(1024));
    QVERIFY(load(w, gone));
    QFile::remove(gone);
    seen = clickBurn(w);
    QCOMPARE(seen.text, QStringLiteral("无法打开文件"));
    QVERIFY(ui->pushButton_SerialPort->isEnabled());

    // Nothing reached the projector.
    QTest::qWait(200);
    QVERIFY(sim.events("transfer").isEmpty());
    QVERIFY(mySerialInstance->isOpen());
    closeConfirmed(w);
}

void TestBurnWindow::wholeBurnToSuccess()
{
    const QString record = makeTempDir();
    SimulatorProcess sim;
    QVERIFY(sim.start({"--record", record}));
    const QString dir = makeTempDir();
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    QVERIFY(openReady(w, sim.path()));

    // Loaded with one page; grown to two before the burn: the burn sends and
    // counts what it finds at the start.
    QStringList lines = values(1024);
    lines[3] = "0x7F";
    lines[4] = "0xFF";
    lines[5] = "0x9F";
    lines[6] = "0xEC";
    lines[7] = "";
    const QString file = writeLines(dir + "/burn.txt", lines);
    QVERIFY(load(w, file));
    const QStringList more = values(1024, 100);
    appendLines(file, more);
    lines += more;
    lines[7] = "0x00";

    QSignalSpy progress(ui->progressBar_BurnRecord, &QProgressBar::valueChanged);
    QElapsedTimer clock;
    clock.start();
    QList<qint64> progressAt; // when each value of the spy was set
    const QMetaObject::Connection timing =
        connect(ui->progressBar_BurnRecord, &QProgressBar::valueChanged, &w,
                [&] { progressAt.append(clock.elapsed()); });
    ui->pushButton_BurnRecord->click();
    QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录过程中，请稍等"));
    QCOMPARE(ui->progressBar_BurnRecord->maximum(), 2048);
    QVERIFY(!ui->pushButton_SerialPort->isEnabled());
    QVERIFY(!ui->pushButton_FileDVK->isEnabled());
    QVERIFY(w.findChild<QPushButton *>("pushButton_BurnRecord")->isEnabled());

    // A second start while the transfer runs is refused.
    QTest::qWait(100);
    ModalSeen seen = clickBurn(w);
    QCOMPARE(seen.text, QStringLiteral("烧录过程中，请稍等"));

    // The close guard warns during the transfer.
    answerNextModal(&seen, QStringLiteral("取消"));
    QVERIFY(!w.close());
    QCOMPARE(seen.text, QStringLiteral("正在烧录,是否退出?"));

    // Transfer done: the port closes and the countdown runs.
    QVERIFY(
        QTest::qWaitFor([&] { return MainWindowTestAccess(&w).solidifyInProgress() == 1; }, 10000));
    QCOMPARE(ui->label_Message->text(), QStringLiteral("数据固化中，请耐心等待"));
    QVERIFY(!mySerialInstance->isOpen());
    QCOMPARE(ui->pushButton_SerialPort->text(), QStringLiteral("关闭串口"));
    // Progress ran 1 … 2048 without a gap before the countdown reset it.
    QList<int> seenValues;
    for (const auto &args : progress)
        seenValues.append(args.at(0).toInt());
    const int firstZero = seenValues.indexOf(0, 1);
    QVERIFY(firstZero > 0);
    for (int i = 0; i < 2048; ++i)
        QCOMPARE(seenValues.at(i), i + 1);

    answerNextModal(&seen, QStringLiteral("取消"));
    QVERIFY(!w.close());
    QCOMPARE(seen.text, QStringLiteral("正在烧录,是否退出?"));

    // During the countdown the port is closed, and the burn button says so.
    seen = clickBurn(w);
    QCOMPARE(seen.text, QStringLiteral("请先打开串口!"));
    QVERIFY(!ui->pushButton_SerialPort->isEnabled());

    // 2048 values at 10 ms: about 20.5 s, then the success box.
    seen = ModalSeen();
    qint64 successAt = -1;
    answerNextModal(&seen, QString(), 40000, [&](QWidget *box) {
        successAt = clock.elapsed();
        if (!pressButton(box, QStringLiteral("确认")))
            qobject_cast<QDialog *>(box)->reject();
    });
    QVERIFY(QTest::qWaitFor([&] { return seen.seen; }, 40000));
    // The countdown, from the bar's reset at its start to the box that
    // follows its last value: at least 2047 steps of 10 ms. Seeing the box
    // late can only make this longer.
    disconnect(timing);
    const qint64 countdownMs = successAt - progressAt.value(firstZero);
    QVERIFY2(countdownMs >= 2047 * 10, qPrintable(QString::number(countdownMs)));
    QCOMPARE(seen.text, QStringLiteral("烧录完成!"));
    QCOMPARE(seen.title, QStringLiteral("提示"));
    QTest::qWait(50);
    QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录成功"));
    QCOMPARE(ui->pushButton_SerialPort->text(), QStringLiteral("打开串口"));
    QVERIFY(ui->pushButton_SerialPort->isEnabled());
    QVERIFY(!ui->pushButton_BurnRecord->isEnabled());
    QVERIFY(!ui->pushButton_FileDVK->isEnabled());
    QCOMPARE(ui->progressBar_BurnRecord->value(), 0);
    QCOMPARE(MainWindowTestAccess(&w).solidifyInProgress(), 0);
    QVERIFY(MainWindowTestAccess(&w).patternFilePath().isEmpty());

    // The projector got exactly the file, framed and committed.
    QVERIFY(sim.waitForEvents("transfer", 1));
    const QJsonObject t = sim.events("transfer").first();
    QCOMPARE(t["values"].toInt(), 2048);
    QCOMPARE(t["blocks"].toInt(), 2);
    QVERIFY(t["committed"].toBool());
    QVERIFY(t["errors"].toArray().isEmpty());
    QCOMPARE(sim.events("transfer").size(), 1);
    const QStringList recorded = QDir(record).entryList(QDir::Files);
    QCOMPARE(recorded.size(), 1);
    QCOMPARE(recordedBytes(record + "/" + recorded.first()), dataBytes(lines));
    closeConfirmed(w);
}

void TestBurnWindow::deviceGoneMidTransfer()
{
    SimulatorProcess sim;
    QVERIFY(sim.start());
    const QString dir = makeTempDir();
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    QVERIFY(openReady(w, sim.path()));
    QVERIFY(load(w, writeLines(dir + "/three.txt", values(3072))));

    ModalCollector boxes;
    ui->pushButton_BurnRecord->click();
    QVERIFY(QTest::qWaitFor([&] { return ui->progressBar_BurnRecord->value() > 1100; }, 10000));
    sim.stop();
    QVERIFY(QTest::qWaitFor([&] { return ui->pushButton_SerialPort->isEnabled(); }, 10000));
    QTest::qWait(300);

    // One warning, no countdown, the window ready for another go.
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen.first().text, QStringLiteral("写入失败"));
    QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录失败"));
    QCOMPARE(ui->progressBar_BurnRecord->value(), 0);
    QVERIFY(ui->pushButton_FileDVK->isEnabled());
    QVERIFY(ui->pushButton_BurnRecord->isEnabled());
    QCOMPARE(MainWindowTestAccess(&w).solidifyInProgress(), 0);
    QVERIFY(mySerialInstance->isOpen());
    for (const QJsonObject &t : sim.events("transfer"))
        QVERIFY(!t["committed"].toBool());
    closeConfirmed(w);
}

void TestBurnWindow::closeDuringTransfer()
{
    const QString record = makeTempDir();
    SimulatorProcess sim;
    QVERIFY(sim.start({"--record", record}));
    const QString dir = makeTempDir();
    auto *w = new MainWindow;
    w->show();
    QVERIFY(openReady(*w, sim.path()));
    QVERIFY(load(*w, writeLines(dir + "/two.txt", values(2048))));
    w->form()->pushButton_BurnRecord->click();
    QVERIFY(
        QTest::qWaitFor([&] { return w->form()->progressBar_BurnRecord->value() > 10; }, 10000));

    ModalSeen seen;
    answerNextModal(&seen, QStringLiteral("确认"));
    QVERIFY(w->close());
    QCOMPARE(seen.text, QStringLiteral("正在烧录,是否退出?"));
    delete w;

    // Whatever went out, no commit command followed it.
    QTest::qWait(500);
    sim.stop();
    for (const QJsonObject &t : sim.events("transfer"))
        QVERIFY(!t["committed"].toBool());
}

QTEST_MAIN(TestBurnWindow)
#include "tst_burn_window.moc"
