// The five generator buttons and the pattern file's naming, driven through
// the window's fields with every box answered from a timer; the same bytes
// as dvkctl generate, and the sampling warning under the completion text.
#include "patterns/Generators.h"
#include "patterns/PatternFile.h"
#include "patterns/SamplingCoverage.h"
#include "support/window/WindowSupport.h"
#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

class TestPatternSlots : public QObject
{
    Q_OBJECT

    MainWindow *w = nullptr;
    Ui::MainWindow *ui = nullptr;
    QString path;

    // Clicks a button and returns the one box its run showed.
    ModalSeen press(QPushButton *button)
    {
        ModalSeen seen;
        answerNextModal(&seen);
        button->click();
        return seen;
    }

    bool isOneButton(const ModalSeen &s) { return s.buttons == QStringList{"确认"}; }
    bool isStandard(const ModalSeen &s)
    {
        return s.buttons.size() == 1 && s.buttons.first() != "确认" && s.defaultButton.isEmpty();
    }

private slots:
    void initTestCase()
    {
        w = new MainWindow;
        ui = w->form();
        w->lockUi(false);
    }

    void cleanupTestCase() { delete w; }
    void cleanup() { cancelModalAnswers(); }

    // Each test starts with a fresh file, a scan value of 8000 and no lines.
    void init()
    {
        path = makeTempDir() + "/wave_test.txt";
        MainWindowTestAccess a(w);
        a.patternFilePath() = path;
        a.patternValueCount() = 0;
        a.setScanRate(8000.0f);
        for (QLineEdit *e : {ui->lineEdit_NStepPhase, ui->lineEdit_StripeNum,
                             ui->lineEdit_NGrayCode, ui->lineEdit_NStripeWave})
            e->clear();
    }

    void fixedPatternsAppendAndCount()
    {
        MainWindowTestAccess a(w);
        ModalSeen s = press(ui->pushButton_Dark);
        QCOMPARE(s.title, QString("提示"));
        QCOMPARE(s.text, path + "文件已生成全暗图案");
        QVERIFY(isOneButton(s));
        s = press(ui->pushButton_Dark);
        QCOMPARE(a.patternValueCount(), 2048);
        s = press(ui->pushButton_Light);
        QCOMPARE(s.text, path + "文件已生成全亮图案");
        QCOMPARE(readAll(path),
                 QByteArray("0x00\n").repeated(2048) + QByteArray("0xFF\n").repeated(1024));
        QCOMPARE(a.patternValueCount(), 3072);
    }

    void limitCheckInWholePatterns()
    {
        MainWindowTestAccess a(w);
        a.patternValueCount() = 59 * 1024;
        ui->lineEdit_NStripeWave->setText("2");
        ModalSeen s = press(ui->pushButton_NStripeWave);
        QCOMPARE(s.title, QString("错误"));
        QCOMPARE(s.text, QString("烧录数据数量 > 61440"));
        QVERIFY(isOneButton(s));
        QVERIFY(!QFile::exists(path));

        s = press(ui->pushButton_Dark);
        QCOMPARE(s.title, QString("提示"));
        QCOMPARE(a.patternValueCount(), 61440);
        s = press(ui->pushButton_Light);
        QCOMPARE(s.text, QString("烧录数据数量 > 61440"));
        QCOMPARE(a.patternValueCount(), 61440);
        QCOMPARE(readAll(path).count('\n'), 1024);

        // An empty stripe field is reported even with the file full.
        ui->lineEdit_NStripeWave->clear();
        s = press(ui->pushButton_NStripeWave);
        QCOMPARE(s.text, QString("请输入条纹数!"));
    }

    void grayCodeChecksInOrder()
    {
        MainWindowTestAccess a(w);
        ModalSeen s = press(ui->pushButton_NGrayCode);
        QCOMPARE(s.text, QString("请输入格雷码数!"));
        QCOMPARE(s.title, QString("错误"));

        ui->lineEdit_NGrayCode->setText("0");
        s = press(ui->pushButton_NGrayCode);
        QCOMPARE(s.title, QString("提示"));
        QCOMPARE(s.text, QString("格雷码数范围：1~10"));
        QVERIFY(isOneButton(s));

        ui->lineEdit_NGrayCode->setText("999");
        s = press(ui->pushButton_NGrayCode);
        QCOMPARE(s.text, QString("烧录数据数量 > 61440"));

        a.patternValueCount() = 56320; // 55 pages
        ui->lineEdit_NGrayCode->setText("6");
        s = press(ui->pushButton_NGrayCode);
        QCOMPARE(s.text, QString("烧录数据数量 > 61440"));
        QVERIFY(!QFile::exists(path));

        ui->lineEdit_NGrayCode->setText("05");
        s = press(ui->pushButton_NGrayCode);
        QCOMPARE(s.text, path + "文件已生成05位格雷码");
        QCOMPARE(a.patternValueCount(), 56320 + 5 * 1024);
        QCOMPARE(readAll(path), patternLines(grayCodePatterns(computeScanTiming(8000.0f), 5)));
    }

