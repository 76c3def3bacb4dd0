// The projected-position preview: stripes laid out evenly on the scene come
// out evenly wide after resampling, though their sample counts differ, and
// dvkctl preview --projected draws them so.
#include "burnfile/ProjectedPreview.h"
#include "patterns/Generators.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QtTest>

namespace
{

QVector<int> page(const PatternRun &run, int pattern)
{
    QVector<int> v;
    for (int i = 0; i < kSamplesPerPage; ++i)
        v.append(run.values[size_t(pattern * kSamplesPerPage + i)]);
    return v;
}

// Lengths of the runs of equal values.
QList<int> runLengths(const QVector<int> &values)
{
    QList<int> runs;
    for (int i = 0; i < values.size(); ++i) {
        if (i == 0 || values[i] != values[i - 1])
            runs << 0;
        ++runs.last();
    }
    return runs;
}

} // namespace

class TestProjected : public QObject
{
    Q_OBJECT

private slots:
    void sampleOrderCoversTheWindow()
    {
        for (float scan : {1000.0f, 4000.0f, 8000.0f, 10000.0f, 16275.0f, 16276.0f}) {
            const std::vector<int> order = projectedSampleOrder(computeScanTiming(scan));
            QCOMPARE(int(order.size()), kSamplesPerPage);
            // Symmetric about the centre; near the turning points the beam
            // dwells, and the first step's centre is reached samples late.
            QCOMPARE(order.front(), kSamplesPerPage - 1 - order.back());
            if (scan <= 10000.0f)
                QCOMPARE(order.front(), 0);
            QVERIFY(order.front() < 16);
            QVERIFY(std::is_sorted(order.begin(), order.end()));
            // The centre of the projected window is the centre of the sweep.
            QVERIFY(std::abs(order[512] - 512) <= 1);
        }
        // Fast at the centre, slow at the edges: a centre sample spans
        // several steps, an edge step several samples.
        const std::vector<int> order = projectedSampleOrder(computeScanTiming(16276.0f));
        QVERIFY(order[514] - order[510] <= 3);
        QVERIFY(order[2] - order[1] >= 3);
    }

    void evenStripesComeOutEven()
    {
        const ScanTiming t = computeScanTiming(10000.0f);
        const PatternRun gray = grayCodePatterns(t, 4);
        // The finest pattern: 16 stripes, in time wider at the edges than at
        // the centre (the outer runs are one stripe, the others two).
        const QList<int> raw = runLengths(page(gray, 3));
        QCOMPARE(raw.size(), 9);
        QVERIFY(2 * raw.first() - raw.at(4) > 20);
        const QList<int> projected = runLengths(projectedPage(page(gray, 3), t));
        QCOMPARE(projected.size(), 9);
        // Stripe pairs are 128 steps wide (the outer ones single, 64).
        QVERIFY(std::abs(projected.first() - 64) <= 1);
        QVERIFY(std::abs(projected.last() - 64) <= 1);
        for (int k = 1; k < 8; ++k)
            QVERIFY2(std::abs(projected.at(k) - 128) <= 2, qPrintable(QString::number(k)));

        // A square wave of one period at 8000: 269, 243, 242, 270 samples per
        // quarter in time, a quarter of the width each on the scene.
        const ScanTiming t8 = computeScanTiming(8000.0f);
        const QList<int> quarters =
            runLengths(projectedPage(page(squareWavePatterns(t8, 1), 1), t8));
        QCOMPARE(quarters.size(), 3);
        QVERIFY(std::abs(quarters.at(0) - 256) <= 1);
        QVERIFY(std::abs(quarters.at(1) - 512) <= 1);
        QVERIFY(std::abs(quarters.at(2) - 256) <= 1);
    }

    void shortPageGivesTheStepsItReaches()
    {
        const ScanTiming t = computeScanTiming(10000.0f);
        const QVector<int> all = page(grayCodePatterns(t, 1), 0);
        const QVector<int> half = all.mid(0, 512);
        const QVector<int> p = projectedPage(half, t);
        QVERIFY(p.size() >= 511 && p.size() <= 513);
        QVERIFY(std::all_of(p.begin(), p.end(), [](int v) { return v == 0; }));
        QVERIFY(projectedPage(QVector<int>(), t).isEmpty());
    }

    void dvkctlPreviewProjected()
    {
        const QString dir = makeTempDir();
        const QString file = dir + "/gray.txt";
        QCOMPARE(
            runDvkctl({"generate", "gray", "--scan-value", "10000", "--bits", "3", "-o", file}), 0);
        const QString plain = dir + "/plain.png";
        const QString projected = dir + "/projected.png";
        QCOMPARE(runDvkctl({"preview", file, "--page", "3", "--size", "1024x50", "-o", plain}), 0);
        QCOMPARE(runDvkctl({"preview", file, "--page", "3", "--size", "1024x50", "--projected",
                            "--scan-value", "10000", "-o", projected}),
                 0);

        // The picture row (lower half): widths of the red and black runs.
        auto widths = [](const QString &path) {
            const QImage image(path);
            QList<int> runs;
            QRgb previous = 0;
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, 75);
                if (x == 0 || c != previous)
                    runs << 0;
                ++runs.last();
                previous = c;
            }
            return runs;
        };
        const QList<int> plainRuns = widths(plain);
        const QList<int> projectedRuns = widths(projected);
        // Eight stripes of 1024 / 8 = 128 pixels: halves at the edges, four
        // whole ones between.
        QCOMPARE(projectedRuns.size(), 5);
        for (int k = 1; k < 4; ++k)
            QVERIFY2(std::abs(projectedRuns.at(k) - 256) <= 3, qPrintable(QString::number(k)));
        QCOMPARE(plainRuns.size(), 5);
        QVERIFY(plainRuns.first() - plainRuns.at(2) / 2 > 10);

        QByteArray err;
        QCOMPARE(runDvkctl({"preview", file, "--projected", "-o", projected}, nullptr, &err), 2);
        QVERIFY(err.contains("--scan-value"));
        QCOMPARE(
            runDvkctl({"preview", file, "--scan-value", "10000", "-o", projected}, nullptr, &err),
            2);
        QCOMPARE(
            runDvkctl({"preview", file, "--projected", "--scan-value", "16277", "-o", projected},
                      nullptr, &err),
            2);
    }
};

QTEST_MAIN(TestProjected)
#include "tst_projected.moc"
