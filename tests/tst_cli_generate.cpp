// dvkctl generate: the same bytes as the window's buttons, appending under
// the 60-pattern limit, and refusal of input outside the ranges.
#include "patterns/PatternFile.h"
#include "support/Simulator.h"
#include "support/TestSupport.h"
#include "ui_mainwindow.h"

#include <QtTest>

namespace
{

QByteArray readAll(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

class TestCliGenerate : public QObject
{
    Q_OBJECT

private slots:
    void sameBytesAsTheWindow()
    {
        MainWindow w;
        Ui::MainWindow *ui = w.form();
        MainWindowTestAccess a(&w);
        w.lockUi(false);

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
            const QString path = makeTempDir() + "/wave.txt";
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

    void appendsUnderTheLimit()
    {
        const QString file = makeTempDir() + "/wave.txt";
        QStringList page;
        for (int i = 0; i < 55 * 1024; ++i)
            page.append("0x00");
        writeLines(file, page);
        QByteArray err;
        // 55 + 6 patterns would pass 61440 lines: refused, nothing written.
        QCOMPARE(runDvkctl({"generate", "gray", "--scan-value", "9000", "--bits", "6", "-o", file},
                           nullptr, &err),
                 1);
        QVERIFY(err.contains("61440"));
        QCOMPARE(countFileLines(file), 55 * 1024);
        QCOMPARE(runDvkctl({"generate", "gray", "--scan-value", "9000", "--bits", "5", "-o", file}),
                 0);
        QCOMPARE(countFileLines(file), 60 * 1024);
        QCOMPARE(runDvkctl({"generate", "dark", "-o", file}), 1);

        QCOMPARE(runDvkctl({"generate", "dark", "-o", makeTempDir() + "/no/such/dir.txt"}), 1);
        QCOMPARE(runDvkctl({"generate", "light", "-o", "/dev/full"}), 2); // not a regular file
    }

    // --port asks the projector (here the simulator on a pseudo-terminal).
    void scanValueFromThePort()
    {
        QByteArray expected;
        QCOMPARE(
            runDvkctl({"generate", "square", "--scan-value", "9000", "--stripes", "5"}, &expected),
            0);
        {
            SimulatorProcess sim;
            QVERIFY(sim.start({"--scan-value", "9000"}));
            QByteArray out;
            QCOMPARE(
                runDvkctl({"generate", "square", "--port", sim.path(), "--stripes", "5"}, &out), 0);
            QCOMPARE(out, expected);
        }
        // An answer outside the model (16277), or none at all, fails the run.
        for (const QStringList &options :
             {QStringList{"--answer", "3F95"}, QStringList{"--silent"}}) {
            SimulatorProcess sim;
            QVERIFY(sim.start(options));
            QByteArray out, err;
            QCOMPARE(
                runDvkctl({"generate", "gray", "--port", sim.path(), "--bits", "2"}, &out, &err),
                1);
            QVERIFY(out.isEmpty());
            QVERIFY(!err.isEmpty());
        }
    }

    void refusesBadInput()
    {
        const QList<QStringList> bad = {
            {"phase", "--scan-value", "0", "--steps", "4", "--stripes", "2"},
            {"phase", "--scan-value", "16277", "--steps", "4", "--stripes", "2"},
            {"phase", "--scan-value", "8000", "--steps", "2", "--stripes", "2"},
            {"phase", "--scan-value", "8000", "--steps", "9", "--stripes", "2"},
            {"phase", "--scan-value", "8000", "--steps", "4", "--stripes", "129"},
            {"phase", "--scan-value", "8000", "--steps", "4"},
            {"phase", "--scan-value", "8000", "--steps", "4", "--stripes", "2", "--bits", "3"},
            {"gray", "--scan-value", "8000", "--bits", "0"},
            {"gray", "--scan-value", "8000", "--bits", "11"},
            {"gray", "--scan-value", "80x0", "--bits", "3"},
            {"gray", "--bits", "3"},
            {"square", "--scan-value", "8000", "--stripes", "0"},
            {"square", "--scan-value", "-5", "--stripes", "3"},
            {"square", "--scan-value", "8000", "--port", "ttyS0", "--stripes", "3"},
            {"circle", "--scan-value", "8000"},
            {},
            {"dark", "--frobnicate"},
        };
        for (const QStringList &args : bad) {
            QByteArray out, err;
            QCOMPARE(runDvkctl(QStringList{"generate"} + args, &out, &err), 2);
            QVERIFY(out.isEmpty());
            QVERIFY(!err.isEmpty());
        }
        QByteArray err;
        runDvkctl({"generate", "gray", "--scan-value", "16277", "--bits", "3"}, nullptr, &err);
        QVERIFY2(err.contains("16277"), err.constData());
    }
};

QTEST_MAIN(TestCliGenerate)
#include "tst_cli_generate.moc"
