// Faults of the files: a burn file that changes between its load and the
// burn (cut short, a bad value written into it, replaced by a directory) or
// while the burn streams it, and a pattern file that cannot be written (a
// directory nobody may create files in, the disk filling up in the middle of
// a run). Each case checks what the user is shown, what reached the
// projector or the disk, and that the window works afterwards.
#include "support/window/BurnWindow.h"

#include "patterns/PatternFile.h"

#include <QProcess>

using namespace burnwindow;

class TestFaultFiles : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { cancelModalAnswers(); }
    void burnFileChangedAfterLoad();
    void patternFileCannotBeWritten();
    void patternFileCannotBeWrittenFromTheCommandLine();
};

namespace
{

// Clicks a generator button; returns the one box its run showed.
ModalSeen press(QPushButton *button)
{
    ModalSeen seen;
    answerNextModal(&seen);
    button->click();
    return seen;
}

} // namespace

// The burn reads and checks the file again when it starts, and then streams
// what it checked: a file cut short, given a bad value or replaced after the
// load is refused with nothing sent; a file rewritten during the transfer
// does not change what goes out.
void TestFaultFiles::burnFileChangedAfterLoad()
{
    const QString dir = makeTempDir();
    const QString record = makeTempDir();
    SimulatorProcess sim;
    QVERIFY(sim.start({"--record", record}));
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    QVERIFY(openReady(w, sim.path()));
    const QString file = dir + "/burn.txt";

    auto expectRefusal = [&](const QString &text) {
        const ModalSeen seen = clickBurn(w);
        QCOMPARE(seen.text, text);
        QCOMPARE(seen.title, QStringLiteral("错误"));
        QCOMPARE(ui->label_Message->text(), QStringLiteral("烧录失败"));
        QVERIFY(ui->pushButton_SerialPort->isEnabled());
        QVERIFY(ui->pushButton_FileDVK->isEnabled());
        QVERIFY(ui->pushButton_BurnRecord->isEnabled());
        QVERIFY(mySerialInstance->isOpen());
    };

    // Cut below one whole pattern.
    writeLines(file, values(2048));
    QVERIFY(load(w, file));
    QCOMPARE(ui->label_Page->text(), QStringLiteral("/ 2 "));
    writeLines(file, values(700));
    expectRefusal(QStringLiteral("烧录文件有误"));

    // A value outside 0x00 ... 0xFF written into the middle.
    QStringList lines = values(2048);
    writeLines(file, lines);
    QVERIFY(load(w, file));
    lines[1500] = "-1";
    writeLines(file, lines);
    expectRefusal(QStringLiteral("请输入0x00~0xFF之间的数"));

    // Replaced by a directory of the same name.
    writeLines(file, values(2048));
    QVERIFY(load(w, file));
    QVERIFY(QFile::remove(file));
    QVERIFY(QDir().mkdir(file));
    expectRefusal(QStringLiteral("无法打开文件"));
    QVERIFY(QDir().rmdir(file));

    QTest::qWait(300);
    QVERIFY(sim.events("transfer").isEmpty());

    // Cut short but still whole patterns: the burn sends what the file holds
    // at the start, and rewriting the file during the transfer changes
    // nothing that goes out.
    const QStringList original = values(1030, 7);
    writeLines(file, values(3072));
    QVERIFY(load(w, file));
    writeLines(file, original);
    ui->pushButton_BurnRecord->click();
    QCOMPARE(ui->progressBar_BurnRecord->maximum(), 1030);
    QVERIFY(QTest::qWaitFor([&] { return ui->progressBar_BurnRecord->value() > 100; }, 10000));
    QStringList other;
    for (int i = 0; i < 3000; ++i)
        other.append("0x100");
    writeLines(file, other);
    QVERIFY(sim.waitForEvents("transfer", 1, 10000));
    const QJsonObject t = sim.events("transfer").first();
    QVERIFY(t["committed"].toBool());
    QVERIFY(t["errors"].toArray().isEmpty());
    QCOMPARE(t["values"].toInt(), 1030);
    QCOMPARE(recordedBytes(record), dataBytes(original));
    QVERIFY(QTest::qWaitFor([&] { return MainWindowTestAccess(&w).solidifyInProgress() == 1; }));
    QCOMPARE(closeConfirmed(w), QStringLiteral("正在烧录,是否退出?"));
}

