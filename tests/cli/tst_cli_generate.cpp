// dvkctl generate: appending under the 60-pattern limit, the scan value
// from the projector, the sampling warning on standard error, and refusal of
// input outside the ranges. (The same bytes as the window's buttons: the
// window's pattern tests.)
#include "burnfile/BurnFile.h"
#include "patterns/PatternFile.h"
#include "patterns/SamplingCoverage.h"
#include "support/core/ChildSetupProcess.h"
#include "support/core/Simulator.h"
#include "support/core/TestSupport.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

class TestCliGenerate : public QObject
{
    Q_OBJECT

private slots:
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

        // A target that cannot be made is bad usage, like one of the wrong kind.
        QCOMPARE(runDvkctl({"generate", "dark", "-o", makeTempDir() + "/no/such/dir.txt"}), 2);
        QCOMPARE(runDvkctl({"generate", "light", "-o", "/dev/full"}), 2); // not a regular file
    }

    // A run that fails leaves the target as it was: a file too large for any
    // reader untouched (at once, without counting its lines), and a file the
    // run made on a full disk gone again.
    void failedRunsLeaveTheTargetAsItWas()
    {
        const QString dir = makeTempDir();
        const QString huge = dir + "/huge.txt";
        {
            QFile f(huge);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(kMaxBurnFileBytes + 1));
        }
        QByteArray err;
        QCOMPARE(runDvkctl({"generate", "dark", "-o", huge}, nullptr, &err), 1);
        QVERIFY2(err.contains("15851520"), err.constData());
        QCOMPARE(QFileInfo(huge).size(), kMaxBurnFileBytes + 1);

        // A disk that fills after 4 KB: the file size limit, its signal ignored
        // so that the write fails as on a full disk.
        const auto generateOnFullDisk = [](const QString &target) {
            ChildSetupProcess p([]() {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit small{4096, 4096};
                setrlimit(RLIMIT_FSIZE, &small);
            });
            p.start(DVKCTL_PATH, {"generate", "phase", "--scan-value", "9000", "--steps", "8",
                                  "--stripes", "4", "-o", target});
            return p.waitForFinished(60000) ? p.exitCode() : -2;
        };
        const QString made = dir + "/new.txt";
        QCOMPARE(generateOnFullDisk(made), 1);
        QVERIFY(!QFileInfo::exists(made));
        const QString existing = dir + "/existing.txt";
        writeLines(existing, {"0x00"});
        QCOMPARE(generateOnFullDisk(existing), 1);
        QCOMPARE(readAll(existing), QByteArray("0x00\n"));
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
};

QTEST_GUILESS_MAIN(TestCliGenerate)
#include "tst_cli_generate.moc"
