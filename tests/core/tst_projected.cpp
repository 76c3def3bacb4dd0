// The projected-position preview: stripes laid out evenly on the scene come
// out evenly wide after resampling, though their sample counts differ, and
// dvkctl preview --projected draws them so.
#include "burnfile/ProjectedPreview.h"
#include "patterns/Generators.h"
#include "support/core/TestSupport.h"

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

    // Steps whose crossing lies so near a sample instant that the last bit
    // of the arcsine or arctangent decides the sample: the nearest float
    // gives these, a library's single-precision function gave the one before.
    void crossingsOnTheNearestFloat()
    {
        QCOMPARE(projectedSampleOrder(computeScanTiming(2775.0f))[219], 221);
        QCOMPARE(projectedSampleOrder(computeScanTiming(10057.0f))[120], 144);
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
};

QTEST_GUILESS_MAIN(TestProjected)
#include "tst_projected.moc"
