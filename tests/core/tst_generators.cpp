// The generators' values against the figures they must reproduce, the
// pattern-file line forms, the limit check and the append writer.
#include "patterns/Generators.h"
#include "patterns/PatternFile.h"
#include "support/core/TestSupport.h"

#include <QCryptographicHash>
#include <QtTest>

#include <csignal>
#include <thread>
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace
{

// Value v of pattern p of a run.
int at(const PatternRun &run, int p, int i)
{
    return run.values[size_t(p) * kSamplesPerPage + size_t(i)];
}

// Indices after which pattern p changes value.
QVector<int> switches(const PatternRun &run, int p)
{
    QVector<int> after;
    for (int i = 1; i < kSamplesPerPage; ++i)
        if (at(run, p, i) != at(run, p, i - 1))
            after.append(i - 1);
    return after;
}

// A short digest of a run's values.
QByteArray digest(const PatternRun &run)
{
    const QByteArray bytes(reinterpret_cast<const char *>(run.values.data()),
                           int(run.values.size()));
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().left(16);
}

} // namespace

class TestGenerators : public QObject
{
    Q_OBJECT

private slots:
    void phaseShiftAt8000()
    {
        const PatternRun run = phaseShiftPatterns(computeScanTiming(8000.0f), 4, 2);
        QCOMPARE(run.patternCount, 4);
        QCOMPARE(run.form, LineForm::Computed);
        QCOMPARE(int(run.values.size()), 4 * 1024);
        // Sample 0: cosine phase -2 pi - phi for phi = 0, pi/2, pi, 3 pi/2.
        QCOMPARE(at(run, 0, 0), 0x0);
        QCOMPARE(at(run, 1, 0), 0x7f);
        QCOMPARE(at(run, 2, 0), 0xff);
        QCOMPARE(at(run, 3, 0), 0x7f);
        const int pattern1[] = {0x7f, 0x7e, 0x7c, 0x7b, 0x7a, 0x78};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(at(run, 1, i), pattern1[i]);
        QCOMPARE(at(run, 0, 256), 0xfd);
        QCOMPARE(at(run, 2, 512), 0xff);

        QCOMPARE(int(phaseShiftPatterns(computeScanTiming(8000.0f), 3, 1).values.size()), 3072);
        QCOMPARE(int(phaseShiftPatterns(computeScanTiming(8000.0f), 8, 128).values.size()), 8192);
    }

    void phaseShiftFirstSampleFollowsStripeParity()
    {
        for (float f : {8000.0f, 10000.0f}) {
            const ScanTiming t = computeScanTiming(f);
            for (int s = kMinStripes; s <= kMaxStripes; ++s)
                QCOMPARE(at(phaseShiftPatterns(t, 3, s), 0, 0), s % 2 ? 0xff : 0x0);
        }
    }

    // Every step of the model and of this generator has its own precision:
    // the phase of pattern k is accumulated in single precision one step of
    // 2 pi / N at a time (not taken as k 2 pi / N), the period's reciprocal
    // is single, the level is rounded to single before it is truncated, and
    // so on. Doing one step in the other precision leaves the values above
    // as they are but moves a value by one in a few percent of runs. These
    // runs are picked so that each such slip tried changes at least one of
    // their digests.
    void phaseShiftPrecision_data()
    {
        QTest::addColumn<float>("scan");
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("stripes");
        QTest::addColumn<QByteArray>("digest");
        QTest::newRow("8000 N3 S16") << 8000.0f << 3 << 16 << QByteArray("3948e4acabc5c459");
        QTest::newRow("8000 N4 S33") << 8000.0f << 4 << 33 << QByteArray("e2bb07d4db644f27");
        QTest::newRow("10000 N5 S21") << 10000.0f << 5 << 21 << QByteArray("9e6e92096ded35da");
        QTest::newRow("1941 N7 S50") << 1941.0f << 7 << 50 << QByteArray("737b00154796f1df");
        QTest::newRow("7761 N7 S106") << 7761.0f << 7 << 106 << QByteArray("28cf38eeb49a75f7");
        QTest::newRow("4851 N6 S22") << 4851.0f << 6 << 22 << QByteArray("f4bb0f69c7f176e1");
    }