    void squareWaveIsWholeAt10000()
    {
        MainWindowTestAccess a(w);
        a.setScanRate(10000.0f);
        ui->lineEdit_NStripeWave->setText("129");
        ModalSeen s = press(ui->pushButton_NStripeWave);
        QCOMPARE(s.title, QString("提示"));
        QCOMPARE(s.text, QString("条纹数范围：1~128"));

        ui->lineEdit_NStripeWave->setText("1");
        s = press(ui->pushButton_NStripeWave);
        QCOMPARE(s.text, path + "文件已生成1条方波");
        const QByteArray text = readAll(path);
        QCOMPARE(text.count('\n'), 4096);
        QCOMPARE(a.patternValueCount(), 4096);
        QCOMPARE(text, patternLines(squareWavePatterns(computeScanTiming(10000.0f), 1)));
    }

    void phaseShiftStandardBoxesAndCount()
    {
        MainWindowTestAccess a(w);
        ui->lineEdit_NStepPhase->setText("4");
        ModalSeen s = press(ui->pushButton_NStepPhase);
        QCOMPARE(s.title, QString("错误"));
        QCOMPARE(s.text, QString("请输入N值或条纹数!"));
        QVERIFY(isStandard(s));

        ui->lineEdit_NStepPhase->setText("2");
        ui->lineEdit_StripeNum->setText("999");
        s = press(ui->pushButton_NStepPhase);
        QCOMPARE(s.title, QString("提示"));
        QCOMPARE(s.text, QString("N值范围：3~8"));
        QVERIFY(isStandard(s));

        ui->lineEdit_NStepPhase->setText("4");
        s = press(ui->pushButton_NStepPhase);
        QCOMPARE(s.text, QString("条纹数范围：1~128"));

        // Phase-shift runs count and are refused at the limit like the rest.
        ui->lineEdit_StripeNum->setText("2");
        a.patternValueCount() = 57 * 1024;
        s = press(ui->pushButton_NStepPhase);
        QCOMPARE(s.title, QString("错误"));
        QCOMPARE(s.text, QString("烧录数据数量 > 61440"));
        QVERIFY(isStandard(s));
        QVERIFY(!QFile::exists(path));

        a.patternValueCount() = 56 * 1024;
        s = press(ui->pushButton_NStepPhase);
        QCOMPARE(s.title, QString("提示"));
        QCOMPARE(s.text, path + "文件已生成4步相移,2条纹");
        QVERIFY(isStandard(s));
        QCOMPARE(a.patternValueCount(), 60 * 1024);
        const QByteArray text = readAll(path);
        QCOMPARE(text, patternLines(phaseShiftPatterns(computeScanTiming(8000.0f), 4, 2)));
        QVERIFY(text.startsWith("0x0\n"));
    }

    void scanValueOutsideModelRefused()
    {
        MainWindowTestAccess a(w);
        ui->lineEdit_NStepPhase->setText("3");
        ui->lineEdit_StripeNum->setText("1");
        ui->lineEdit_NGrayCode->setText("3");
        ui->lineEdit_NStripeWave->setText("1");
        for (float f : {0.0f, 16277.0f, 65535.0f}) {
            a.setScanRate(f);
            for (QPushButton *b : {ui->pushButton_NStepPhase, ui->pushButton_NGrayCode,
                                   ui->pushButton_NStripeWave}) {
                const ModalSeen s = press(b);
                QCOMPARE(s.title, QString("错误"));
                // The phase-shift generator's boxes all take the standard Ok form.
                QVERIFY(b == ui->pushButton_NStepPhase ? isStandard(s) : isOneButton(s));
                QVERIFY2(s.text.contains("设备扫描值无效") && s.text.contains(QString::number(f)),
                         qPrintable(s.text));
            }
        }
        QVERIFY(!QFile::exists(path));
        QCOMPARE(a.patternValueCount(), 0);
        // The fixed patterns do not use the model.
        a.setScanRate(0.0f);
        const ModalSeen s = press(ui->pushButton_Dark);
        QCOMPARE(s.text, path + "文件已生成全暗图案");
    }

