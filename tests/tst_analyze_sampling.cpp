// The sampling warning of the level generators: stripes that get no sample
// or only one, counted from the model, and said by dvkctl generate on
// standard error and by the window under its unchanged completion text.
#include "patterns/SamplingCoverage.h"
#include "support/TestSupport.h"
#include "ui_mainwindow.h"

#include <QtTest>

class TestAnalyzeSampling : public QObject
{
    Q_OBJECT

private slots:
    void coverageFromTheModel()
    {
        const ScanTiming t = computeScanTiming(10000.0f);
        for (int m = 1; m <= 8; ++m) {
            const SamplingCoverage c = grayCodeCoverage(t, m);
            QCOMPARE(c.stripes, 1 << m);
            QCOMPARE(c.underSampled(), 0);
        }
        // Nine bits: every stripe has a sample, some only one.
        SamplingCoverage c = grayCodeCoverage(t, 9);
        QCOMPARE(c.empty, 0);
        QVERIFY(c.single > 0);
        // Ten bits: as many stripes as samples; about fifty near the centre
        // hold none.
        c = grayCodeCoverage(t, 10);
        QVERIFY(c.empty >= 40 && c.empty <= 60);
        QVERIFY(c.single > c.empty);

        c = squareWaveCoverage(t, 100);
        QCOMPARE(c.stripes, 400);
        QCOMPARE(c.underSampled(), 0);
        c = squareWaveCoverage(t, 128);
        QCOMPARE(c.stripes, 512);
        QCOMPARE(c.empty, 0);
        QVERIFY(c.single > 0);
        // The faster the mirror, the faster the beam at the centre.
        QVERIFY(squareWaveCoverage(computeScanTiming(16276.0f), 128).single > c.single);
    }

    void dvkctlWarns()
    {
        const QString file = makeTempDir() + "/wave.txt";
        struct Case {
            QStringList args;
            bool warns;
        };
        const QList<Case> cases = {{{"gray", "--bits", "10"}, true},
                                   {{"gray", "--bits", "9"}, true},
                                   {{"gray", "--bits", "8"}, false},
                                   {{"square", "--stripes", "128"}, true},
                                   {{"square", "--stripes", "100"}, false}};
        for (const Case &c : cases) {
            const QStringList args =
                QStringList{"generate"} + c.args + QStringList{"--scan-value", "10000"};
            QByteArray out, err;
            QCOMPARE(runDvkctl(args, &out, &err), 0);
            QCOMPARE(err.contains("warning"), c.warns);
            QVERIFY(!out.contains("warning"));
            // Appending to a file warns the same way.
            QCOMPARE(runDvkctl(args + QStringList{"-o", file}, nullptr, &err), 0);
            QCOMPARE(err.contains("warning"), c.warns);
        }
        QByteArray err;
        runDvkctl({"generate", "gray", "--bits", "10", "--scan-value", "10000"}, nullptr, &err);
        const SamplingCoverage c = grayCodeCoverage(computeScanTiming(10000.0f), 10);
        QVERIFY2(err.contains(QString("%1 of 1024 stripes").arg(c.underSampled()).toUtf8()),
                 err.constData());
        QVERIFY2(err.contains(QString("%1 of them none").arg(c.empty).toUtf8()), err.constData());
        runDvkctl({"generate", "square", "--stripes", "128", "--scan-value", "10000"}, nullptr,
                  &err);
        QVERIFY2(err.contains("of 512 quarter-period segments"), err.constData());
    }

    void windowShowsTheWarningUnderTheCompletionText()
    {
        MainWindow w;
        Ui::MainWindow *ui = w.form();
        MainWindowTestAccess a(&w);
        w.lockUi(false);
        a.setScanRate(10000.0f);
        a.patternFilePath() = makeTempDir() + "/wave.txt";

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

    void cleanup() { cancelModalAnswers(); }
};

QTEST_MAIN(TestAnalyzeSampling)
#include "tst_analyze_sampling.moc"