    void phaseShiftPrecision()
    {
        QFETCH(float, scan);
        QFETCH(int, steps);
        QFETCH(int, stripes);
        QFETCH(QByteArray, digest);
        const PatternRun run = phaseShiftPatterns(computeScanTiming(scan), steps, stripes);
        QCOMPARE(int(run.values.size()), steps * kSamplesPerPage);
        QCOMPARE(::digest(run), digest);
    }

    // Values that the phase taken as k 2 pi / N in double would each move by one.
    void phaseShiftAccumulatedPhase()
    {
        QCOMPARE(at(phaseShiftPatterns(computeScanTiming(8000.0f), 3, 16), 2, 41), 0x1f);
        QCOMPARE(at(phaseShiftPatterns(computeScanTiming(8000.0f), 4, 33), 2, 219), 0xed);
        QCOMPARE(at(phaseShiftPatterns(computeScanTiming(10000.0f), 5, 21), 4, 513), 0x69);
    }

    // The level patterns hang on the model's boundary and sample times. A
    // slip in the precision of one of their steps (the arcsine or the
    // arctangent in double, the division by 2 pi in single, a sample
    // instant that keeps its fraction, the Gray ratio with the single
    // tangent, ...) moves a sample across a boundary in some runs only, and
    // in none that the checks at 8000 and 10000 look at. These runs are
    // picked so that each such slip tried changes at least one digest.
    void levelPrecision_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<float>("scan");
        QTest::addColumn<int>("count"); // Gray-code bits or square-wave stripes
        QTest::addColumn<QByteArray>("digest");
        QTest::newRow("square 3105 S105")
            << "square" << 3105.0f << 105 << QByteArray("e4cca8ac53f46513");
        QTest::newRow("square 11932 S46")
            << "square" << 11932.0f << 46 << QByteArray("41a08bc5adfe1a14");
        QTest::newRow("gray 8246 M10") << "gray" << 8246.0f << 10 << QByteArray("1a985bd32e43ef0d");
        QTest::newRow("gray 2304 M4") << "gray" << 2304.0f << 4 << QByteArray("189280b4657ffa77");
        QTest::newRow("gray 11447 M10")
            << "gray" << 11447.0f << 10 << QByteArray("2b8e4501159c70ff");
    }

    void levelPrecision()
    {
        QFETCH(QString, kind);
        QFETCH(float, scan);
        QFETCH(int, count);
        QFETCH(QByteArray, digest);
        const ScanTiming t = computeScanTiming(scan);
        const PatternRun run =
            kind == "gray" ? grayCodePatterns(t, count) : squareWavePatterns(t, count);
        QCOMPARE(int(run.values.size()), run.patternCount * kSamplesPerPage);
        QCOMPARE(::digest(run), digest);
    }

    void grayCodeSwitchesAt10000()
    {
        const ScanTiming t = computeScanTiming(10000.0f);
        const PatternRun one = grayCodePatterns(t, 1);
        QCOMPARE(switches(one, 0), QVector<int>{511});
        QCOMPARE(at(one, 0, 0), 0x00);
        QCOMPARE(at(one, 0, 1023), 0xFF);

        const PatternRun two = grayCodePatterns(t, 2);
        QVERIFY(std::equal(one.values.begin(), one.values.end(), two.values.begin()));
        QCOMPARE(switches(two, 1), (QVector<int>{278, 743}));
        QCOMPARE(at(two, 1, 0), 0x00);
        QCOMPARE(at(two, 1, 279), 0xFF);

        const PatternRun three = grayCodePatterns(t, 3);
        QCOMPARE(switches(three, 2), (QVector<int>{150, 396, 625, 871}));

        // With as many stripes as samples some stripes receive none (about
        // fifty near the centre) and some near the edges two.
        const std::vector<int> counts = grayCodeSegments(t, 10).samplesPerSegment();
        const int empty = int(std::count(counts.begin(), counts.end(), 0));
        QVERIFY2(empty >= 30 && empty <= 70, qPrintable(QString::number(empty)));
        QVERIFY(*std::max_element(counts.begin(), counts.end()) >= 2);
        QCOMPARE(std::accumulate(counts.begin(), counts.end(), 0), 1024);
    }

    void squareWaveSegmentsAt8000()
    {
        const ScanTiming t = computeScanTiming(8000.0f);
        QCOMPARE(squareWaveSegments(t, 1).samplesPerSegment(),
                 (std::vector<int>{269, 243, 242, 270}));
        QCOMPARE(squareWaveSegments(t, 2).samplesPerSegment(),
                 (std::vector<int>{141, 128, 123, 120, 119, 123, 128, 142}));

        const PatternRun run = squareWavePatterns(t, 1);
        QCOMPARE(run.patternCount, 4);
        QCOMPARE(switches(run, 0), QVector<int>{511});
        QCOMPARE(at(run, 0, 0), 0x00);
        QCOMPARE(switches(run, 1), (QVector<int>{268, 753}));
        QCOMPARE(at(run, 1, 0), 0x00);
        for (int i = 0; i < kSamplesPerPage; ++i) {
            QCOMPARE(at(run, 2, i), 255 - at(run, 0, i));
            QCOMPARE(at(run, 3, i), 255 - at(run, 1, i));
        }
    }

    // Where an outer boundary rounds to just inside the first or last sample
    // instant, the edge sample still belongs to its pattern.
    void levelPatternsAlwaysWhole()
    {
        const ScanTiming t10000 = computeScanTiming(10000.0f);
        const SegmentAssignment a = squareWaveSegments(t10000, 1);
        QVERIFY(a.clampedSamples > 0);
        const PatternRun run = squareWavePatterns(t10000, 1);
        QCOMPARE(int(run.values.size()), 4096);
        QCOMPARE(a.segmentOfSample[1023], 3);

        for (int f = kMinScanValue; f <= kMaxScanValue; f += 331) {
            for (float scan : {float(f), float(kMaxScanValue)}) {
                const ScanTiming t = computeScanTiming(scan);
                for (int s = kMinStripes; s <= kMaxStripes; s += 9)
                    QCOMPARE(int(squareWavePatterns(t, s).values.size()), 4096);
                for (int m = kMinGrayBits; m <= kMaxGrayBits; ++m)
                    QCOMPARE(int(grayCodePatterns(t, m).values.size()), m * 1024);
            }
        }
    }

    void lineForms()
    {
        QCOMPARE(computedLine(0), QByteArray("0x0"));
        QCOMPARE(computedLine(10), QByteArray("0xa"));
        QCOMPARE(computedLine(127), QByteArray("0x7f"));
        QCOMPARE(computedLine(255), QByteArray("0xff"));
        QCOMPARE(levelLine(0), QByteArray("0x00"));
        QCOMPARE(levelLine(255), QByteArray("0xFF"));

        PatternRun run;
        run.form = LineForm::Computed;
        run.values = {0, 10, 255};
        QCOMPARE(patternLines(run), QByteArray("0x0\n0xa\n0xff\n"));
        run.form = LineForm::Level;
        QCOMPARE(patternLines(run), QByteArray("0x00\n0x00\n0xFF\n"));
    }

    // The window tests cover the listed boundaries; here the whole-pattern
    // truncation.
    void limitCheck()
    {
        QVERIFY(!patternLimitExceeded(61439, 1));
        QVERIFY(patternLimitExceeded(61440, 1));
        QVERIFY(patternLimitExceeded(57 * 1024 + 1023, 4));
        QVERIFY(!patternLimitExceeded(0, 60));
    }

    void fileName()
    {
        const QDateTime when(QDate(2024, 3, 7), QTime(9, 5, 1));
        QCOMPARE(patternFilePathFor("/data/out", when),
                 QString("/data/out/wave_2024_03_07_09_05_01.txt"));
        // A root directory already ends in a slash; the path keeps both.
        QCOMPARE(patternFilePathFor("D:/", when), QString("D://wave_2024_03_07_09_05_01.txt"));
    }

    void writerAppends()
    {
        const QString path = makeTempDir() + "/wave.txt";
        writeLines(path, {"0x12"});
        PatternFileWriter w(path);
        QVERIFY(w.open());
        QVERIFY(w.append("0x0\n0xff\n"));
        QVERIFY(w.append("0x00\n"));
        QCOMPARE(w.linesAppended(), 3);
        w.close();
#ifdef _WIN32
        // Written in text mode: Windows' line ends.
        QCOMPARE(readAll(path), QByteArray("0x12\n0x0\r\n0xff\r\n0x00\r\n"));
#else
        QCOMPARE(readAll(path), QByteArray("0x12\n0x0\n0xff\n0x00\n"));
#endif
        QCOMPARE(countFileLines(path), 4);
    }

    // A run that made the file and failed removes it while others wait for
    // its lock; the next writer must not append to the removed file.
    void writerFollowsAFileRemovedWhileWaiting()
    {
        const QString path = makeTempDir() + "/wave.txt";
        PatternFileWriter first(path);
        QVERIFY(first.open());
        PatternFileWriter second(path);
        bool secondOpened = false;
        std::thread waiter([&]() { secondOpened = second.open(); });
        QThread::msleep(100); // the second is waiting for the lock
        QVERIFY(first.discardIfEmpty());
        waiter.join();
        QVERIFY(secondOpened);
        QVERIFY(second.append("0x01\n"));
        second.close();
        QCOMPARE(countFileLines(path), 1);

        // Something in it: not removed.
        PatternFileWriter third(path);
        QVERIFY(third.open());
        QVERIFY(!third.discardIfEmpty());
        QCOMPARE(countFileLines(path), 1);
    }

    void writerCannotOpen()
    {
        const QString dir = makeTempDir();
        for (const QString &path : {QString(), dir, dir + "/missing/wave.txt"}) {
            PatternFileWriter w(path);
            QVERIFY(!w.open());
            QCOMPARE(w.linesAppended(), 0);
        }
        QVERIFY(!QFile::exists(dir + "/missing"));
    }

    void writerReportsFailures()
    {
        // A device (here one that is always full) is refused before
        // anything is written.
#ifdef _WIN32
        PatternFileWriter full("NUL");
#else
        PatternFileWriter full("/dev/full");
#endif
        QVERIFY(!full.open());
        QVERIFY(full.notRegularFile());
        QVERIFY(!full.append(patternLines(fixedPattern(0))));
        QCOMPARE(full.linesAppended(), 0);
        QVERIFY(!full.errorString().isEmpty());
        full.close();

#ifndef _WIN32
        // A file size limit stops the run part way: the partial run is cut
        // off again, the earlier content is untouched.
        const QString path = makeTempDir() + "/limited.txt";
        writeLines(path, {"0x01", "0x02"});
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 2000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        PatternFileWriter w(path);
        const bool opened = w.open();
        const bool written = opened && w.append(patternLines(fixedPattern(255)));
        const int lines = w.linesAppended();
        w.close();
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(opened);
        QVERIFY(!written);
        QCOMPARE(lines, 0);
        QCOMPARE(readAll(path), QByteArray("0x01\n0x02\n"));
#endif
    }

    void countLines()
    {
        const QString dir = makeTempDir();
        QCOMPARE(countFileLines(dir + "/absent.txt"), 0);
        QFile f(dir + "/partial.txt");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("0x00\n0x01");
        f.close();
        QCOMPARE(countFileLines(f.fileName()), 2);
        QCOMPARE(countFileLines(dir), -1);
    }
};

QTEST_GUILESS_MAIN(TestGenerators)
#include "tst_generators.moc"