    void fileFailures()
    {
        MainWindowTestAccess a(w);
        a.patternFilePath() = QString();
        ModalSeen s = press(ui->pushButton_Light);
        QCOMPARE(s.title, QString("错误"));
        QCOMPARE(s.text, QString("无法打开文件!"));
        QCOMPARE(a.patternValueCount(), 0);

        // A device is no pattern file: refused before anything is written.
        a.patternFilePath() = "/dev/full";
        s = press(ui->pushButton_Light);
        QCOMPARE(s.text, QString("无法打开文件!"));
        QCOMPARE(a.patternValueCount(), 0);

        // A failed write (the disk full: here a file size limit just above
        // what the file holds) is reported and never as generated. The file
        // is large so that the limit leaves this process' own output alone.
        a.patternFilePath() = path;
        QFile big(path);
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.write(QByteArray(4 << 20, '\n')) == (4 << 20));
        big.close();
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = (4 << 20) + 1000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        ui->lineEdit_NGrayCode->setText("2");
        s = press(ui->pushButton_NGrayCode);
        const ModalSeen gray = s;
        ui->lineEdit_NStepPhase->setText("3");
        ui->lineEdit_StripeNum->setText("1");
        const ModalSeen phase = press(ui->pushButton_NStepPhase);
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(gray.title, QString("错误"));
        QCOMPARE(gray.text, QString("无法写入文件!"));
        QVERIFY(isOneButton(gray));
        // In Chinese: the run is not in the file, which is as it was, and why.
        QCOMPARE(gray.informativeText, path + QString("\n本次生成的数据没有写入，文件保持原样。\n"
                                                      "原因：文件超过系统允许的大小"));
        QCOMPARE(phase.text, QString("无法写入文件!"));
        QVERIFY(isStandard(phase));
        QCOMPARE(a.patternValueCount(), 0);
        QCOMPARE(QFileInfo(path).size(), qint64(4 << 20));