// Generated patterns go to a directory where no file can be created: the
// failure is reported, nothing counts as generated, and generating works
// again once the user has picked a directory that can be written. (A disk
// that fills up in the middle of a run is tried on dvkctl below, in a process
// of its own: a file size limit would hit every file this test process
// writes, its own log included.)
void TestFaultFiles::patternFileCannotBeWritten()
{
    SimulatorProcess sim;
    QVERIFY(sim.start());
    MainWindow w;
    w.show();
    Ui::MainWindow *ui = w.form();
    MainWindowTestAccess access(&w);

    // /proc: no file can be created there, not even by the superuser.
    QVERIFY(openReady(w, sim.path(), "/proc"));
    QCOMPARE(access.patternDirectory(), QStringLiteral("/proc"));
    ModalSeen seen = press(ui->pushButton_Dark);
    QCOMPARE(seen.title, QStringLiteral("错误"));
    QCOMPARE(seen.text, QStringLiteral("无法打开文件!"));
    // Which file, and the system's reason, on the line below.
    QVERIFY2(seen.informativeText.startsWith(access.patternFilePath() + "：") &&
                 seen.informativeText.size() > access.patternFilePath().size() + 1,
             qPrintable(seen.informativeText));
    QCOMPARE(access.patternValueCount(), 0);
    QVERIFY(!QFile::exists(access.patternFilePath()));

    // The user opens the port again and picks a writable directory.
    ui->pushButton_SerialPort->click();
    const QString dir = makeTempDir();
    QVERIFY(openReady(w, sim.path(), dir));
    const QString file = access.patternFilePath();
    QVERIFY2(file.startsWith(dir + "/wave_"), qPrintable(file));
    seen = press(ui->pushButton_Light);
    QCOMPARE(seen.title, QStringLiteral("提示"));
    QCOMPARE(access.patternValueCount(), 1024);

    // Another run goes in whole.
    ui->lineEdit_NGrayCode->setText("2");
    seen = press(ui->pushButton_NGrayCode);
    QCOMPARE(seen.title, QStringLiteral("提示"));
    QCOMPARE(access.patternValueCount(), 3 * 1024);
    QCOMPARE(countFileLines(file), 3 * 1024);
    ui->pushButton_SerialPort->click();
}

// dvkctl generate -o: a directory where nothing can be created (bad usage,
// before anything is done), and a disk that fills up during the append (the
// process' file size limit, with the signal it raises ignored, as a full
// disk gives an error and no signal).
void TestFaultFiles::patternFileCannotBeWrittenFromTheCommandLine()
{
    QByteArray out, err;
    QCOMPARE(runDvkctl({"generate", "dark", "-o", "/proc/wave.txt"}, &out, &err), 2);
    QVERIFY2(err.contains("/proc/wave.txt"), err.constData());
    QVERIFY(!err.contains("appended"));

    const QString file = makeTempDir() + "/wave.txt";
    QCOMPARE(runDvkctl({"generate", "dark", "-o", file}, &out, &err), 0);
    const qint64 oneRun = QFileInfo(file).size();
    QProcess limited;
    limited.start("sh", {"-c", "trap '' XFSZ; exec prlimit --fsize=$0 \"$@\"",
                         QString::number(oneRun + oneRun / 2), DVKCTL_PATH, "generate", "light",
                         "-o", file});
    QVERIFY(limited.waitForFinished(20000));
    QCOMPARE(limited.exitStatus(), QProcess::NormalExit);
    QCOMPARE(limited.exitCode(), 1);
    QVERIFY(!limited.readAllStandardError().contains("appended"));
    QCOMPARE(QFileInfo(file).size(), oneRun);
    QCOMPARE(countFileLines(file), 1024);
}

QTEST_MAIN(TestFaultFiles)
#include "tst_fault_files.moc"