        // A run that made its file and could not fill it (a disk full from
        // the first byte on) leaves no empty file behind.
        const QString fresh = makeTempDir() + "/new.txt";
        a.patternFilePath() = fresh;
        small.rlim_cur = 100;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const ModalSeen dark = press(ui->pushButton_Dark);
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(dark.text, QString("无法写入文件!"));
        QVERIFY(dark.informativeText.contains("本次生成的数据没有写入，文件保持原样。"));
        QVERIFY(!QFileInfo::exists(fresh));
        QCOMPARE(a.patternValueCount(), 0);
    }

    void choosePatternFileNames()
    {
        MainWindowTestAccess a(w);
        // Cancelled: the executable's directory, patternDirectory empty.
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        ModalSeen seen;
        answerNextModal(&seen);
        a.choosePatternFile();
        const QDateTime after = QDateTime::currentDateTime().addSecs(1);
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, QString("请选择烧录文件保存路径"));
        QVERIFY(a.patternDirectory().isEmpty());
        const QString prefix = QCoreApplication::applicationDirPath() + "/wave_";
        QVERIFY2(a.patternFilePath().startsWith(prefix), qPrintable(a.patternFilePath()));
        const QDateTime stamp = QDateTime::fromString(a.patternFilePath().mid(prefix.size()),
                                                      "yyyy_MM_dd_hh_mm_ss'.txt'");
        QVERIFY(stamp.isValid());
        QVERIFY(stamp >= before && stamp <= after);
        QVERIFY(!QFile::exists(a.patternFilePath()));

        // A chosen directory is used as returned.
        const QString dir = makeTempDir();
        answerNextModal(nullptr, QString(), 10000, [&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            // Typed as the user would: the absolute path in the name field.
            auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
            QVERIFY(name);
            name->setText(dir);
            // Through QDialog: QFileDialog's override is protected.
            static_cast<QDialog *>(dialog)->accept();
            // Should the dialog not take it, fail instead of hanging.
            QPointer<QFileDialog> still(dialog);
            QTimer::singleShot(3000, [still] {
                if (still)
                    still->reject();
            });
        });
        a.choosePatternFile();
        QCOMPARE(a.patternDirectory(), dir);
        QVERIFY(a.patternFilePath().startsWith(dir + "/wave_"));
        QVERIFY(a.patternFilePath().endsWith(".txt"));
    }

    // The sampling warning of the level generators, under the unchanged
    // completion text.
    void windowShowsTheWarningUnderTheCompletionText()
    {
        MainWindowTestAccess a(w);
        a.setScanRate(10000.0f);

        struct Case {
            QPushButton *button;
            QLineEdit *field;
            QString value;
            QString completion;
            QString warning; // empty: none
        };
        const QList<Case> cases = {
            {ui->pushButton_NGrayCode, ui->lineEdit_NGrayCode, "10", "文件已生成10位格雷码",
             "条条纹中有"},
            {ui->pushButton_NGrayCode, ui->lineEdit_NGrayCode, "4", "文件已生成4位格雷码", ""},
            {ui->pushButton_NStripeWave, ui->lineEdit_NStripeWave, "128", "文件已生成128条方波",
             "个四分之一周期段中有"},
            {ui->pushButton_NStripeWave, ui->lineEdit_NStripeWave, "2", "文件已生成2条方波", ""},
        };
        for (const Case &c : cases) {
            a.patternValueCount() = 0;
            c.field->setText(c.value);
            ModalSeen seen;
            answerNextModal(&seen);
            c.button->click();
            QVERIFY(seen.seen);
            QCOMPARE(seen.title, QString("提示"));
            QCOMPARE(seen.text, a.patternFilePath() + c.completion);
            QCOMPARE(seen.buttons, QStringList{"确认"});
            if (c.warning.isEmpty()) {
                QVERIFY2(seen.informativeText.isEmpty(), qPrintable(seen.informativeText));
            } else {
                QVERIFY2(seen.informativeText.startsWith("警告："),
                         qPrintable(seen.informativeText));
                QVERIFY2(seen.informativeText.contains(c.warning),
                         qPrintable(seen.informativeText));
            }
        }
        const SamplingCoverage gray = grayCodeCoverage(computeScanTiming(10000.0f), 10);
        a.patternValueCount() = 0;
        ui->lineEdit_NGrayCode->setText("10");
        ModalSeen seen;
        answerNextModal(&seen);
        ui->pushButton_NGrayCode->click();
        QVERIFY(seen.informativeText.contains(
            QString("1024 条条纹中有 %1 条少于两个采样点").arg(gray.underSampled())));
        QVERIFY(seen.informativeText.contains(QString("其中 %1 条没有采样点").arg(gray.empty)));
    }

    // dvkctl generate writes the same bytes as the buttons.
    void sameBytesAsDvkctl()
    {
        MainWindowTestAccess a(w);

        struct Case {
            float scan;
            QPushButton *button;
            QLineEdit *field1;
            QString value1;
            QLineEdit *field2;
            QString value2;
            QStringList args;
        };
        const QList<Case> cases = {
            {8000,
             ui->pushButton_NStepPhase,
             ui->lineEdit_NStepPhase,
             "4",
             ui->lineEdit_StripeNum,
             "2",
             {"phase", "--scan-value", "8000", "--steps", "4", "--stripes", "2"}},
            {12345,
             ui->pushButton_NStepPhase,
             ui->lineEdit_NStepPhase,
             "7",
             ui->lineEdit_StripeNum,
             "101",
             {"phase", "--scan-value", "12345", "--steps", "7", "--stripes", "101"}},
            {10000,
             ui->pushButton_NGrayCode,
             ui->lineEdit_NGrayCode,
             "10",
             nullptr,
             QString(),
             {"gray", "--scan-value", "10000", "--bits", "10"}},
            {16276,
             ui->pushButton_NStripeWave,
             ui->lineEdit_NStripeWave,
             "101",
             nullptr,
             QString(),
             {"square", "--scan-value", "16276", "--stripes", "101"}},
            {10000,
             ui->pushButton_NStripeWave,
             ui->lineEdit_NStripeWave,
             "1",
             nullptr,
             QString(),
             {"square", "--scan-value", "10000", "--stripes", "1"}},
            {0, ui->pushButton_Dark, nullptr, QString(), nullptr, QString(), {"dark"}},
            {0, ui->pushButton_Light, nullptr, QString(), nullptr, QString(), {"light"}},
        };
        for (const Case &c : cases) {
            path = makeTempDir() + "/wave.txt";
            a.patternFilePath() = path;
            a.patternValueCount() = 0;
            a.setScanRate(c.scan);
            if (c.field1)
                c.field1->setText(c.value1);
            if (c.field2)
                c.field2->setText(c.value2);
            ModalSeen seen;
            answerNextModal(&seen);
            c.button->click();
            QCOMPARE(seen.title, QString("提示"));

            QByteArray out, err;
            QCOMPARE(runDvkctl(QStringList{"generate"} + c.args, &out, &err), 0);
            QCOMPARE(out, readAll(path));
            QVERIFY(out.endsWith('\n'));

            const QString file = makeTempDir() + "/cli.txt";
            QCOMPARE(runDvkctl(QStringList{"generate"} + c.args + QStringList{"-o", file}), 0);
            QCOMPARE(readAll(file), out);
        }
    }
};

QTEST_MAIN(TestPatternSlots)
#include "tst_patternslots.moc"
